#include "sprite_drawing.hpp"

#include <cmath>
#include <numbers>

namespace morvelta {

float srgb_to_linear(float c) {
    if (c <= 0.04045f)
        return c / 12.92f;
    return std::pow((c + 0.055f) / 1.055f, 2.4f);
}

Color srgb_to_linear(const Color& color) {
    return {srgb_to_linear(color[0]), srgb_to_linear(color[1]), srgb_to_linear(color[2]), color[3]};
}

ImageQuad image_quad(const std::array<double, 4>& rect, const std::array<double, 4>& src,
                     const Color& color, const Matrix2d& m, const Texture& texture) {
    double x0 = rect[0];
    double y0 = rect[1];
    double x1 = rect[0] + rect[2];
    double y1 = rect[1] + rect[3];
    const std::array<std::array<double, 2>, ImageQuad::vertex_count> corners{
        {{x0, y0}, {x1, y0}, {x0, y1}, {x1, y0}, {x1, y1}, {x0, y1}}};

    double tw = texture.width();
    double th = texture.height();
    auto left = static_cast<float>(src[0] / tw);
    auto top = static_cast<float>(src[1] / th);
    auto right = static_cast<float>((src[0] + src[2]) / tw);
    auto bottom = static_cast<float>((src[1] + src[3]) / th);

    ImageQuad quad{};
    for (int i = 0; i < ImageQuad::vertex_count; ++i) {
        auto [x, y] = apply(m, corners[i][0], corners[i][1]);
        quad.positions[i] = {static_cast<float>(x), static_cast<float>(y)};
    }
    quad.tex_coords = {
        {{left, top}, {right, top}, {left, bottom}, {right, top}, {right, bottom}, {left, bottom}}};
    quad.color = srgb_to_linear(color);
    quad.texture = &texture;
    return quad;
}

void draw_sprite(const PictureSprite& sprite, const Matrix2d& parent, ImageSink& sink) {
    if (!sprite.visible)
        return;

    Matrix2d transformed =
        multiply(multiply(multiply(parent, translate(sprite.position[0], sprite.position[1])),
                          rotate_radians(sprite.rotation * std::numbers::pi / 180.0)),
                 scale(sprite.scale[0], sprite.scale[1]));

    // A sprite without a texture has no image of its own; its children still count.
    if (const Texture* texture = sprite.texture.get()) {
        std::array<double, 4> src{0.0, 0.0, static_cast<double>(texture->width()),
                                  static_cast<double>(texture->height())};
        if (sprite.src_rect)
            src = *sprite.src_rect;
        double w = src[2];
        double h = src[3];
        double ax = sprite.anchor[0] * w;
        double ay = sprite.anchor[1] * h;

        Matrix2d model = transformed;
        if (sprite.flip_x) {
            model = multiply(multiply(model, translate(w - 2.0 * ax, 0.0)), flip_horizontal());
        }
        if (sprite.flip_y) {
            model = multiply(multiply(model, translate(0.0, h - 2.0 * ay)), flip_vertical());
        }
        Color color{sprite.color[0], sprite.color[1], sprite.color[2], sprite.opacity};
        sink.draw_image(image_quad({-ax, -ay, w, h}, src, color, model, *texture));
    }

    for (const PictureSprite& child : sprite.children)
        draw_sprite(child, transformed, sink);
}

}  // namespace morvelta
