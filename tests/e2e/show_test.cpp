// Whole shows as a user sees them: a real window under Xvfb, silent real-time audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "test_support.hpp"

namespace morvelta::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int screen_w = 320;
constexpr int screen_h = 240;

const std::string hint =
    "note: run with `MORVELTA_BACKTRACE=1` environment variable to display a backtrace";

// Corner colours (top-left, top-right, bottom-left, bottom-right) of each test picture;
// 0 and 255 survive the sRGB round trip exactly.
const std::vector<std::array<Rgb, 4>> corner_sets{
    {Rgb{255, 0, 0}, Rgb{0, 255, 0}, Rgb{0, 0, 255}, Rgb{255, 255, 0}},
    {Rgb{0, 255, 0}, Rgb{0, 0, 255}, Rgb{255, 255, 0}, Rgb{255, 0, 255}},
    {Rgb{0, 0, 255}, Rgb{255, 0, 255}, Rgb{0, 255, 255}, Rgb{255, 0, 0}},
};

std::string colour(const Rgb& c) {
    return "rgb(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) +
           ")";
}

// A picture of four coloured quadrants, in a size unlike the screen's.
void make_quadrants(const fs::path& path, const std::array<Rgb, 4>& corners) {
    make_picture(
        path, {"-size", "64x48", "xc:" + colour(corners[0]), "-fill", colour(corners[1]), "-draw",
               "rectangle 32,0 63,23", "-fill", colour(corners[2]), "-draw", "rectangle 0,24 31,47",
               "-fill", colour(corners[3]), "-draw", "rectangle 32,24 63,47"});
}

// Which test picture covers the whole screen, or -1.
int picture_on_screen(const Screenshot& shot) {
    std::array<Rgb, 4> seen{shot.at(4, 4), shot.at(screen_w - 5, 4), shot.at(4, screen_h - 5),
                            shot.at(screen_w - 5, screen_h - 5)};
    for (size_t i = 0; i < corner_sets.size(); ++i) {
        if (seen == corner_sets[i])
            return static_cast<int>(i);
    }
    return -1;
}

RunOptions on_display(const XvfbServer& x, const fs::path& dir) {
    return {.working_dir = dir,
            .env = {{"DISPLAY", x.display()}, {"MORVELTA_BACKTRACE", std::nullopt}}};
}

TEST(Show, PicturesFollowEachOtherInStepWithTheSongAndTheShowEndsWithIt) {
    XvfbServer x(screen_w, screen_h);
    TempDir dir;
    // Two seconds a picture: enough for several screenshots each on a busy machine.
    make_song(dir.path() / "song.ogg", 6.0);
    make_quadrants(dir.path() / "a" / "0.png", corner_sets[0]);
    make_quadrants(dir.path() / "b" / "1.png", corner_sets[1]);
    make_quadrants(dir.path() / "c" / "2.png", corner_sets[2]);
    // Listing order decides which picture comes first; ask the file system for it.
    ProcessResult order = run_process({"find", ".", "-name", "*.png"}, {.working_dir = dir.path()});
    std::vector<int> expected;
    for (const std::string& line : lines_of(order.out))
        expected.push_back(line[line.size() - 5] - '0');

    auto start = Clock::now();
    auto show = start_morvelta(on_display(x, dir.path()));
    std::vector<int> seen;
    while (!show->finished() && Clock::now() - start < 30s) {
        int shown = picture_on_screen(grab_screen(x.display(), screen_w, screen_h));
        if (shown >= 0 && (seen.empty() || seen.back() != shown))
            seen.push_back(shown);
    }
    ProcessResult result = show->wait(5s);
    auto elapsed = Clock::now() - start;
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(seen, expected);
    EXPECT_GE(elapsed, 6s);
    EXPECT_LT(elapsed, 20s);
}

