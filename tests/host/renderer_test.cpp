#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

constexpr uint32_t kClear = 0xFF000000; // opaque black
constexpr uint32_t kBlue = 0xFFFF0000;

uint32_t packed(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    return r | g << 8 | b << 16 | static_cast<uint32_t>(a) << 24;
}

// Renders into a small canvas and draws with the base effects the way a source does.
class RendererTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (gs_texture_t* tex : textures) {
            gs_texture_destroy(tex);
        }
        zeb_canvas_destroy(canvas);
    }

    gs_texture_t* texture(uint32_t w, uint32_t h, const std::vector<uint32_t>& pixels,
                          uint32_t flags = 0) {
        std::vector<uint8_t> bytes;
        for (uint32_t p : pixels) {
            for (int i = 0; i < 4; ++i) {
                bytes.push_back(static_cast<uint8_t>(p >> (8 * i)));
            }
        }
        const uint8_t* levels[1] = {bytes.data()};
        gs_texture_t* tex = gs_texture_create(w, h, GS_RGBA, 1, levels, flags);
        textures.push_back(tex);
        return tex;
    }

    void fill(const vec4& color, uint32_t w, uint32_t h) {
        gs_effect_t* solid = zeb_get_base_effect(ZEB_EFFECT_SOLID);
        gs_effect_set_vec4(gs_effect_get_param_by_name(solid, "color"), &color);
        gs_technique_t* tech = gs_effect_get_technique(solid, "Solid");
        ASSERT_EQ(gs_technique_begin(tech), 1u);
        ASSERT_TRUE(gs_technique_begin_pass(tech, 0));
        gs_draw_sprite(nullptr, 0, w, h);
        gs_technique_end_pass(tech);
        gs_technique_end(tech);
    }

    void draw(zeb_base_effect kind, gs_texture_t* tex, uint32_t w = 0, uint32_t h = 0,
              uint32_t flip = 0) {
        gs_effect_t* effect = zeb_get_base_effect(kind);
        gs_effect_set_texture(gs_effect_get_param_by_name(effect, "image"), tex);
        while (gs_effect_loop(effect, "Draw")) {
            gs_draw_sprite(tex, flip, w, h);
        }
    }

    void at(float x, float y) {
        gs_matrix_push();
        gs_matrix_translate3f(x, y, 0.0f);
    }

    uint32_t px(uint32_t x, uint32_t y) const { return zeb_canvas_pixel(canvas, x, y); }

    zeb_canvas_t* canvas = zeb_canvas_create(64, 48);
    std::vector<gs_texture_t*> textures;
};

TEST_F(RendererTest, SolidFillUsesTheColourVectorAndOnlyTheRectangle) {
    zeb_canvas_begin(canvas, kClear);
    fill({144 / 255.0f, 144 / 255.0f, 144 / 255.0f, 1.0f}, 64, 48);
    EXPECT_EQ(px(0, 0), 0xFF909090u);
    EXPECT_EQ(px(63, 47), 0xFF909090u);
    at(3, 4);
    fill({0.0f, 0.0f, 1.0f, 1.0f}, 10, 5);
    gs_matrix_pop();
    zeb_canvas_end(canvas);

    EXPECT_EQ(px(3, 4), kBlue);
    EXPECT_EQ(px(12, 8), kBlue);
    EXPECT_EQ(px(13, 4), 0xFF909090u);
    EXPECT_EQ(px(3, 9), 0xFF909090u);
    EXPECT_EQ(px(2, 4), 0xFF909090u);
}

TEST_F(RendererTest, BeginClearsToTheGivenColour) {
    zeb_canvas_begin(canvas, kBlue);
    zeb_canvas_end(canvas);
    EXPECT_EQ(px(10, 10), kBlue);
    zeb_canvas_begin(canvas, 0);
    zeb_canvas_end(canvas);
    EXPECT_EQ(px(10, 10), 0u);
}

TEST_F(RendererTest, DefaultEffectBlendsStraightAlpha) {
    gs_texture_t* tex =
        texture(3, 1, {packed(255, 0, 0, 128), packed(0, 255, 0, 0), packed(9, 8, 7, 255)});
    zeb_canvas_begin(canvas, kBlue);
    draw(ZEB_EFFECT_DEFAULT, tex);
    zeb_canvas_end(canvas);
    EXPECT_EQ(px(0, 0), packed(128, 0, 127, 255)); // half red over blue
    EXPECT_EQ(px(1, 0), kBlue);                    // fully transparent: untouched
    EXPECT_EQ(px(2, 0), packed(9, 8, 7, 255));     // opaque: replaced
}

