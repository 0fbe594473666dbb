#include <array>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

constexpr uint32_t kBlack = 0xFF000000, kBlue = 0xFFFF0000, kWhite = 0xFFFFFFFF;
constexpr uint32_t kA = rgba(1, 0, 0, 255), kB = rgba(2, 0, 0, 255), kC = rgba(3, 0, 0, 255),
                   kD = rgba(4, 0, 0, 255);

// Renders into a 64 x 48 canvas with the base effects the way a source does.
class RendererTest : public ::testing::Test {
protected:
    void TearDown() override { zeb_canvas_destroy(canvas); }

    void fill(const vec4& color, float x, float y, uint32_t w, uint32_t h) {
        gs_effect_t* solid = zeb_get_base_effect(ZEB_EFFECT_SOLID);
        gs_effect_set_vec4(gs_effect_get_param_by_name(solid, "color"), &color);
        gs_technique_t* tech = gs_effect_get_technique(solid, "Solid");
        ASSERT_EQ(gs_technique_begin(tech), 1u);
        ASSERT_TRUE(gs_technique_begin_pass(tech, 0));
        drawAt(x, y, [&] { gs_draw_sprite(nullptr, 0, w, h); });
        gs_technique_end_pass(tech);
        gs_technique_end(tech);
    }

    template <typename Draw>
    void drawAt(float x, float y, Draw draw) {
        gs_matrix_push();
        gs_matrix_translate3f(x, y, 0.0f);
        draw();
        gs_matrix_pop();
    }

    void expect(std::initializer_list<std::array<uint32_t, 3>> pixels) const {
        for (const auto& [x, y, value] : pixels) {
            EXPECT_EQ(zeb_canvas_pixel(canvas, x, y), value) << "at " << x << "," << y;
        }
    }

    zeb_canvas_t* canvas = zeb_canvas_create(64, 48);
};

TEST_F(RendererTest, SolidFillCoversOnlyItsRectangleAndBeginClears) {
    const uint32_t grey = 0xFF909090;
    zeb_canvas_begin(canvas, kBlack);
    fill({144 / 255.0f, 144 / 255.0f, 144 / 255.0f, 1.0f}, 0, 0, 64, 48);
    fill({0.0f, 0.0f, 1.0f, 1.0f}, 3, 4, 10, 5);
    zeb_canvas_end(canvas);
    expect({{0, 0, grey}, {63, 47, grey}, {13, 4, grey}, {3, 9, grey}, {2, 4, grey}});
    expect({{3, 4, kBlue}, {12, 8, kBlue}});
    zeb_canvas_begin(canvas, 0); // even a transparent clear replaces the last frame
    zeb_canvas_end(canvas);
    expect({{3, 4, 0}});
}

TEST_F(RendererTest, DefaultEffectBlendsStraightAlphaAndOpaqueIgnoresIt) {
    Texture tex = makeTexture(3, 1, {rgba(255, 0, 0, 128), rgba(0, 255, 0, 0), rgba(9, 8, 7, 255)});
    zeb_canvas_begin(canvas, kBlue);
    drawSprite(ZEB_EFFECT_DEFAULT, tex.get());
    drawAt(0, 1, [&] { drawSprite(ZEB_EFFECT_OPAQUE, tex.get()); });
    zeb_canvas_end(canvas);
    // Half red over blue; fully transparent leaves the canvas; opaque replaces it.
    expect({{0, 0, rgba(128, 0, 127, 255)}, {1, 0, kBlue}, {2, 0, rgba(9, 8, 7, 255)}});
    expect({{0, 1, rgba(255, 0, 0, 255)}, {1, 1, rgba(0, 255, 0, 255)}, {3, 1, kBlue}});
}

TEST_F(RendererTest, TranslationsNestAndPopRestores) {
    Texture dot = makeTexture(1, 1, {kWhite});
    zeb_canvas_begin(canvas, kBlack);
    drawAt(5, 7, [&] {
        drawAt(10, 1, [&] { drawSprite(ZEB_EFFECT_DEFAULT, dot.get()); });
        drawSprite(ZEB_EFFECT_DEFAULT, dot.get()); // the inner pop leaves the outer offset
    });
    drawSprite(ZEB_EFFECT_DEFAULT, dot.get());
    zeb_canvas_end(canvas);
    expect({{15, 8, kWhite}, {5, 7, kWhite}, {0, 0, kWhite}, {10, 1, kBlack}});
}

TEST_F(RendererTest, ZeroSizeIsTheTexturesOwnOtherSizesScaleFlipFlagsMirror) {
    Texture tex = makeTexture(2, 2, {kA, kB, kC, kD});
    zeb_canvas_begin(canvas, kBlack);
    drawSprite(ZEB_EFFECT_DEFAULT, tex.get());
    drawAt(10, 10, [&] { drawSprite(ZEB_EFFECT_DEFAULT, tex.get(), 4, 6); });
    drawAt(20, 0, [&] { drawSprite(ZEB_EFFECT_DEFAULT, tex.get(), 0, 0, GS_FLIP_U | GS_FLIP_V); });
    zeb_canvas_end(canvas);
    expect({{0, 0, kA}, {1, 0, kB}, {0, 1, kC}, {1, 1, kD}, {2, 0, kBlack}, {0, 2, kBlack}});
    // 4 x 6 from 2 x 2: each texel covers 2 x 3 pixels.
    expect({{11, 12, kA}, {12, 12, kB}, {11, 13, kC}, {13, 15, kD}});
    expect({{14, 10, kBlack}, {10, 16, kBlack}});
    expect({{20, 0, kD}, {21, 0, kC}, {20, 1, kB}, {21, 1, kA}});
    EXPECT_EQ(zeb_canvas_get_stats(canvas).texture_draws, 3u); // one pass per effect loop
}

