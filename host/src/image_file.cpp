#include <cstring>
#include <string>
#include <sys/stat.h>

#include "png_codec.h"
#include "texture.h"

extern "C" {

ZEB_API void gs_image_file_init(gs_image_file_t* image, const char* file) {
    if (!image) {
        return;
    }
    memset(image, 0, sizeof(*image));
    if (!file || !*file) {
        return;
    }
    // A missing file is an ordinary case (nothing installed yet) and stays quiet.
    struct stat st {};
    if (stat(file, &st) != 0) {
        return;
    }
    zebhost::RgbaImage decoded;
    std::string error;
    if (!zebhost::readPng(file, decoded, error)) {
        blog(LOG_WARNING, "gs_image_file_init: cannot load '%s': %s", file, error.c_str());
        return;
    }
    image->texture_data = static_cast<uint8_t*>(bmalloc(decoded.pixels.size()));
    memcpy(image->texture_data, decoded.pixels.data(), decoded.pixels.size());
    image->format = GS_RGBA;
    image->cx = decoded.width;
    image->cy = decoded.height;
    image->loaded = true;
}

ZEB_API void gs_image_file_init_texture(gs_image_file_t* image) {
    if (!image || !image->loaded || image->texture) {
        return;
    }
    const uint8_t* levels[1] = {image->texture_data};
    image->texture = gs_texture_create(image->cx, image->cy, GS_RGBA, 1, levels, 0);
    if (image->texture) {
        image->texture->fromImageFile = true;
    }
}

ZEB_API void gs_image_file_free(gs_image_file_t* image) {
    if (!image) {
        return;
    }
    gs_texture_destroy(image->texture);
    bfree(image->texture_data);
    memset(image, 0, sizeof(*image));
}

} // extern "C"
