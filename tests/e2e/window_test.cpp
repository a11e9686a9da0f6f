// The program's window under a private X server: its size, title and OpenGL context,
// Esc ending the show, and the stop without any display.
#include "window.hpp"

#include <SDL.h>
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "monitor.hpp"
#include "test_support.hpp"
#include "x_close_request.hpp"

namespace morvelta::testing {
namespace {

using namespace std::chrono_literals;

const std::string hint =
    "note: run with `MORVELTA_BACKTRACE=1` environment variable to display a backtrace";
const std::string no_monitor_line =
    "thread 'main' panicked at 'Failed to find the primary monitor', src\\monitor:61:5";

std::string tool_output(const std::vector<std::string>& argv, const std::string& display) {
    ProcessResult run = run_process(argv, {.env = {{"DISPLAY", display}}, .timeout = 10s});
    return run.exit_status == 0 ? run.out : std::string();
}

// The id of the window titled exactly "morvelta", waiting for it to be mapped.
struct ScreenCase {
    int width;
    int height;
};

class ShowWindow : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(ShowWindow, CoversTheScreenIsTitledAndEscEndsTheShowWithStatusZero) {
    const ScreenCase screen = GetParam();
    XvfbServer server(screen.width, screen.height);
    TempDir dir;
    make_song(dir.path() / "song.ogg", 30);
    make_picture(dir.path() / "picture.png", {"-size", "64x48", "xc:orange"});
    std::unique_ptr<ChildProcess> show =
        start_morvelta({.working_dir = dir.path(), .env = {{"DISPLAY", server.display()}}});

    const std::string id = wait_for_morvelta_window(server.display(), *show);
    ASSERT_FALSE(id.empty()) << show->wait(1s).err;
    // The window manager-less server applies the full-screen placement right after the
    // map; give it a moment before judging.
    const std::vector<std::string> expected = {
        "Map State: IsViewable", "Absolute upper-left X:  0\n", "Absolute upper-left Y:  0\n",
        "Width: " + std::to_string(screen.width) + "\n",
        "Height: " + std::to_string(screen.height) + "\n"};
    std::string geometry;
    for (auto until = std::chrono::steady_clock::now() + 5s;
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
        geometry = tool_output({"xwininfo", "-id", id}, server.display());
        if (std::all_of(expected.begin(), expected.end(), [&](const std::string& part) {
                return geometry.find(part) != std::string::npos;
            })) {
            break;
        }
    }
    for (const std::string& part : expected) {
        EXPECT_NE(geometry.find(part), std::string::npos) << part << " in\n" << geometry;
    }
    EXPECT_EQ(tool_output({"xdotool", "getwindowname", id}, server.display()), "morvelta\n");
    // A few frames in, the show is still running.
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(show->finished());

    tool_output({"xdotool", "key", "--window", id, "Escape"}, server.display());
    const auto pressed = std::chrono::steady_clock::now();
    ProcessResult ended = show->wait(10s);
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, 2s);
    EXPECT_FALSE(ended.timed_out);
    EXPECT_EQ(ended.exit_status, 0);
    EXPECT_EQ(ended.err, "");
}

INSTANTIATE_TEST_SUITE_P(Screens, ShowWindow,
                         ::testing::Values(ScreenCase{1280, 720}, ScreenCase{1024, 768}));

TEST(ShowWindowClose, ACloseRequestEndsTheShowWithStatusZero) {
    XvfbServer server(800, 600);
    TempDir dir;
    make_song(dir.path() / "song.ogg", 30);
    make_picture(dir.path() / "picture.png", {"-size", "64x48", "xc:orange"});
    std::unique_ptr<ChildProcess> show =
        start_morvelta({.working_dir = dir.path(), .env = {{"DISPLAY", server.display()}}});
    const std::string id = wait_for_morvelta_window(server.display(), *show);
    ASSERT_FALSE(id.empty()) << show->wait(1s).err;
    ASSERT_TRUE(send_close_request(server.display(), id));
    ProcessResult ended = show->wait(10s);
    EXPECT_FALSE(ended.timed_out);
    EXPECT_EQ(ended.exit_status, 0);
    EXPECT_EQ(ended.err, "");
}

TEST(NoMonitor, WithoutDisplayOrWithAnInvisibleDriverTheShowStops) {
    TempDir dir;
    make_song(dir.path() / "song.ogg", 30);
    ProcessResult headless = run_morvelta({.working_dir = dir.path(),
                                           .env = {{"DISPLAY", std::nullopt},
                                                   {"WAYLAND_DISPLAY", std::nullopt},
                                                   {"XDG_RUNTIME_DIR", std::nullopt},
                                                   {"MORVELTA_BACKTRACE", std::nullopt}}});
    EXPECT_EQ(headless.exit_status, 101);
    EXPECT_EQ(headless.err, no_monitor_line + "\n" + hint + "\n");
    ProcessResult with_runtime_dir = run_morvelta({.working_dir = dir.path(),
                                                   .env = {{"DISPLAY", std::nullopt},
                                                           {"WAYLAND_DISPLAY", std::nullopt},
                                                           {"XDG_RUNTIME_DIR", dir.path().string()},
                                                           {"MORVELTA_BACKTRACE", std::nullopt}}});
    EXPECT_EQ(with_runtime_dir.exit_status, 101);
    EXPECT_EQ(with_runtime_dir.err, no_monitor_line + "\n" + hint + "\n");

    XvfbServer server(640, 480);
    for (const char* driver : {"dummy", "offscreen"}) {
        ProcessResult invisible = run_morvelta({.working_dir = dir.path(),
                                                .env = {{"DISPLAY", server.display()},
                                                        {"SDL_VIDEODRIVER", driver},
                                                        {"MORVELTA_BACKTRACE", std::nullopt}}});
        EXPECT_EQ(invisible.exit_status, 101) << driver;
        EXPECT_EQ(invisible.err, no_monitor_line + "\n" + hint + "\n") << driver;
    }
}

TEST(NoWindow, AContextTheDriverRefusesStopsWithTheUnwrapFormAndSdlsText) {
    XvfbServer server(800, 600);
    TempDir dir;
    make_song(dir.path() / "song.ogg", 30);
    // Mesa then offers no context above OpenGL 3.1.
    ProcessResult run = run_morvelta({.working_dir = dir.path(),
                                      .env = {{"DISPLAY", server.display()},
                                              {"MESA_GL_VERSION_OVERRIDE", "3.1"},
                                              {"MORVELTA_BACKTRACE", std::nullopt}}});
    EXPECT_EQ(run.exit_status, 101);
    const std::vector<std::string> lines = lines_of(run.err);
    ASSERT_EQ(lines.size(), 2u) << run.err;
    EXPECT_TRUE(lines[0].starts_with(
        "thread 'main' panicked at 'called `Result::unwrap()` on an `Err` value: \"Could not "
        "create GL context"))
        << lines[0];
    EXPECT_TRUE(lines[0].ends_with("\"', src\\failure:41:5")) << lines[0];
    EXPECT_EQ(lines[1], hint);
}

// The window built in this process, to look into its OpenGL context.
class BuiltWindow : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("DISPLAY", server.display().c_str(), 1); }
    void TearDown() override { ::unsetenv("DISPLAY"); }
    XvfbServer server{1024, 768};
};

