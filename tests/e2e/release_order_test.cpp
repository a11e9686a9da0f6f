// What the program releases at its end, and in which order, seen through the calls it
// makes into SDL: a preloaded library notes them on standard error.
#include <gtest/gtest.h>

#include <thread>

#include "test_support.hpp"

namespace morvelta::testing {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> normal_end{
    "Mix_HookMusic set",     // playback starts
    "SDL_GL_DeleteContext",  // the window, after every texture and the renderer
    "SDL_DestroyWindow",
    "SDL_QuitSubSystem video",  // the window's hold on the video subsystem
    "SDL_QuitSubSystem video",  // the monitor query's
    "Mix_HookMusic cleared",    // the song: nothing stopped it before
    "Mix_CloseAudio",           // the audio system
    "SDL_QuitSubSystem audio",
};

struct Traced {
    std::vector<std::string> report;  // the program's own lines
    std::vector<std::string> calls;   // the traced calls, in order
    std::vector<std::string> all;     // both, as they came
};

Traced split(const std::string& err) {
    Traced traced;
    for (const std::string& line : lines_of(err)) {
        traced.all.push_back(line);
        if (line.starts_with("trace: ")) {
            traced.calls.push_back(line.substr(7));
        } else {
            traced.report.push_back(line);
        }
    }
    return traced;
}

RunOptions traced_run(const XvfbServer& x, const fs::path& dir) {
    return {.working_dir = dir,
            .env = {{"DISPLAY", x.display()},
                    {"LD_PRELOAD", MORVELTA_RELEASE_TRACE_LIBRARY},
                    {"MORVELTA_BACKTRACE", std::nullopt}}};
}

TEST(ReleaseOrder, SongEndReleasesNewestFirstWithoutStoppingTheSong) {
    XvfbServer x(160, 120);
    TempDir dir;
    make_song(dir.path() / "song.ogg", 1.0);
    make_picture(dir.path() / "a.png", {"-size", "16x16", "xc:red"});
    ProcessResult run = run_morvelta(traced_run(x, dir.path()));
    EXPECT_EQ(run.exit_status, 0);
    Traced traced = split(run.err);
    EXPECT_EQ(traced.calls, normal_end);
    EXPECT_TRUE(traced.report.empty());
}

TEST(ReleaseOrder, EscReleasesTheSameWay) {
    XvfbServer x(160, 120);
    TempDir dir;
    make_song(dir.path() / "song.ogg", 30.0);
    make_picture(dir.path() / "a.png", {"-size", "16x16", "xc:red"});
    auto show = start_morvelta(traced_run(x, dir.path()));
    std::string window = wait_for_morvelta_window(x.display(), *show, 10s);
    ASSERT_NE(window, "");
    std::this_thread::sleep_for(300ms);
    run_process({"xdotool", "key", "--window", window, "Escape"},
                {.env = {{"DISPLAY", x.display()}}});
    ProcessResult run = show->wait(10s);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(split(run.err).calls, normal_end);
}

TEST(ReleaseOrder, AFailedPictureIsReportedWhileTheWindowStillExists) {
    XvfbServer x(160, 120);
    TempDir dir;
    make_song(dir.path() / "song.ogg", 30.0);
    dir.write("broken.png", "not a picture at all");
    ProcessResult run = run_morvelta(traced_run(x, dir.path()));
    EXPECT_EQ(run.exit_status, 101);
    Traced traced = split(run.err);
    ASSERT_EQ(traced.all.size(), 8u) << run.err;
    EXPECT_EQ(traced.all[0],
              "thread 'main' panicked at 'called `Result::unwrap()` on an `Err` value: \"Format "
              "error: invalid signature\"', src\\failure:41:5");
    EXPECT_TRUE(traced.all[1].starts_with("note: run with"));
    // Nothing was played, so there is no hook to clear; the rest goes newest first.
    EXPECT_EQ(traced.calls,
              (std::vector<std::string>{"SDL_GL_DeleteContext", "SDL_DestroyWindow",
                                        "SDL_QuitSubSystem video", "SDL_QuitSubSystem video",
                                        "Mix_CloseAudio", "SDL_QuitSubSystem audio"}));
}

}  // namespace
}  // namespace morvelta::testing
