// The renderer on a real OpenGL 3.2 context: a private X server, an SDL window with
// an sRGB-capable framebuffer, and the frame read back from its back buffer.
#include "renderer.hpp"

#include <SDL.h>
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include "failure.hpp"
#include "test_support.hpp"

namespace morvelta {
namespace {

constexpr int window_width = 320;
constexpr int window_height = 240;

using Rgba = std::array<std::uint8_t, 4>;

// An SDL window with a GL 3.2 core context on its own X server.
class TestWindow : public FrameTarget {
  public:
    TestWindow() : xvfb_(window_width, window_height) {
        ::setenv("DISPLAY", xvfb_.display().c_str(), 1);
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
            throw std::runtime_error(SDL_GetError());
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        SDL_GL_SetAttribute(SDL_GL_FRAMEBUFFER_SRGB_CAPABLE, 1);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        window_ = SDL_CreateWindow("renderer test", 0, 0, window_width, window_height,
                                   SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS);
        if (window_ == nullptr)
            throw std::runtime_error(SDL_GetError());
        context_ = SDL_GL_CreateContext(window_);
        if (context_ == nullptr)
            throw std::runtime_error(SDL_GetError());
        gfx_ = std::make_unique<Gfx2d>();
    }
    ~TestWindow() override {
        textures_.clear();
        gfx_.reset();
        SDL_GL_DeleteContext(context_);
        SDL_DestroyWindow(window_);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    void make_current() override {
        ++make_current_calls;
        if (SDL_GL_MakeCurrent(window_, context_) != 0)
            throw std::runtime_error(SDL_GetError());
    }
    Gfx2d& renderer() override { return *gfx_; }

    // An sRGB texture as the picture loader makes it: rows top first, bilinear, clamped.
    std::shared_ptr<Texture> texture(int width, int height, const std::vector<Rgba>& pixels) {
        GLuint name = 0;
        glGenTextures(1, &name);
        glBindTexture(GL_TEXTURE_2D, name);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_SRGB8_ALPHA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     pixels.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        auto made = std::make_shared<Texture>(name, static_cast<std::uint16_t>(width),
                                              static_cast<std::uint16_t>(height));
        textures_.push_back(made);
        return made;
    }

    // The pixel at (x, y) of the back buffer, y counted from the top.
    Rgba pixel(int x, int y) {
        Rgba out{};
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(x, window_height - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
        return out;
    }

    int make_current_calls = 0;

  private:
    testing::XvfbServer xvfb_;
    SDL_Window* window_ = nullptr;
    SDL_GLContext context_ = nullptr;
    std::unique_ptr<Gfx2d> gfx_;
    std::vector<std::shared_ptr<Texture>> textures_;
};

const RenderArgs screen_args{0.0, window_width, window_height, window_width, window_height};

// Centred and stretched over the whole window, as the program places every picture.
PictureSprite screen_sprite(std::shared_ptr<Texture> texture) {
    PictureSprite sprite;
    sprite.position = {window_width * 0.5, window_height * 0.5};
    sprite.scale = {static_cast<double>(window_width) / texture->width(),
                    static_cast<double>(window_height) / texture->height()};
    sprite.texture = std::move(texture);
    return sprite;
}

void expect_rgb(const Rgba& got, int r, int g, int b, int tolerance = 0) {
    EXPECT_NEAR(got[0], r, tolerance);
    EXPECT_NEAR(got[1], g, tolerance);
    EXPECT_NEAR(got[2], b, tolerance);
}

class RendererTest : public ::testing::Test {
  protected:
    TestWindow window;
};

constexpr Rgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255},
    yellow{255, 255, 0, 255};

TEST_F(RendererTest, PictureCoversTheWindowUprightAndUnmirrored) {
    // 4 x 2 texels: the left half red over blue, the right half green over yellow.
    auto texture = window.texture(4, 2, {red, red, green, green, blue, blue, yellow, yellow});
    PictureSprite sprite = screen_sprite(texture);
    draw_frame(window, screen_args, &sprite);
    EXPECT_EQ(window.make_current_calls, 1);
    EXPECT_EQ(window.renderer().pending_commands(), 0u);
    expect_rgb(window.pixel(0, 0), 255, 0, 0);
    expect_rgb(window.pixel(window_width - 1, 0), 0, 255, 0);
    expect_rgb(window.pixel(0, window_height - 1), 0, 0, 255);
    expect_rgb(window.pixel(window_width - 1, window_height - 1), 255, 255, 0);
    expect_rgb(window.pixel(40, 30), 255, 0, 0);
}

TEST_F(RendererTest, ClearsToWhiteAroundASmallerSprite) {
    auto texture = window.texture(1, 1, {{0, 0, 0, 255}});
    PictureSprite sprite;
    sprite.texture = texture;
    sprite.anchor = {0.0, 0.0};
    sprite.position = {100.0, 50.0};
    sprite.scale = {20.0, 10.0};
    draw_frame(window, screen_args, &sprite);
    expect_rgb(window.pixel(0, 0), 255, 255, 255);
    expect_rgb(window.pixel(99, 55), 255, 255, 255);
    expect_rgb(window.pixel(100, 50), 0, 0, 0);
    expect_rgb(window.pixel(119, 59), 0, 0, 0);
    expect_rgb(window.pixel(120, 59), 255, 255, 255);
    expect_rgb(window.pixel(119, 60), 255, 255, 255);
}

TEST_F(RendererTest, TranslucentTexelsBlendOverWhiteInLinearLight) {
    auto half = window.texture(1, 1, {{0, 0, 0, 128}});
    PictureSprite sprite = screen_sprite(half);
    draw_frame(window, screen_args, &sprite);
    // Half of linear white is 0.498, which sRGB encodes as 187, not 127.
    expect_rgb(window.pixel(160, 120), 187, 187, 187, 1);

    auto clear = window.texture(1, 1, {{0, 0, 0, 0}});
    sprite = screen_sprite(clear);
    draw_frame(window, screen_args, &sprite);
    expect_rgb(window.pixel(160, 120), 255, 255, 255);
}

TEST_F(RendererTest, DrawColourAndOpacityTintTheTexels) {
    auto white = window.texture(1, 1, {{255, 255, 255, 255}});
    PictureSprite sprite = screen_sprite(white);
    sprite.color = {1.0f, 0.0f, 0.5f};
    sprite.opacity = 1.0f;
    draw_frame(window, screen_args, &sprite);
    expect_rgb(window.pixel(10, 10), 255, 0, 128, 1);  // sRGB 0.5 survives the round trip
}

TEST_F(RendererTest, FrameDoesNotDependOnStateLeftInTheContext) {
    auto texture = window.texture(1, 1, {{0, 0, 0, 128}});
    PictureSprite sprite = screen_sprite(texture);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 1, 1);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glDisable(GL_FRAMEBUFFER_SRGB);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_NEVER);
    glEnable(GL_STENCIL_TEST);
    glStencilFunc(GL_NEVER, 1, 0xFF);
    glViewport(0, 0, 10, 10);
    draw_frame(window, screen_args, &sprite);
    expect_rgb(window.pixel(window_width - 1, window_height - 1), 187, 187, 187, 1);
    expect_rgb(window.pixel(0, 0), 187, 187, 187, 1);
}

TEST_F(RendererTest, NoCurrentPictureStopsWithoutTouchingTheScreen) {
    auto black = window.texture(1, 1, {{0, 0, 0, 255}});
    PictureSprite sprite = screen_sprite(black);
    draw_frame(window, screen_args, &sprite);
    expect_rgb(window.pixel(5, 5), 0, 0, 0);

    EXPECT_THROW(draw_frame(window, screen_args, nullptr), Panic);
    // The white clear was only recorded: the previous frame is still there.
    expect_rgb(window.pixel(5, 5), 0, 0, 0);
    EXPECT_EQ(window.renderer().pending_commands(), 1u);

    // The next frame starts afresh.
    draw_frame(window, screen_args, &sprite);
    EXPECT_EQ(window.renderer().pending_commands(), 0u);
    expect_rgb(window.pixel(5, 5), 0, 0, 0);
}

}  // namespace
}  // namespace morvelta
