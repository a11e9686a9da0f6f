// The show among other windows and displays: it opens on the primary display wherever
// that lies on the desktop, and draws nothing while its window is hidden or minimised.
#include <SDL.h>
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "test_support.hpp"

namespace morvelta::testing {
namespace {

using namespace std::chrono_literals;

// Whether a window position SDL is given for one axis puts the window on the display
// with `index`, which covers [origin, origin + extent) on that axis.
bool places_on_display(int position, int index, int origin, int extent) {
    if (SDL_WINDOWPOS_ISUNDEFINED(position) || SDL_WINDOWPOS_ISCENTERED(position))
        return (position & 0xFFFF) == index;
    return position >= origin && position < origin + extent;
}

TEST(PrimaryDisplay, TheShowOpensOnThePrimaryDisplayAtItsSizeNotOnTheOneAtTheOrigin) {
    // The preloaded layout: display 1 is the left half of the screen, at the origin;
    // display 0, the primary, is the right half.
    XvfbServer server(1600, 600);
    TempDir dir;
    make_song(dir.path() / "song.ogg", 1.0);
    make_picture(dir.path() / "a.png", {"-size", "16x16", "xc:red"});
    ProcessResult run = run_morvelta({.working_dir = dir.path(),
                                      .env = {{"DISPLAY", server.display()},
                                              {"LD_PRELOAD", MORVELTA_TWO_DISPLAYS_LIBRARY},
                                              {"MORVELTA_BACKTRACE", std::nullopt}}});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    const std::vector<std::string> lines = lines_of(run.err);
    ASSERT_EQ(lines.size(), 1u) << run.err;
    std::istringstream created(lines[0]);
    std::string trace, call;
    int x = 0, y = 0, width = 0, height = 0;
    created >> trace >> call >> x >> y >> width >> height;
    ASSERT_EQ(call, "SDL_CreateWindow") << lines[0];
    EXPECT_TRUE(places_on_display(x, 0, 800, 800)) << lines[0];
    EXPECT_TRUE(places_on_display(y, 0, 0, 600)) << lines[0];
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 600);
}

// A running show whose buffer swaps are counted.
class CountedShow {
  public:
    explicit CountedShow(const XvfbServer& server) : server_(server) {
        make_song(show_dir_.path() / "song.ogg", 30);
        make_picture(show_dir_.path() / "a.png", {"-size", "64x48", "xc:orange"});
        show_ = start_morvelta({.working_dir = show_dir_.path(),
                                .env = {{"DISPLAY", server.display()},
                                        {"LD_PRELOAD", MORVELTA_SWAP_COUNT_LIBRARY},
                                        {"MORVELTA_SWAP_COUNT_FILE", count_file().string()}}});
        window_ = wait_for_morvelta_window(server.display(), *show_);
    }
    const std::string& window() const { return window_; }
    ChildProcess& process() { return *show_; }

    // Runs an X tool against the show's window, then waits for the show to notice.
    void x_tool(std::vector<std::string> argv) {
        for (std::string& arg : argv) {
            if (arg == "WINDOW")
                arg = window_;
        }
        ProcessResult run = run_process(argv, {.env = {{"DISPLAY", server_.display()}}});
        EXPECT_EQ(run.exit_status, 0) << argv[0] << ": " << run.err;
        std::this_thread::sleep_for(300ms);
    }

    // The frames shown over the next second.
    std::uintmax_t swaps_in_a_second() {
        const std::uintmax_t before = swaps();
        std::this_thread::sleep_for(1s);
        return swaps() - before;
    }

  private:
    fs::path count_file() const { return count_dir_.path() / "swaps"; }
    std::uintmax_t swaps() const {
        std::error_code error;
        const std::uintmax_t size = fs::file_size(count_file(), error);
        return error ? 0 : size;
    }

    const XvfbServer& server_;
    TempDir show_dir_;
    TempDir count_dir_;  // outside the folder the show lists
    std::unique_ptr<ChildProcess> show_;
    std::string window_;
};

TEST(HiddenWindow, NothingIsDrawnWhileTheWindowIsUnmappedOrHiddenAndDrawingResumesWhenShown) {
    XvfbServer server(320, 240);
    CountedShow show(server);
    ASSERT_FALSE(show.window().empty()) << show.process().wait(1s).err;
    // About 59 frames a second while the window is seen; a loaded machine may manage
    // fewer, never none.
    EXPECT_GT(show.swaps_in_a_second(), 10u);

    show.x_tool({"xdotool", "windowunmap", "WINDOW"});
    EXPECT_EQ(show.swaps_in_a_second(), 0u);
    show.x_tool({"xdotool", "windowmap", "WINDOW"});
    EXPECT_GT(show.swaps_in_a_second(), 10u);

    // What a compositing window manager does to minimise a window without unmapping it.
    show.x_tool({"xprop", "-id", "WINDOW", "-f", "_NET_WM_STATE", "32a", "-set", "_NET_WM_STATE",
                 "_NET_WM_STATE_HIDDEN"});
    EXPECT_EQ(show.swaps_in_a_second(), 0u);
    show.x_tool({"xprop", "-id", "WINDOW", "-remove", "_NET_WM_STATE"});
    EXPECT_GT(show.swaps_in_a_second(), 10u);

    // The hidden time did not end the show, and Esc still does.
    EXPECT_FALSE(show.process().finished());
    show.x_tool({"xdotool", "key", "--window", "WINDOW", "Escape"});
    ProcessResult ended = show.process().wait(10s);
    EXPECT_EQ(ended.exit_status, 0);
    EXPECT_EQ(ended.err, "");
}

}  // namespace
}  // namespace morvelta::testing
