#include "transform.hpp"

#include <cmath>

namespace morvelta {

Matrix2d multiply(const Matrix2d& m, const Matrix2d& n) {
    Matrix2d out{};
    for (int row = 0; row < 2; ++row) {
        out[row][0] = m[row][0] * n[0][0] + m[row][1] * n[1][0];
        out[row][1] = m[row][0] * n[0][1] + m[row][1] * n[1][1];
        out[row][2] = m[row][0] * n[0][2] + m[row][1] * n[1][2] + m[row][2];
    }
    return out;
}

Matrix2d translate(double x, double y) {
    return {{{1.0, 0.0, x}, {0.0, 1.0, y}}};
}

Matrix2d rotate_radians(double angle) {
    double c = std::cos(angle);
    double s = std::sin(angle);
    return {{{c, -s, 0.0}, {s, c, 0.0}}};
}

Matrix2d scale(double sx, double sy) {
    return {{{sx, 0.0, 0.0}, {0.0, sy, 0.0}}};
}

Matrix2d flip_horizontal() {
    return {{{-1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}}};
}

Matrix2d flip_vertical() {
    return {{{1.0, 0.0, 0.0}, {0.0, -1.0, 0.0}}};
}

std::array<double, 2> apply(const Matrix2d& m, double x, double y) {
    return {m[0][0] * x + m[0][1] * y + m[0][2], m[1][0] * x + m[1][1] * y + m[1][2]};
}

Matrix2d absolute_transform(const Viewport& viewport) {
    double draw_w = viewport.draw_size[0];
    double draw_h = viewport.draw_size[1];
    double window_w = viewport.window_size[0];
    double window_h = viewport.window_size[1];
    double kx = (2.0 * (draw_w / window_w)) / static_cast<double>(viewport.rect[2]);
    double ky = (-2.0 * (draw_h / window_h)) / static_cast<double>(viewport.rect[3]);
    return {{{kx, 0.0, -1.0}, {0.0, ky, 1.0}}};
}

}  // namespace morvelta