TEST_F(RendererTest, OpaqueEffectIgnoresTheTextureAlpha) {
    gs_texture_t* tex = texture(1, 1, {packed(10, 20, 30, 0)});
    zeb_canvas_begin(canvas, 0);
    draw(ZEB_EFFECT_OPAQUE, tex);
    zeb_canvas_end(canvas);
    EXPECT_EQ(px(0, 0), packed(10, 20, 30, 255));
}

TEST_F(RendererTest, TranslationsNestAndPopRestores) {
    gs_texture_t* dot = texture(1, 1, {packed(255, 255, 255, 255)});
    zeb_canvas_begin(canvas, kClear);
    at(5, 7);
    at(10, 1);
    draw(ZEB_EFFECT_DEFAULT, dot);
    gs_matrix_pop();
    draw(ZEB_EFFECT_DEFAULT, dot);
    gs_matrix_pop();
    draw(ZEB_EFFECT_DEFAULT, dot);
    gs_matrix_push();
    gs_matrix_translate3f(30, 30, 0);
    gs_matrix_identity();
    gs_matrix_translate3f(40, 2, 0);
    draw(ZEB_EFFECT_DEFAULT, dot);
    gs_matrix_pop();
    zeb_canvas_end(canvas);

    EXPECT_EQ(px(15, 8), 0xFFFFFFFFu);
    EXPECT_EQ(px(5, 7), 0xFFFFFFFFu);
    EXPECT_EQ(px(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(px(40, 2), 0xFFFFFFFFu);
    EXPECT_EQ(px(30, 30), kClear);
}

TEST_F(RendererTest, ZeroSizeDrawsTheTextureAtItsOwnSizeAndOtherSizesScale) {
    const uint32_t a = packed(1, 0, 0, 255), b = packed(2, 0, 0, 255);
    const uint32_t c = packed(3, 0, 0, 255), d = packed(4, 0, 0, 255);
    gs_texture_t* tex = texture(2, 2, {a, b, c, d});
    zeb_canvas_begin(canvas, kClear);
    draw(ZEB_EFFECT_DEFAULT, tex);
    at(10, 10);
    draw(ZEB_EFFECT_DEFAULT, tex, 4, 6);
    gs_matrix_pop();
    zeb_canvas_end(canvas);

    EXPECT_EQ(px(0, 0), a);
    EXPECT_EQ(px(1, 0), b);
    EXPECT_EQ(px(0, 1), c);
    EXPECT_EQ(px(1, 1), d);
    EXPECT_EQ(px(2, 0), kClear);
    EXPECT_EQ(px(0, 2), kClear);
    // 4 x 6 from 2 x 2: each texel covers 2 x 3 pixels.
    EXPECT_EQ(px(11, 12), a);
    EXPECT_EQ(px(12, 12), b);
    EXPECT_EQ(px(11, 13), c);
    EXPECT_EQ(px(13, 15), d);
    EXPECT_EQ(px(14, 10), kClear);
    EXPECT_EQ(px(10, 16), kClear);
}

TEST_F(RendererTest, SetImageHonoursPitchAndFlipAndCountsUploadsWhileBound) {
    gs_texture_t* tex = texture(2, 2, {0, 0, 0, 0}, GS_DYNAMIC);
    // Rows of 2 pixels padded to 12 bytes.
    const uint8_t rows[24] = {1, 0, 0, 255, 2, 0, 0, 255, 0xEE, 0xEE, 0xEE, 0xEE,
                              3, 0, 0, 255, 4, 0, 0, 255, 0xEE, 0xEE, 0xEE, 0xEE};
    gs_texture_set_image(tex, rows, 12, false); // not bound: not counted
    zeb_canvas_begin(canvas, kClear);
    draw(ZEB_EFFECT_OPAQUE, tex);
    gs_texture_set_image(tex, rows, 12, true);
    at(4, 0);
    draw(ZEB_EFFECT_OPAQUE, tex);
    gs_matrix_pop();
    zeb_canvas_end(canvas);

    EXPECT_EQ(px(0, 0), packed(1, 0, 0, 255));
    EXPECT_EQ(px(1, 0), packed(2, 0, 0, 255));
    EXPECT_EQ(px(0, 1), packed(3, 0, 0, 255));
    EXPECT_EQ(px(4, 0), packed(3, 0, 0, 255));
    EXPECT_EQ(px(5, 1), packed(2, 0, 0, 255));
    EXPECT_EQ(zeb_canvas_get_stats(canvas).uploads, 1u);
}

TEST_F(RendererTest, UploadsToStaticTexturesOrWithShortRowsAreRefused) {
    gs_texture_t* fixed = texture(2, 1, {packed(5, 5, 5, 255), packed(5, 5, 5, 255)});
    gs_texture_t* dynamic = texture(2, 1, {packed(5, 5, 5, 255), packed(5, 5, 5, 255)}, GS_DYNAMIC);
    const uint8_t row[8] = {9, 9, 9, 255, 9, 9, 9, 255};
    LogCapture log;
    zeb_canvas_begin(canvas, kClear);
    gs_texture_set_image(fixed, row, 8, false);
    gs_texture_set_image(dynamic, row, 4, false);
    draw(ZEB_EFFECT_OPAQUE, fixed);
    at(0, 1);
    draw(ZEB_EFFECT_OPAQUE, dynamic);
    gs_matrix_pop();
    zeb_canvas_end(canvas);
    EXPECT_EQ(px(1, 0), packed(5, 5, 5, 255));
    EXPECT_EQ(px(1, 1), packed(5, 5, 5, 255));
    EXPECT_EQ(zeb_canvas_get_stats(canvas).uploads, 0u);
}

TEST_F(RendererTest, DrawsAreClippedAtEveryEdge) {
    gs_texture_t* tex = texture(
        4, 1,
        {packed(1, 0, 0, 255), packed(2, 0, 0, 255), packed(3, 0, 0, 255), packed(4, 0, 0, 255)});
    zeb_canvas_begin(canvas, kClear);
    at(-5, -5);
    fill({0, 1, 0, 1}, 10, 10);
    gs_matrix_pop();
    at(60, 44);
    fill({0, 0, 1, 1}, 10, 10);
    gs_matrix_pop();
    at(-2, 20);
    draw(ZEB_EFFECT_DEFAULT, tex);
    gs_matrix_pop();
    at(62, 30);
    draw(ZEB_EFFECT_DEFAULT, tex);
    gs_matrix_pop();
    at(100, 100);
    fill({1, 1, 1, 1}, 10, 10);
    gs_matrix_pop();
    zeb_canvas_end(canvas);

    EXPECT_EQ(px(0, 0), 0xFF00FF00u);
    EXPECT_EQ(px(4, 4), 0xFF00FF00u);
    EXPECT_EQ(px(5, 5), kClear);
    EXPECT_EQ(px(59, 43), kClear);
    EXPECT_EQ(px(60, 44), kBlue);
    EXPECT_EQ(px(63, 47), kBlue);
    EXPECT_EQ(px(0, 20), packed(3, 0, 0, 255)); // the texture keeps its texel positions
    EXPECT_EQ(px(1, 20), packed(4, 0, 0, 255));
    EXPECT_EQ(px(2, 20), kClear);
    EXPECT_EQ(px(62, 30), packed(1, 0, 0, 255));
    EXPECT_EQ(px(63, 30), packed(2, 0, 0, 255));
}

TEST_F(RendererTest, FlipFlagsMirrorTheSprite) {
    gs_texture_t* tex = texture(
        2, 2,
        {packed(1, 0, 0, 255), packed(2, 0, 0, 255), packed(3, 0, 0, 255), packed(4, 0, 0, 255)});
    zeb_canvas_begin(canvas, kClear);
    draw(ZEB_EFFECT_DEFAULT, tex, 0, 0, GS_FLIP_U | GS_FLIP_V);
    zeb_canvas_end(canvas);
    EXPECT_EQ(px(0, 0), packed(4, 0, 0, 255));
    EXPECT_EQ(px(1, 1), packed(1, 0, 0, 255));
}

TEST_F(RendererTest, EffectLoopRunsOnePass) {
    gs_effect_t* effect = zeb_get_base_effect(ZEB_EFFECT_DEFAULT);
    EXPECT_EQ(gs_effect_get_technique(effect, "Missing"), nullptr);
    EXPECT_EQ(gs_effect_get_param_by_name(effect, "missing"), nullptr);
    EXPECT_FALSE(gs_effect_loop(effect, "Missing"));
    int passes = 0;
    while (gs_effect_loop(effect, "Draw")) {
        ++passes;
        ASSERT_LT(passes, 3);
    }
    EXPECT_EQ(passes, 1);
    EXPECT_TRUE(gs_effect_loop(effect, "Draw")); // and again on the next frame
    EXPECT_FALSE(gs_effect_loop(effect, "Draw"));
    EXPECT_FALSE(gs_technique_begin_pass(gs_effect_get_technique(effect, "Draw"), 0));
}

TEST_F(RendererTest, DrawsWithoutPassOrCanvasAreIgnoredAndLoggedOnce) {
    gs_texture_t* tex = texture(1, 1, {packed(255, 255, 255, 255)});
    LogCapture log;
    draw(ZEB_EFFECT_DEFAULT, tex); // no canvas bound
    draw(ZEB_EFFECT_DEFAULT, tex);
    zeb_canvas_begin(canvas, kClear);
    gs_draw_sprite(tex, 0, 0, 0); // no pass begun
    gs_draw_sprite(tex, 0, 0, 0);
    zeb_canvas_end(canvas);
    EXPECT_EQ(px(0, 0), kClear);
    const zeb_canvas_stats stats = zeb_canvas_get_stats(canvas);
    EXPECT_EQ(stats.texture_draws, 0u);
    // Once per kind over the whole process: at most these two lines, all errors.
    EXPECT_LE(log.lines().size(), 2u);
    for (const auto& line : log.lines()) {
        EXPECT_EQ(line.level, LOG_ERROR);
    }
}

TEST_F(RendererTest, StatisticsCountEachKindOfDraw) {
    TempDir dir;
    gs_texture_t* tex = texture(2, 2, {0, 0, 0, 0});
    // A logo is a texture made from an image file.
    zeb_canvas_t* logoCanvas = zeb_canvas_create(3, 2);
    ASSERT_TRUE(zeb_canvas_write_png(logoCanvas, (dir / "logo.png").c_str()));
    zeb_canvas_destroy(logoCanvas);
    gs_image_file_t logo;
    gs_image_file_init(&logo, (dir / "logo.png").c_str());
    zeb_enter_graphics();
    gs_image_file_init_texture(&logo);
    zeb_leave_graphics();
    ASSERT_NE(logo.texture, nullptr);

    for (int render = 0; render < 3; ++render) {
        zeb_canvas_begin(canvas, kClear);
        fill({1, 0, 0, 1}, 64, 48);
        draw(ZEB_EFFECT_OPAQUE, tex);
        draw(ZEB_EFFECT_DEFAULT, logo.texture);
        draw(ZEB_EFFECT_DEFAULT, logo.texture);
        zeb_canvas_end(canvas);
    }
    const zeb_canvas_stats stats = zeb_canvas_get_stats(canvas);
    EXPECT_EQ(stats.renders, 3u);
    EXPECT_EQ(stats.solid_fills, 3u);
    EXPECT_EQ(stats.texture_draws, 3u);
    EXPECT_EQ(stats.logo_draws, 6u);
    EXPECT_EQ(stats.uploads, 0u);
    gs_image_file_free(&logo);
}

TEST_F(RendererTest, LiveTexturesTrackCreateAndDestroy) {
    const size_t before = zeb_runner_live_textures();
    gs_texture_t* tex = gs_texture_create(1280, 720, GS_RGBA, 1, nullptr, GS_DYNAMIC);
    ASSERT_NE(tex, nullptr);
    EXPECT_EQ(gs_texture_get_width(tex), 1280u);
    EXPECT_EQ(gs_texture_get_height(tex), 720u);
    EXPECT_EQ(zeb_runner_live_textures(), before + 1);
    gs_texture_destroy(tex);
    EXPECT_EQ(zeb_runner_live_textures(), before);
    LogCapture log;
    EXPECT_EQ(gs_texture_create(0, 720, GS_RGBA, 1, nullptr, 0), nullptr);
    EXPECT_EQ(log.lines().size(), 1u);
}

} // namespace
