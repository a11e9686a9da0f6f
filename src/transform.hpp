// 2-D affine transforms in 64-bit floats, and the one that maps window
// coordinates (origin top-left, y down) onto normalised device coordinates.
#pragma once

#include <array>

#include "render_args.hpp"

namespace morvelta {

// [[a, b, c], [d, e, f]]: maps (x, y) to (a·x + b·y + c, d·x + e·y + f).
using Matrix2d = std::array<std::array<double, 3>, 2>;

inline constexpr Matrix2d identity_matrix{{{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}}};

// M·N with the implied last row [0, 0, 1]: the product applies N first.
Matrix2d multiply(const Matrix2d& m, const Matrix2d& n);

Matrix2d translate(double x, double y);
// Counter-clockwise in a y-up frame, so clockwise on screen where y points down.
Matrix2d rotate_radians(double angle);
Matrix2d scale(double sx, double sy);
// Mirrors x (or y) about the origin.
Matrix2d flip_horizontal();
Matrix2d flip_vertical();

// The point (x, y) under `m`.
std::array<double, 2> apply(const Matrix2d& m, double x, double y);

// Window coordinates in points to normalised device coordinates: (0, 0) goes to
// (-1, 1) and (window width, window height) to (1, -1). The factors are computed
// in the order that keeps the results bit for bit stable across frames.
Matrix2d absolute_transform(const Viewport& viewport);

}  // namespace morvelta