TEST_F(BuiltWindow, HasAnSrgbOpenGl32ContextAndTheMonitorSize) {
    MonitorEventsLoop monitor_events;
    const MonitorRecord monitor = get_primary_monitor(monitor_events);
    EXPECT_EQ(monitor.width, 1024u);
    EXPECT_EQ(monitor.height, 768u);
    EXPECT_TRUE(monitor.primary);
    EXPECT_EQ(monitor.scale_factor, 1.0f);

    PistonWindow window = PistonWindow::build(WindowSettings("morvelta", {1024, 768})
                                                  .exit_on_esc(true)
                                                  .opengl(OpenGL::V3_2)
                                                  .fullscreen(true))
                              .unwrap();
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    EXPECT_GE(major * 10 + minor, 32);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    GLint encoding = 0, depth = 0, stencil = 0, alpha = 0;
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_BACK_LEFT,
                                          GL_FRAMEBUFFER_ATTACHMENT_COLOR_ENCODING, &encoding);
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_BACK_LEFT,
                                          GL_FRAMEBUFFER_ATTACHMENT_ALPHA_SIZE, &alpha);
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH,
                                          GL_FRAMEBUFFER_ATTACHMENT_DEPTH_SIZE, &depth);
    glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_STENCIL,
                                          GL_FRAMEBUFFER_ATTACHMENT_STENCIL_SIZE, &stencil);
    EXPECT_EQ(encoding, GL_SRGB);
    EXPECT_EQ(alpha, 8);
    EXPECT_EQ(depth, 24);
    EXPECT_EQ(stencil, 8);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(SDL_GL_GetSwapInterval(), 0);
    EXPECT_EQ(window.back_end().recorded_scale(), 1.0);
    EXPECT_EQ(window.back_end().make_current(), std::nullopt);

    // The stream opens with the window's pending input, then a render at full size.
    std::optional<Event> event = window.next();
    while (event && event->input() != nullptr)
        event = window.next();
    ASSERT_TRUE(event && event->render_args());
    const RenderArgs args = *event->render_args();
    EXPECT_EQ(args.width, 1024u);
    EXPECT_EQ(args.height, 768u);
    EXPECT_EQ(args.draw_width, 1024u);
    EXPECT_EQ(args.draw_height, 768u);
    EXPECT_GE(args.ext_dt, 0.0);
    event = window.next();
    ASSERT_TRUE(event);
    EXPECT_TRUE(event->is_after_render());

    window.set_should_close(true);
    EXPECT_FALSE(window.next().has_value());
}

TEST_F(BuiltWindow, AWindowedDescriptionKeepsItsSizeAndMultisamplingFallsBack) {
    MonitorEventsLoop monitor_events;
    {
        PistonWindow window =
            PistonWindow::build(WindowSettings("small", {320, 200}).resizable(false).srgb(false))
                .unwrap();
        GLint encoding = 0;
        glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_BACK_LEFT,
                                              GL_FRAMEBUFFER_ATTACHMENT_COLOR_ENCODING, &encoding);
        EXPECT_EQ(encoding, GL_SRGB);
        EXPECT_EQ(window.window_size().width, 320u);
        EXPECT_EQ(window.drawable_size().height, 200u);
        EXPECT_EQ(std::string(SDL_GetWindowTitle(window.back_end().sdl_window())), "small");
    }
    // Xvfb's visuals have no 16-sample configuration: the retry without samples builds.
    EXPECT_TRUE(PistonWindow::build(WindowSettings("x", {64, 64}).samples(16)).is_ok());
}

TEST(WindowBuild, AVideoDriverWithoutOpenGlGivesSdlsText) {
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    Result<PistonWindow, std::string> refused =
        PistonWindow::build(WindowSettings("morvelta", {64, 64}).opengl(OpenGL::V3_2));
    ::unsetenv("SDL_VIDEODRIVER");
    ASSERT_FALSE(refused.is_ok());
    EXPECT_NE(refused.error().find("OpenGL"), std::string::npos) << refused.error();
}

}  // namespace
}  // namespace morvelta::testing
