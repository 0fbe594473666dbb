// The host's core library as a module sees it: source registration, the module's configuration
// folder, file helpers, logging, the clock and the graphics calls.
#pragma once

#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#if defined(_WIN32)
#define ZEB_API __declspec(dllimport)
#elif defined(ZEB_BUILDING_HOST)
#define ZEB_API __attribute__((visibility("default")))
#else
#define ZEB_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The host API version this header describes (major 29, minor 1, patch 1).
#define ZEB_API_VERSION 0x1D010001u

typedef struct zeb_module zeb_module_t;
typedef struct zeb_data zeb_data_t;
typedef struct zeb_source zeb_source_t;

// ---- logging ----
enum {
    LOG_ERROR = 100,
    LOG_WARNING = 200,
    LOG_INFO = 300,
    LOG_DEBUG = 400,
};
ZEB_API void blog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
ZEB_API void blogva(int level, const char* format, va_list args);

// ---- memory ----
ZEB_API void* bmalloc(size_t size);
ZEB_API void bfree(void* ptr);

// ---- clock ----
ZEB_API uint64_t os_gettime_ns(void);
// Sleeps until os_gettime_ns() reaches the target; false when the target had already passed.
ZEB_API bool os_sleepto_ns(uint64_t time_target);

// ---- files ----
ZEB_API int os_mkdirs(const char* path);
enum { MKDIR_EXISTS = 1, MKDIR_SUCCESS = 0, MKDIR_ERROR = -1 };
ZEB_API FILE* os_fopen(const char* path, const char* mode);
ZEB_API int64_t os_fgetsize(FILE* file);

struct serializer {
    void* data;
    size_t (*read)(void* data, void* buf, size_t size);
    size_t (*write)(void* data, const void* buf, size_t size);
    int64_t (*seek)(void* data, int64_t offset, int origin);
    int64_t (*get_pos)(void* data);
};
// Writes go to "<path>.<temp_ext>"; freeing the serializer puts that file in place of path.
ZEB_API bool file_output_serializer_init_safe(struct serializer* s, const char* path,
                                              const char* temp_ext);
ZEB_API void file_output_serializer_free(struct serializer* s);

// ---- modules and sources ----
// A new path (free with bfree) in the module's configuration folder; file may be null for the
// folder itself.
ZEB_API char* zeb_module_get_config_path(zeb_module_t* module, const char* file);

enum zeb_source_type {
    ZEB_SOURCE_TYPE_INPUT = 0,
    ZEB_SOURCE_TYPE_FILTER = 1,
    ZEB_SOURCE_TYPE_TRANSITION = 2,
    ZEB_SOURCE_TYPE_SCENE = 3,
};
#define ZEB_SOURCE_VIDEO (1u << 0)
#define ZEB_SOURCE_AUDIO (1u << 1)
#define ZEB_SOURCE_ASYNC (1u << 2)
#define ZEB_SOURCE_CUSTOM_DRAW (1u << 3)

typedef struct gs_effect gs_effect_t;
typedef struct gs_effect_param gs_eparam_t;
typedef struct gs_effect_technique gs_technique_t;
typedef struct gs_texture gs_texture_t;

// The source registration record. Its size is part of the host's ABI: 400 bytes on 64-bit.
struct zeb_source_info {
    const char* id;
    enum zeb_source_type type;
    uint32_t output_flags;
    const char* (*get_name)(void* type_data);
    void* (*create)(zeb_data_t* settings, zeb_source_t* source);
    void (*destroy)(void* data);
    uint32_t (*get_width)(void* data);
    uint32_t (*get_height)(void* data);
    void (*activate)(void* data);
    void (*deactivate)(void* data);
    void (*show)(void* data);
    void (*hide)(void* data);
    void (*video_tick)(void* data, float seconds);
    void (*video_render)(void* data, gs_effect_t* effect);

    // Left zero by a source that has no settings, audio, interaction or media controls.
    void (*get_defaults)(zeb_data_t* settings);
    void* (*get_properties)(void* data);
    void (*update)(void* data, zeb_data_t* settings);
    void* (*filter_video)(void* data, void* frame);
    void* (*filter_audio)(void* data, void* audio);
    bool (*audio_render)(void* data, uint64_t* ts_out, void* audio_output, uint32_t mixers,
                         size_t channels, size_t sample_rate);
    void (*mouse_click)(void* data, const void* event, int32_t type, bool mouse_up,
                        uint32_t click_count);
    void (*mouse_move)(void* data, const void* event, bool mouse_leave);
    void (*mouse_wheel)(void* data, const void* event, int x_delta, int y_delta);
    void (*focus)(void* data, bool focus);
    void (*key_click)(void* data, const void* event, bool key_up);
    void (*media_play_pause)(void* data, bool pause);
    void (*media_restart)(void* data);
    void (*media_stop)(void* data);
    void (*media_next)(void* data);
    void (*media_previous)(void* data);
    int64_t (*media_get_duration)(void* data);
    int64_t (*media_get_time)(void* data);
    void (*media_set_time)(void* data, int64_t milliseconds);
    int (*media_get_state)(void* data);
    int (*video_get_color_space)(void* data, size_t count, const int* preferred_spaces);
    void* type_data;
    void (*free_type_data)(void* type_data);
    uint32_t version;
    uint32_t reserved_flags;
    void* reserved[13];
};
#if defined(__cplusplus) && UINTPTR_MAX == UINT64_MAX
static_assert(sizeof(struct zeb_source_info) == 400, "the registration record is 400 bytes");
#endif

