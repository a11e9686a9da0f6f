#include "transform.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace morvelta {
namespace {

void expect_point(const std::array<double, 2>& got, double x, double y) {
    EXPECT_NEAR(got[0], x, 1e-9);
    EXPECT_NEAR(got[1], y, 1e-9);
}

TEST(Matrix, ProductAppliesTheRightFactorFirst) {
    Matrix2d m = multiply(translate(10.0, 20.0), scale(2.0, 3.0));
    expect_point(apply(m, 1.0, 1.0), 12.0, 23.0);
    Matrix2d n = multiply(scale(2.0, 3.0), translate(10.0, 20.0));
    expect_point(apply(n, 1.0, 1.0), 22.0, 63.0);
    expect_point(apply(multiply(identity_matrix, m), 1.0, 1.0), 12.0, 23.0);
}

TEST(Matrix, RotationTurnsXTowardsY) {
    Matrix2d r = rotate_radians(std::numbers::pi / 2.0);
    expect_point(apply(r, 1.0, 0.0), 0.0, 1.0);
    expect_point(apply(r, 0.0, 1.0), -1.0, 0.0);
    expect_point(apply(flip_horizontal(), 3.0, 4.0), -3.0, 4.0);
    expect_point(apply(flip_vertical(), 3.0, 4.0), 3.0, -4.0);
}

TEST(AbsoluteTransform, MapsTheWindowOntoDeviceCoordinates) {
    RenderArgs args{0.0, 1366, 768, 1366, 768};
    Matrix2d m = absolute_transform(args.viewport());
    EXPECT_EQ(m[0][0], (2.0 * (1366.0 / 1366.0)) / 1366.0);
    EXPECT_EQ(m[1][1], (-2.0 * (768.0 / 768.0)) / 768.0);
    EXPECT_EQ(m[0][1], 0.0);
    EXPECT_EQ(m[1][0], 0.0);
    EXPECT_EQ(m[0][2], -1.0);
    EXPECT_EQ(m[1][2], 1.0);
    expect_point(apply(m, 0.0, 0.0), -1.0, 1.0);
    expect_point(apply(m, 1366.0, 768.0), 1.0, -1.0);
    expect_point(apply(m, 683.0, 384.0), 0.0, 0.0);
}

TEST(AbsoluteTransform, WorksInPointsWhenTheDrawableIsDenser) {
    // A display scale of 2: the drawable has twice the window's points.
    Matrix2d m = absolute_transform(RenderArgs{0.0, 960, 540, 1920, 1080}.viewport());
    expect_point(apply(m, 960.0, 540.0), 1.0, -1.0);
    // The rectangle's origin plays no part.
    Viewport shifted = RenderArgs{0.0, 960, 540, 1920, 1080}.viewport();
    shifted.rect[0] = 50;
    shifted.rect[1] = 70;
    EXPECT_EQ(absolute_transform(shifted), m);
}

}  // namespace
}  // namespace morvelta
