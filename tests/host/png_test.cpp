#include <cstring>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(PngTest, CanvasWrittenAndLoadedBackIsTheSameAndDrawsAsALogo) {
    TempDir dir;
    // Texels of every kind of alpha blended over a translucent canvas that stays bare on the
    // right: opaque, translucent and blended pixels all go through the file.
    std::vector<uint32_t> texels(25);
    for (uint32_t i = 0; i < texels.size(); ++i) {
        texels[i] = (i * 0x00254A6Fu & 0xFFFFFF) | uint32_t{(i % 4) * 85} << 24;
    }
    Texture tex = makeTexture(5, 5, texels);
    zeb_canvas_t* canvas = zeb_canvas_create(7, 5);
    zeb_canvas_begin(canvas, 0x40102030);
    drawSprite(ZEB_EFFECT_DEFAULT, tex.get());
    zeb_canvas_end(canvas);
    const uint32_t blendedAlpha = zeb_canvas_pixel(canvas, 1, 0) >> 24;
    EXPECT_TRUE(blendedAlpha > 0x40 && blendedAlpha < 0xFF) << blendedAlpha;

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

    zeb_enter_graphics();
    gs_image_file_init_texture(&image);
    zeb_leave_graphics();
    zeb_canvas_begin(canvas, 0);
    drawSprite(ZEB_EFFECT_OPAQUE, image.texture);
    zeb_canvas_end(canvas);
    EXPECT_EQ(zeb_canvas_pixel(canvas, 6, 4), 0xFF102030u);
    // A texture made from an image file counts as a logo.
    EXPECT_EQ(zeb_canvas_get_stats(canvas).logo_draws, 1u);
    EXPECT_EQ(zeb_canvas_get_stats(canvas).texture_draws, 1u);
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
        zeb_enter_graphics();
        gs_image_file_init_texture(&image);
        EXPECT_EQ(image.texture, nullptr);
        gs_image_file_free(&image);
        zeb_leave_graphics();
    }
    EXPECT_EQ(zeb_runner_live_textures(), texturesBefore);
}

} // namespace
