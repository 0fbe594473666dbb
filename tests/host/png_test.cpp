#include <cstring>
#include <png.h>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(PngTest, CanvasWrittenAndLoadedBackIsTheSame) {
    TempDir dir;
    // A 5 x 5 picture on a translucent 7 x 5 canvas, half green blended over both: every kind of
    // alpha goes through the file.
    zeb_canvas_t* canvas = zeb_canvas_create(7, 5);
    gs_texture_t* tex = nullptr;
    {
        std::vector<uint8_t> pixels(size_t{5} * 5 * 4);
        for (size_t i = 0; i < pixels.size(); ++i) {
            pixels[i] = static_cast<uint8_t>(i * 37 + 11);
        }
        const uint8_t* levels[1] = {pixels.data()};
        tex = gs_texture_create(5, 5, GS_RGBA, 1, levels, 0);
    }
    zeb_canvas_begin(canvas, 0x40102030);
    gs_effect_t* effect = zeb_get_base_effect(ZEB_EFFECT_OPAQUE);
    gs_effect_set_texture(gs_effect_get_param_by_name(effect, "image"), tex);
    while (gs_effect_loop(effect, "Draw")) {
        gs_draw_sprite(tex, 0, 0, 0);
    }
    gs_matrix_translate3f(4, 2, 0);
    effect = zeb_get_base_effect(ZEB_EFFECT_SOLID);
    const vec4 halfGreen{0, 1, 0, 0.5f};
    gs_effect_set_vec4(gs_effect_get_param_by_name(effect, "color"), &halfGreen);
    while (gs_effect_loop(effect, "Solid")) {
        gs_draw_sprite(nullptr, 0, 2, 2);
    }
    zeb_canvas_end(canvas);
    gs_texture_destroy(tex);
    EXPECT_EQ(zeb_canvas_pixel(canvas, 6, 0), 0x40102030u);
    const uint32_t blended = zeb_canvas_pixel(canvas, 5, 2);
    EXPECT_GT(blended >> 24, 0x40u);
    EXPECT_LT(blended >> 24, 0xFFu);

    const std::string path = dir / "canvas.png";
    ASSERT_TRUE(zeb_canvas_write_png(canvas, path.c_str()));
    gs_image_file_t image;
    gs_image_file_init(&image, path.c_str());
    ASSERT_TRUE(image.loaded);
    EXPECT_EQ(image.cx, 7u);
    EXPECT_EQ(image.cy, 5u);
    EXPECT_EQ(image.format, GS_RGBA);
    ASSERT_NE(image.texture_data, nullptr);
    EXPECT_EQ(memcmp(image.texture_data, zeb_canvas_pixels(canvas), size_t{7} * 5 * 4), 0);
    gs_image_file_free(&image);
    zeb_canvas_destroy(canvas);
}

TEST(PngTest, MissingOrBrokenFilesLeaveTheImageUnloaded) {
    TempDir dir;
    writeFile(dir / "broken.png", "\x89PNG\r\n\x1a\n this is not a PNG");
    const size_t texturesBefore = zeb_runner_live_textures();
    for (const std::string& path : {dir / "missing.png", dir / "broken.png"}) {
        LogCapture log;
        gs_image_file_t image;
        memset(&image, 0xAB, sizeof(image));
        gs_image_file_init(&image, path.c_str());
        EXPECT_FALSE(image.loaded) << path;
        EXPECT_EQ(image.texture_data, nullptr);
        EXPECT_EQ(image.texture, nullptr);
        zeb_enter_graphics();
        gs_image_file_init_texture(&image);
        EXPECT_EQ(image.texture, nullptr);
        gs_image_file_free(&image);
        zeb_leave_graphics();
    }
    EXPECT_EQ(zeb_runner_live_textures(), texturesBefore);
}

TEST(PngTest, GreyAndPaletteImagesComeOutAsRgba) {
    TempDir dir;
    const uint8_t grey[4] = {0, 85, 170, 255};
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = 2;
    png.height = 2;
    png.format = PNG_FORMAT_GRAY;
    ASSERT_TRUE(png_image_write_to_file(&png, (dir / "grey.png").c_str(), 0, grey, 0, nullptr));

    gs_image_file_t image;
    gs_image_file_init(&image, (dir / "grey.png").c_str());
    ASSERT_TRUE(image.loaded);
    const uint8_t expected[16] = {0,   0,   0,   255, 85,  85,  85,  255,
                                  170, 170, 170, 255, 255, 255, 255, 255};
    EXPECT_EQ(memcmp(image.texture_data, expected, 16), 0);
    zeb_enter_graphics();
    gs_image_file_init_texture(&image);
    ASSERT_NE(image.texture, nullptr);
    EXPECT_EQ(gs_texture_get_width(image.texture), 2u);
    gs_image_file_free(&image);
    zeb_leave_graphics();
    EXPECT_EQ(image.texture, nullptr);
}

} // namespace
