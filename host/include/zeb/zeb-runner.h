// The stand-in host's own side: what zebhost and the tests use to load modules, render sources
// into software canvases and look at the result. A module never includes this.
#pragma once

#include "zeb/zeb.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zeb_canvas zeb_canvas_t;

// Module handles. The runner passes one to zeb_module_set_pointer; the configuration folder of
// a module is "<config root>/<name>/".
ZEB_API zeb_module_t* zeb_runner_module_create(const char* name);
ZEB_API void zeb_runner_module_destroy(zeb_module_t* module);
// Default: $XDG_CONFIG_HOME/zebhost, else ~/.config/zebhost.
ZEB_API void zeb_runner_set_config_root(const char* dir);

// Registered source types (records copied at registration), by identifier; null when unknown.
ZEB_API const struct zeb_source_info* zeb_runner_find_source(const char* id);
ZEB_API size_t zeb_runner_source_count(void);
ZEB_API void zeb_runner_clear_sources(void);

// Log lines: by default each blog call is one line "[LEVEL] MESSAGE" on stderr (one trailing
// line feed of MESSAGE dropped). A handler replaces that and receives MESSAGE exactly as
// formatted, trailing line feed included; null restores stderr.
typedef void (*zeb_log_handler_t)(int level, const char* message, void* param);
ZEB_API void zeb_runner_set_log_handler(zeb_log_handler_t handler, void* param);

// Software canvases, 8-bit RGBA, rows packed. Rendering into one: begin (takes the graphics
// lock and binds the canvas for the calling thread), the source's video_render, end.
struct zeb_canvas_stats {
    uint64_t renders;       // begin/end pairs
    uint64_t uploads;       // gs_texture_set_image calls while this canvas was bound
    uint64_t solid_fills;   // draws with the solid effect
    uint64_t logo_draws;    // draws of a texture made by gs_image_file_init_texture
    uint64_t texture_draws; // draws of any other texture
};
ZEB_API zeb_canvas_t* zeb_canvas_create(uint32_t width, uint32_t height);
ZEB_API void zeb_canvas_destroy(zeb_canvas_t* canvas);
ZEB_API void zeb_canvas_begin(zeb_canvas_t* canvas, uint32_t clear_rgba);
ZEB_API void zeb_canvas_end(zeb_canvas_t* canvas);
ZEB_API const uint8_t* zeb_canvas_pixels(const zeb_canvas_t* canvas);
// Packed 0xAABBGGRR (R in the lowest byte, as the bytes lie in memory).
ZEB_API uint32_t zeb_canvas_pixel(const zeb_canvas_t* canvas, uint32_t x, uint32_t y);
ZEB_API uint32_t zeb_canvas_width(const zeb_canvas_t* canvas);
ZEB_API uint32_t zeb_canvas_height(const zeb_canvas_t* canvas);
ZEB_API struct zeb_canvas_stats zeb_canvas_get_stats(const zeb_canvas_t* canvas);
ZEB_API bool zeb_canvas_write_png(const zeb_canvas_t* canvas, const char* path);

// Texture bookkeeping for leak checks: textures currently alive.
ZEB_API size_t zeb_runner_live_textures(void);

#ifdef __cplusplus
}
#endif
