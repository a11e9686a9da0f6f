// The window description: what `PistonWindow::build` is asked to open. Each builder
// returns the description with one field changed, so a description reads as a chain.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace morvelta {

// An OpenGL version, in the order of the versions; `none` stands for no version.
enum class OpenGL : std::uint8_t {
    V2_0,
    V2_1,
    V3_0,
    V3_1,
    V3_2,
    V3_3,
    V4_0,
    V4_1,
    V4_2,
    V4_3,
    V4_4,
    V4_5,
    none,
};

// The shading-language version that goes with each OpenGL version (same order).
enum class GLSL : std::uint8_t {
    V1_10,
    V1_20,
    V1_30,
    V1_40,
    V1_50,
    V3_30,
    V4_00,
    V4_10,
    V4_20,
    V4_30,
    V4_40,
    V4_50,
};

struct GLVersion {
    int major;
    int minor;
};

inline constexpr std::array<GLVersion, 12> opengl_versions{{
    {2, 0},
    {2, 1},
    {3, 0},
    {3, 1},
    {3, 2},
    {3, 3},
    {4, 0},
    {4, 1},
    {4, 2},
    {4, 3},
    {4, 4},
    {4, 5},
}};

// (major, minor) of a version other than `none`.
constexpr GLVersion gl_version(OpenGL version) {
    return opengl_versions[static_cast<std::size_t>(version)];
}

// The shading language matching a version other than `none`.
constexpr GLSL glsl_version(OpenGL version) {
    return static_cast<GLSL>(version);
}

struct WindowSize {
    std::uint32_t width;
    std::uint32_t height;
};

class WindowSettings {
  public:
    // A description with the given title and size and every other field at its default.
    WindowSettings(std::string title, WindowSize size) : title_(std::move(title)), size_(size) {}

    WindowSettings samples(std::uint8_t value) && { return with(&WindowSettings::samples_, value); }
    WindowSettings fullscreen(bool value) && { return with(&WindowSettings::fullscreen_, value); }
    WindowSettings exit_on_esc(bool value) && { return with(&WindowSettings::exit_on_esc_, value); }
    WindowSettings vsync(bool value) && { return with(&WindowSettings::vsync_, value); }
    WindowSettings opengl(OpenGL value) && { return with(&WindowSettings::opengl_, value); }
    WindowSettings srgb(bool value) && { return with(&WindowSettings::srgb_, value); }
    WindowSettings resizable(bool value) && { return with(&WindowSettings::resizable_, value); }
    WindowSettings decorated(bool value) && { return with(&WindowSettings::decorated_, value); }
    WindowSettings controllers(bool value) && { return with(&WindowSettings::controllers_, value); }

    const std::string& get_title() const { return title_; }
    WindowSize get_size() const { return size_; }
    std::uint8_t get_samples() const { return samples_; }
    bool get_fullscreen() const { return fullscreen_; }
    bool get_exit_on_esc() const { return exit_on_esc_; }
    bool get_vsync() const { return vsync_; }
    OpenGL get_opengl() const { return opengl_; }
    bool get_srgb() const { return srgb_; }
    bool get_resizable() const { return resizable_; }
    bool get_decorated() const { return decorated_; }
    bool get_controllers() const { return controllers_; }

  private:
    template <class Field, class Value>
    WindowSettings with(Field WindowSettings::*field, Value value) {
        this->*field = value;
        return std::move(*this);
    }

    std::string title_;
    WindowSize size_;
    std::uint8_t samples_ = 0;
    bool fullscreen_ = false;
    bool exit_on_esc_ = false;
    bool vsync_ = false;
    OpenGL opengl_ = OpenGL::none;
    bool srgb_ = true;
    bool resizable_ = true;
    bool decorated_ = true;
    bool controllers_ = true;  // no game controllers are read by this window
};

}  // namespace morvelta