TEST_F(RendererTest, SetImageHonoursPitchAndFlipAndCountsOnlyAcceptedUploadsWhileBound) {
    const size_t textures = zeb_runner_live_textures();
    // Made the way a source makes its frame texture: dynamic, without data.
    Texture tex{gs_texture_create(2, 2, GS_RGBA, 1, nullptr, GS_DYNAMIC), gs_texture_destroy};
    Texture fixed = makeTexture(2, 1, {kWhite, kWhite});
    EXPECT_EQ(zeb_runner_live_textures(), textures + 2);
    // Rows of 2 pixels padded to 12 bytes.
    const uint8_t rows[24] = {1, 0, 0, 255, 2, 0, 0, 255, 0xEE, 0xEE, 0xEE, 0xEE,
                              3, 0, 0, 255, 4, 0, 0, 255, 0xEE, 0xEE, 0xEE, 0xEE};
    gs_texture_set_image(tex.get(), rows, 12, false); // not bound: not counted
    LogCapture log;
    zeb_canvas_begin(canvas, kBlack);
    gs_texture_set_image(fixed.get(), rows, 12, false); // refused: static texture
    gs_texture_set_image(tex.get(), rows, 4, false);    // refused: rows shorter than the width
    drawSprite(ZEB_EFFECT_OPAQUE, tex.get());
    drawAt(0, 3, [&] { drawSprite(ZEB_EFFECT_OPAQUE, fixed.get()); });
    gs_texture_set_image(tex.get(), rows, 12, true);
    drawAt(4, 0, [&] { drawSprite(ZEB_EFFECT_OPAQUE, tex.get()); });
    zeb_canvas_end(canvas);
    expect({{0, 0, kA}, {1, 0, kB}, {0, 1, kC}, {1, 3, kWhite}, {4, 0, kC}, {5, 1, kB}});
    EXPECT_EQ(zeb_canvas_get_stats(canvas).uploads, 1u);
    const size_t logged = log.lines.size();
    EXPECT_EQ(gs_texture_create(0, 2, GS_RGBA, 1, nullptr, GS_DYNAMIC), nullptr);
    EXPECT_EQ(log.lines.size(), logged + 1);
    tex.reset();
    fixed.reset();
    EXPECT_EQ(zeb_runner_live_textures(), textures);
}

TEST_F(RendererTest, DrawsAreClippedAtEveryEdge) {
    Texture tex = makeTexture(4, 1, {kA, kB, kC, kD});
    zeb_canvas_begin(canvas, kBlack);
    fill({0, 1, 0, 1}, -5, -5, 10, 10);
    fill({0, 0, 1, 1}, 60, 44, 10, 10);
    fill({1, 1, 1, 1}, 100, 100, 10, 10);
    drawAt(-2, 20, [&] { drawSprite(ZEB_EFFECT_DEFAULT, tex.get()); });
    drawAt(62, 30, [&] { drawSprite(ZEB_EFFECT_DEFAULT, tex.get()); });
    zeb_canvas_end(canvas);
    const uint32_t green = 0xFF00FF00;
    expect({{0, 0, green}, {4, 4, green}, {5, 5, kBlack}, {59, 43, kBlack}});
    expect({{60, 44, kBlue}, {63, 47, kBlue}});
    // A clipped texture keeps its texel positions.
    expect({{0, 20, kC}, {1, 20, kD}, {2, 20, kBlack}, {62, 30, kA}, {63, 30, kB}});
}

// The drawing tests above count on gs_effect_loop running its pass once per frame.
TEST_F(RendererTest, DrawsWithoutCanvasOrPassAreIgnoredAndLoggedOnce) {
    Texture tex = makeTexture(1, 1, {kWhite});
    LogCapture log;
    drawSprite(ZEB_EFFECT_DEFAULT, tex.get()); // no canvas bound
    drawSprite(ZEB_EFFECT_DEFAULT, tex.get());
    zeb_canvas_begin(canvas, kBlack);
    gs_draw_sprite(tex.get(), 0, 0, 0); // no pass begun
    gs_draw_sprite(tex.get(), 0, 0, 0);
    zeb_canvas_end(canvas);
    expect({{0, 0, kBlack}});
    EXPECT_EQ(zeb_canvas_get_stats(canvas).texture_draws, 0u);
    // Once per kind over the whole process: at most these two lines, all errors.
    EXPECT_LE(log.lines.size(), 2u);
    for (const auto& line : log.lines) {
        EXPECT_EQ(line.level, LOG_ERROR);
    }
}

} // namespace
