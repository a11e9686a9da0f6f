// Textures made on a real OpenGL 3.2 core context (a hidden window on a private X
// server): format, size, sampler state and the stored texels.
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "failure.hpp"
#include "sprites.hpp"
#include "test_support.hpp"
#include "window.hpp"

namespace morvelta::testing {
namespace {

// The program's own window, with its current OpenGL context and texture factory, on
// a private X server.
PistonWindow window_on(const XvfbServer& xvfb) {
    ::setenv("DISPLAY", xvfb.display().c_str(), 1);
    return PistonWindow::build(WindowSettings("texture test", {320, 240})).unwrap();
}

class TestWindow {
  public:
    TestWindow() : xvfb_(320, 240), window_(window_on(xvfb_)) {}
    TextureFactory& factory() { return window_.factory(); }

  private:
    XvfbServer xvfb_;
    PistonWindow window_;
};

GLint level_parameter(GLint level, GLenum name) {
    GLint value = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, name, &value);
    return value;
}

GLint parameter(GLenum name) {
    GLint value = -1;
    glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
    return value;
}

GLfloat float_parameter(GLenum name) {
    GLfloat value = -1;
    glGetTexParameterfv(GL_TEXTURE_2D, name, &value);
    return value;
}

TEST(Texture, IsOneSrgbLevelWithBilinearClampedSamplingAndTheFilesTexels) {
    TestWindow window;
    TextureFactory& factory = window.factory();
    EXPECT_GE(factory.max_texture_size(), 1024u);

    TempDir dir;
    const fs::path path = dir.path() / "Photo.Png";
    make_picture(path,
                 {"-size", "333x17", "gradient:rgba(255,0,0,0.2)-rgba(0,0,255,1)", "-depth", "8"});
    std::shared_ptr<Texture> texture = load_sprite_texture(factory, path.string());
    ASSERT_NE(texture->gl_name(), 0u);
    EXPECT_EQ(texture->width(), 333);
    EXPECT_EQ(texture->height(), 17);
    EXPECT_EQ(texture.use_count(), 1);

    glBindTexture(GL_TEXTURE_2D, texture->gl_name());
    EXPECT_EQ(level_parameter(0, GL_TEXTURE_INTERNAL_FORMAT), GL_SRGB8_ALPHA8);
    EXPECT_EQ(level_parameter(0, GL_TEXTURE_WIDTH), 333);
    EXPECT_EQ(level_parameter(0, GL_TEXTURE_HEIGHT), 17);
    EXPECT_EQ(level_parameter(1, GL_TEXTURE_WIDTH), 0);  // no mipmaps
    EXPECT_EQ(parameter(GL_TEXTURE_BASE_LEVEL), 0);
    EXPECT_EQ(parameter(GL_TEXTURE_MAX_LEVEL), 0);
    EXPECT_EQ(parameter(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(parameter(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    EXPECT_EQ(parameter(GL_TEXTURE_WRAP_S), GL_CLAMP_TO_EDGE);
    EXPECT_EQ(parameter(GL_TEXTURE_WRAP_T), GL_CLAMP_TO_EDGE);
    EXPECT_EQ(parameter(GL_TEXTURE_WRAP_R), GL_CLAMP_TO_EDGE);
    EXPECT_EQ(parameter(GL_TEXTURE_COMPARE_MODE), GL_NONE);
    EXPECT_EQ(float_parameter(GL_TEXTURE_LOD_BIAS), 0.0f);
    EXPECT_EQ(float_parameter(GL_TEXTURE_MIN_LOD), -1000.0f);
    EXPECT_EQ(float_parameter(GL_TEXTURE_MAX_LOD), 1000.0f);
    GLfloat border[4] = {1, 1, 1, 1};
    glGetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
    EXPECT_EQ(border[0] + border[1] + border[2] + border[3], 0.0f);

    // The stored values are the file's, top row first, with no sRGB conversion.
    auto decoded = open_picture(path.string());
    ASSERT_TRUE(decoded.is_ok());
    std::vector<std::uint8_t> texels(decoded.value().byte_size());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    EXPECT_EQ(0, std::memcmp(texels.data(), decoded.value().rgba.get(), texels.size()));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glBindTexture(GL_TEXTURE_2D, 0);
}

TEST(Texture, FailuresGiveTheirTextsAndLoadingStops) {
    TestWindow window;
    TextureFactory& factory = window.factory();
    TempDir dir;

    auto missing = texture_from_path(factory, (dir.path() / "gone.jpg").string());
    ASSERT_FALSE(missing.is_ok());
    EXPECT_EQ(missing.error(), "No such file or directory (os error 2)");

    // One pixel wider than the device allows, written into a JPEG frame header: the
    // device's refusal, before any pixel is decoded.
    make_picture(dir.path() / "wide.jpg", {"-size", "8x8", "xc:red"});
    std::string jpeg;
    {
        std::ifstream in(dir.path() / "wide.jpg", std::ios::binary);
        jpeg.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::size_t frame = jpeg.find("\xFF\xC0");
    ASSERT_NE(frame, std::string::npos);
    const std::uint32_t width = factory.max_texture_size() + 1;
    jpeg[frame + 7] = static_cast<char>(width >> 8);
    jpeg[frame + 8] = static_cast<char>(width);
    std::ofstream(dir.path() / "wide.jpg", std::ios::binary) << jpeg;
    auto wide = texture_from_path(factory, (dir.path() / "wide.jpg").string());
    ASSERT_FALSE(wide.is_ok());
    EXPECT_EQ(wide.error(), "Texture(Size(" + std::to_string(width) + "))");

    EXPECT_THROW(load_sprite_texture(factory, (dir.path() / "gone.png").string()), Panic);
}

}  // namespace
}  // namespace morvelta::testing
