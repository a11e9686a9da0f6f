// A picture's pixels on the graphics device: one sRGB RGBA texture, one level,
// bilinear, clamped to its edges. Needs the window's OpenGL context current from
// creation to destruction, so every texture must be dropped before the window.
#pragma once

#include <cstdint>

namespace morvelta {

class Texture {
  public:
    // Takes ownership of the OpenGL texture object `name`.
    Texture(unsigned name, std::uint16_t width, std::uint16_t height)
        : name_(name), width_(width), height_(height) {}
    ~Texture();
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    unsigned gl_name() const { return name_; }
    std::uint16_t width() const { return width_; }
    std::uint16_t height() const { return height_; }

  private:
    unsigned name_;
    std::uint16_t width_;
    std::uint16_t height_;
};

}  // namespace morvelta
