// The textures of one source instance and the drawing done with them: the state colour fill,
// the video picture and the logo.
#pragma once

#include <cstdint>
#include <vector>

#include "zeb/zeb.h"

class SourceTextures {
public:
    static constexpr uint32_t kWidth = 1280;
    static constexpr uint32_t kHeight = 720;
    static constexpr float kLogoLeft = 8.0f;
    static constexpr uint32_t kLogoBottom = 712; // 8 pixels above the bottom edge

    // Loads "dv_logo.png" from the module's configuration folder and makes the frame texture.
    // Either may fail; what is missing is then not drawn.
    explicit SourceTextures(zeb_module_t* module) noexcept;
    ~SourceTextures();
    SourceTextures(const SourceTextures&) = delete;
    SourceTextures& operator=(const SourceTextures&) = delete;

    // Replaces the frame texture's content; a picture smaller than 720 rows of 5120 bytes is
    // refused.
    void uploadFrame(const std::vector<uint8_t>& picture);

    // Render-thread drawing (inside the host's graphics context).
    void drawFill(uint32_t packedColour);
    void drawFrame();
    void drawLogo();

private:
    gs_texture_t* frameTexture = nullptr;
    gs_image_file_t logoImage{};
    bool logoInitialised = false; // gs_image_file_init ran and logoImage needs freeing
};
