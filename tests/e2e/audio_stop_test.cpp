// The audio steps' stops, seen from outside: each writes exactly its report (and the
// hint) and ends the program with status 101, before any window could open.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "test_support.hpp"

namespace morvelta::testing {
namespace {

const std::string hint =
    "note: run with `MORVELTA_BACKTRACE=1` environment variable to display a backtrace\n";

std::string report(const std::string& message, const std::string& position) {
    return "thread 'main' panicked at '" + message + "', " + position + "\n" + hint;
}

TEST(AudioStop, NoOutputDeviceStopsWithOutputInit) {
    TempDir dir;
    make_song(dir.path() / "song.ogg", 0.5);
    ProcessResult run = run_morvelta(
        {.working_dir = dir.path(),
         .env = {{"SDL_AUDIODRIVER", "nosuchdriver"}, {"MORVELTA_BACKTRACE", std::nullopt}}});
    EXPECT_EQ(run.exit_status, 101);
    EXPECT_EQ(run.err, report("FmodSys.init failed : OutputInit", "src\\main:87:13"));
}

TEST(AudioStop, OutputThatCannotBeOpenedLeavesOnlyTheReport) {
    TempDir dir;
    make_song(dir.path() / "song.ogg", 0.5);
    // ALSA asks PulseAudio where its plug-in is configured, and PulseAudio's library keeps
    // a runtime link in the home folder: the runner's own stays untouched.
    TempDir home;
    // SDL's ALSA output, told to open a device that exists nowhere.
    ProcessResult run = run_morvelta({.working_dir = dir.path(),
                                      .env = {{"SDL_AUDIODRIVER", "alsa"},
                                              {"AUDIODEV", "nosuchpcm"},
                                              {"HOME", home.path().string()},
                                              {"MORVELTA_BACKTRACE", std::nullopt}}});
    EXPECT_EQ(run.exit_status, 101);
    EXPECT_EQ(run.err, report("FmodSys.init failed : OutputInit", "src\\main:87:13"));
}

TEST(AudioStop, SongsThatCannotBeOpenedStopWithTheirNameAndNothingElse) {
    TempDir made;
    make_song(made.path() / "good.mp3", 0.5);
    const std::string good = [&] {
        std::ifstream in(made.path() / "good.mp3", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    // Left to itself the MP3 decoder would comment on this one on standard error.
    const std::string damaged = good.substr(0, 4) + std::string(8000, '\0');
    for (const auto& [name, content] :
         {std::pair<std::string, std::string>{"song.mp3", "plain words\n"},
          {"song.ogg", ""},
          {"song.mp3", damaged}}) {
        TempDir dir;
        dir.write(name, content);
        ProcessResult run = run_morvelta(
            {.working_dir = dir.path(), .env = {{"MORVELTA_BACKTRACE", std::nullopt}}});
        EXPECT_EQ(run.exit_status, 101) << name;
        EXPECT_EQ(run.err, report("Error code : Format", "src\\main:94:13")) << name;
        EXPECT_EQ(run.out, "");
    }
}

}  // namespace
}  // namespace morvelta::testing
