// Turns a sprite tree into textured rectangles, entirely on the processor: the
// corners already in normalised device coordinates, the texture coordinates and
// the colour in linear light. A sink receives them; the OpenGL renderer is one
// sink, tests are another.
#pragma once

#include <array>

#include "picture_sprite.hpp"
#include "texture.hpp"
#include "transform.hpp"

namespace morvelta {

// An RGBA colour, each channel 0.0 to 1.0.
using Color = std::array<float, 4>;

// One sRGB-encoded channel to linear light (the IEC 61966-2-1 transfer function).
float srgb_to_linear(float c);
// Red, green and blue to linear light; alpha is coverage and stays as it is.
Color srgb_to_linear(const Color& color);

// Two triangles over one texture. The corners come in the order top-left,
// top-right, bottom-left, top-right, bottom-right, bottom-left of the rectangle.
struct ImageQuad {
    static constexpr int vertex_count = 6;
    std::array<std::array<float, 2>, vertex_count> positions;   // normalised device coordinates
    std::array<std::array<float, 2>, vertex_count> tex_coords;  // 0 is the texture's first row
    Color color;                                                // linear; multiplies each texel
    const Texture* texture;
};

class ImageSink {
  public:
    virtual ~ImageSink() = default;
    virtual void draw_image(const ImageQuad& quad) = 0;
};

// The rectangle (x, y, w, h) under `m`, showing the texels `src` (x, y, w, h) of
// `texture`, tinted by the sRGB colour `color`.
ImageQuad image_quad(const std::array<double, 4>& rect, const std::array<double, 4>& src,
                     const Color& color, const Matrix2d& m, const Texture& texture);

// Draws `sprite` and then its children, in list order, under the parent transform.
// Flips mirror the sprite's own image only; children follow the unflipped frame.
// An invisible sprite hides its children too. Allocates nothing.
void draw_sprite(const PictureSprite& sprite, const Matrix2d& parent, ImageSink& sink);

}  // namespace morvelta
