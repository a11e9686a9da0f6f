// The window description's defaults and builders, the OpenGL version tables, and the
// window sizes derived from display scales.
#include "window_settings.hpp"

#include <gtest/gtest.h>

#include "window.hpp"

namespace morvelta {
namespace {

TEST(WindowSettings, DefaultsAndTheProgramsChainOfBuilders) {
    const WindowSettings defaults("morvelta", {1920, 1080});
    EXPECT_EQ(defaults.get_title(), "morvelta");
    EXPECT_EQ(defaults.get_size().width, 1920u);
    EXPECT_EQ(defaults.get_samples(), 0);
    EXPECT_FALSE(defaults.get_fullscreen());
    EXPECT_FALSE(defaults.get_exit_on_esc());
    EXPECT_FALSE(defaults.get_vsync());
    EXPECT_EQ(defaults.get_opengl(), OpenGL::none);
    EXPECT_TRUE(defaults.get_srgb());
    EXPECT_TRUE(defaults.get_resizable());
    EXPECT_TRUE(defaults.get_decorated());
    EXPECT_TRUE(defaults.get_controllers());

    const WindowSettings show = WindowSettings("morvelta", {1280, 720})
                                    .exit_on_esc(true)
                                    .opengl(OpenGL::V3_2)
                                    .fullscreen(true);
    EXPECT_TRUE(show.get_exit_on_esc());
    EXPECT_EQ(show.get_opengl(), OpenGL::V3_2);
    EXPECT_TRUE(show.get_fullscreen());
    EXPECT_EQ(show.get_size().height, 720u);
    EXPECT_TRUE(show.get_resizable());
    EXPECT_FALSE(show.get_vsync());
}

TEST(OpenGLVersion, TwelveTagsInOrderWithTheirNumbersAndShadingLanguage) {
    EXPECT_EQ(static_cast<int>(OpenGL::V3_2), 4);
    EXPECT_EQ(static_cast<int>(OpenGL::none), 12);
    EXPECT_EQ(gl_version(OpenGL::V2_0).major, 2);
    EXPECT_EQ(gl_version(OpenGL::V3_2).minor, 2);
    EXPECT_EQ(gl_version(OpenGL::V4_5).major, 4);
    EXPECT_EQ(gl_version(OpenGL::V4_5).minor, 5);
    EXPECT_EQ(glsl_version(OpenGL::V3_2), GLSL::V1_50);
    EXPECT_EQ(glsl_version(OpenGL::V2_1), GLSL::V1_20);
    EXPECT_EQ(glsl_version(OpenGL::V3_3), GLSL::V3_30);
}

TEST(WindowSizes, ScaleRecordedOnlyForAnExactSizeAndSizesFollowIt) {
    EXPECT_EQ(scale_to_record(1.0, {800, 600}, {800, 600}), 1.0);
    EXPECT_EQ(scale_to_record(2.0, {800, 600}, {800, 600}), 2.0);
    EXPECT_EQ(scale_to_record(2.0, {800, 601}, {800, 600}), 1.0);

    const WindowSizes plain = window_sizes({1280, 720}, 1.0, 1.0);
    EXPECT_EQ(plain.window.width, 1280u);
    EXPECT_EQ(plain.drawable.height, 720u);
    const WindowSizes recorded = window_sizes({641, 480}, 1.5, 1.5);
    EXPECT_EQ(recorded.window.width, 641u);
    EXPECT_EQ(recorded.drawable.width, 961u);  // 961.5 truncated
    const WindowSizes changed = window_sizes({800, 600}, 2.0, 1.0);
    EXPECT_EQ(changed.window.width, 400u);
    EXPECT_EQ(changed.drawable.width, 800u);
}

TEST(WindowBuild, ASampleCountThatIsNoPowerOfTwoStopsBeforeAnyWindow) {
    EXPECT_THROW(PistonWindow::build(WindowSettings("x", {64, 64}).samples(3)), Panic);
}

}  // namespace
}  // namespace morvelta