TEST(Show, TransparentPixelsShowWhiteAndHalfAlphaBlendsInLinearLight) {
    XvfbServer x(screen_w, screen_h);
    TempDir dir;
    // Long enough to outlast any wait for the window on a busy machine; Esc ends it.
    make_song(dir.path() / "song.mp3", 30.0);
    // Left half fully transparent, right half black at alpha 128.
    make_picture(dir.path() / "glass.png",
                 {"-size", "64x48", "xc:rgba(0,0,0,0)", "-fill", "rgba(0,0,0,0.50196)", "-draw",
                  "rectangle 32,0 63,47", "-define", "png:color-type=6"});
    auto show = start_morvelta(on_display(x, dir.path()));
    const std::string window = wait_for_morvelta_window(x.display(), *show);
    ASSERT_NE(window, "");
    std::this_thread::sleep_for(600ms);
    Screenshot shot = grab_screen(x.display(), screen_w, screen_h);
    run_process({"xdotool", "key", "--window", window, "Escape"},
                {.env = {{"DISPLAY", x.display()}}});
    ProcessResult result = show->wait(15s);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(shot.at(40, 120), (Rgb{255, 255, 255}));
    Rgb half = shot.at(280, 120);
    for (int channel : {half.r, half.g, half.b})
        EXPECT_NEAR(channel, 187, 1);
}

TEST(Show, EscEndsTheShowAtOnceWithStatusZero) {
    XvfbServer x(screen_w, screen_h);
    TempDir dir;
    make_song(dir.path() / "song.ogg", 30.0);
    make_quadrants(dir.path() / "0.png", corner_sets[0]);
    auto show = start_morvelta(on_display(x, dir.path()));
    std::string window = wait_for_morvelta_window(x.display(), *show, 10s);
    ASSERT_NE(window, "");
    std::this_thread::sleep_for(500ms);
    run_process({"xdotool", "key", "--window", window, "Escape"},
                {.env = {{"DISPLAY", x.display()}}});
    auto pressed = Clock::now();
    ProcessResult result = show->wait(10s);
    EXPECT_LT(Clock::now() - pressed, 2s);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.err, "");
}

TEST(Show, SongWithoutPicturesStopsAtTheFirstFrame) {
    XvfbServer x(screen_w, screen_h);
    TempDir dir;
    make_song(dir.path() / "only.ogg", 5.0);
    ProcessResult result = run_morvelta(on_display(x, dir.path()));
    EXPECT_EQ(result.exit_status, 101);
    EXPECT_EQ(lines_of(result.err),
              (std::vector<std::string>{"thread 'main' panicked at 'called `Option::unwrap()` on a "
                                        "`None` value', src\\failure:47:5",
                                        hint}));
}

}  // namespace
}  // namespace morvelta::testing

namespace morvelta::testing {
namespace {

// Every file below `dir`, for comparing a tree before and after a run.
std::vector<std::string> tree_of(const fs::path& dir) {
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        entries.push_back(entry.path().string() + " " +
                          std::to_string(entry.is_regular_file() ? entry.file_size() : 0));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

TEST(Show, AShowWritesNoFileAnywhere) {
    XvfbServer x(screen_w, screen_h);
    TempDir dir;
    TempDir home;
    make_song(dir.path() / "song.ogg", 1.0);
    make_quadrants(dir.path() / "0.png", corner_sets[0]);
    std::vector<std::string> before = tree_of(dir.path());
    RunOptions options = on_display(x, dir.path());
    options.env["HOME"] = home.path().string();
    options.env["XDG_CACHE_HOME"] = (home.path() / ".cache").string();
    options.env["XDG_CONFIG_HOME"] = (home.path() / ".config").string();
    // The program turns Mesa's shader cache off itself, whatever the runner's setting.
    options.env["MESA_SHADER_CACHE_DISABLE"] = std::nullopt;
    ProcessResult result = run_morvelta(options);
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(tree_of(dir.path()), before);
    EXPECT_EQ(tree_of(home.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace morvelta::testing