// Refuses (logs and ignores) a record whose size is not the host's.
ZEB_API void zeb_register_source_s(const struct zeb_source_info* info, size_t size);

// ---- graphics ----
enum gs_color_format {
    GS_UNKNOWN = 0,
    GS_A8 = 1,
    GS_R8 = 2,
    GS_RGBA = 3,
    GS_BGRX = 4,
    GS_BGRA = 5,
};
#define GS_BUILD_MIPMAPS (1u << 0)
#define GS_DYNAMIC (1u << 1)
#define GS_RENDER_TARGET (1u << 2)
#define GS_FLIP_U (1u << 0)
#define GS_FLIP_V (1u << 1)

enum zeb_base_effect {
    ZEB_EFFECT_DEFAULT = 0,
    ZEB_EFFECT_DEFAULT_RECT = 1,
    ZEB_EFFECT_OPAQUE = 2,
    ZEB_EFFECT_SOLID = 3,
};

struct vec4 {
    float x, y, z, w;
};

// Between enter and leave the calling thread owns the graphics context (the host's render
// thread holds it while it renders).
ZEB_API void zeb_enter_graphics(void);
ZEB_API void zeb_leave_graphics(void);
ZEB_API gs_effect_t* zeb_get_base_effect(enum zeb_base_effect effect);

ZEB_API gs_texture_t* gs_texture_create(uint32_t width, uint32_t height,
                                        enum gs_color_format color_format, uint32_t levels,
                                        const uint8_t** data, uint32_t flags);
ZEB_API void gs_texture_destroy(gs_texture_t* tex);
ZEB_API uint32_t gs_texture_get_width(const gs_texture_t* tex);
ZEB_API uint32_t gs_texture_get_height(const gs_texture_t* tex);
ZEB_API void gs_texture_set_image(gs_texture_t* tex, const uint8_t* data, uint32_t linesize,
                                  bool invert);

typedef struct gs_image_file {
    gs_texture_t* texture;
    enum gs_color_format format;
    uint32_t cx;
    uint32_t cy;
    bool loaded;
    uint8_t* texture_data;
} gs_image_file_t;
// Decodes the file (PNG) into texture_data; loaded tells whether that worked.
ZEB_API void gs_image_file_init(gs_image_file_t* image, const char* file);
// Makes the texture from the decoded pixels (inside the graphics context).
ZEB_API void gs_image_file_init_texture(gs_image_file_t* image);
// Releases the pixels and the texture (inside the graphics context).
ZEB_API void gs_image_file_free(gs_image_file_t* image);

ZEB_API gs_eparam_t* gs_effect_get_param_by_name(const gs_effect_t* effect, const char* name);
ZEB_API void gs_effect_set_texture(gs_eparam_t* param, gs_texture_t* val);
ZEB_API void gs_effect_set_vec4(gs_eparam_t* param, const struct vec4* val);
ZEB_API gs_technique_t* gs_effect_get_technique(const gs_effect_t* effect, const char* name);
ZEB_API size_t gs_technique_begin(gs_technique_t* technique);
ZEB_API bool gs_technique_begin_pass(gs_technique_t* technique, size_t pass);
ZEB_API void gs_technique_end_pass(gs_technique_t* technique);
ZEB_API void gs_technique_end(gs_technique_t* technique);
// Runs the named technique's passes: true while a pass is begun, false once all have run.
ZEB_API bool gs_effect_loop(gs_effect_t* effect, const char* name);

// Draws tex (or, with none, a rectangle of the given size) at the current matrix with the
// effect whose pass is begun; 0 x 0 means the texture's own size.
ZEB_API void gs_draw_sprite(gs_texture_t* tex, uint32_t flip, uint32_t width, uint32_t height);

ZEB_API void gs_matrix_push(void);
ZEB_API void gs_matrix_pop(void);
ZEB_API void gs_matrix_identity(void);
ZEB_API void gs_matrix_translate3f(float x, float y, float z);

#ifdef __cplusplus
}
#endif
