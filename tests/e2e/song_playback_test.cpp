// Songs as a listener hears them: the real program plays real songs made at test time into
// SDL's disk output, and the recording is checked against what the song file itself holds.
#include <gtest/gtest.h>

#include <string>

#include "test_songs.hpp"
#include "test_support.hpp"
#include "tone_analysis.hpp"

namespace morvelta::testing {
namespace {

using namespace std::chrono_literals;

constexpr int output_rate = 44100;
constexpr int output_channels = 2;

// Runs a whole show of `dir` (its song and one picture) with the sound going to a file; the
// output's left channel.
std::vector<float> play_show(const XvfbServer& x, const TempDir& dir) {
    make_picture(dir.path() / "picture.png", {"-size", "64x48", "xc:red"});
    const fs::path heard = dir.path() / ".." / (dir.path().filename().string() + ".raw");
    ProcessResult run = run_morvelta({.working_dir = dir.path(),
                                      .env = {{"DISPLAY", x.display()},
                                              {"SDL_AUDIODRIVER", "disk"},
                                              {"SDL_DISKAUDIOFILE", heard.string()},
                                              {"SDL_DISKAUDIODELAY", "0"},
                                              {"MORVELTA_BACKTRACE", std::nullopt}},
                                      .timeout = 60s});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    const std::string pcm = read_file(heard);
    fs::remove(heard);
    return channel_of(pcm, output_channels, 0);
}

TEST(SongPlayback, SongsAtEveryRateAndLayoutSoundAsTheFileHoldsThem) {
    XvfbServer x(320, 240);
    struct Case {
        const char* name;
        int rate;
        int channels;
    };
    for (const Case& song :
         {Case{"song.ogg", 48000, 2}, Case{"song.mp3", 22050, 1}, Case{"song.ogg", 11025, 1},
          Case{"song.ogg", 96000, 6}, Case{"song.mp3", 48000, 2}}) {
        SCOPED_TRACE(std::string(song.name) + " at " + std::to_string(song.rate) + " Hz, " +
                     std::to_string(song.channels) + " channels");
        TempDir dir;
        make_tone(dir.path() / song.name, song.rate, song.channels, 4.0);
        const ToneMeasure held = measure_tone(
            channel_of(decoded_by_sox(dir.path() / song.name), song.channels, 0), song.rate);
        const ToneMeasure heard = measure_tone(play_show(x, dir), output_rate);
        EXPECT_NEAR(heard.frequency, 440.0, 440.0 * 1e-4);
        EXPECT_GE(heard.snr_db, std::min(held.snr_db - 3.0, 80.0))
            << "the file holds " << held.snr_db;
        // Heard from the song's start to its last sample.
        EXPECT_NEAR(heard.end_s - heard.start_s, held.end_s - held.start_s, 0.02);
    }
}

TEST(SongPlayback, ChainedOggPlaysEveryLinkToTheEnd) {
    XvfbServer x(320, 240);
    TempDir made;
    make_tone(made.path() / "a.ogg", 48000, 2, 3.0, 440.0);
    make_tone(made.path() / "b.ogg", 22050, 1, 2.5, 660.0);
    TempDir dir;
    dir.write("chained.ogg", read_file(made.path() / "a.ogg") + read_file(made.path() / "b.ogg"));
    const std::vector<float> heard = play_show(x, dir);
    const ToneMeasure whole = measure_tone(heard, output_rate);
    EXPECT_NEAR(whole.end_s - whole.start_s, 5.5, 0.02);
    const auto second_link =
        heard.begin() + static_cast<long>((whole.start_s + 3.05) * output_rate);
    const ToneMeasure link =
        measure_tone(std::vector<float>(
                         second_link, heard.begin() + static_cast<long>(whole.end_s * output_rate)),
                     output_rate);
    EXPECT_NEAR(link.frequency, 660.0, 660.0 * 1e-4);
}

TEST(SongPlayback, FormatsItCannotPlayStopAtTheSongWithFormat) {
    TempDir made;
    make_tone(made.path() / "song.ogg", 44100, 2, 1.0);
    const std::string song = read_file(made.path() / "song.ogg");
    for (const auto& [channels, rate] :
         {std::pair{2, 4'194'303u}, std::pair{2, 16'000'000u}, std::pair{9, 44'100u}}) {
        SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(rate) + " Hz");
        TempDir dir;
        dir.write("song.ogg", with_declared_format(song, channels, rate));
        make_picture(dir.path() / "picture.png", {"-size", "64x48", "xc:red"});
        ProcessResult run = run_morvelta(
            {.working_dir = dir.path(), .env = {{"MORVELTA_BACKTRACE", std::nullopt}}});
        EXPECT_EQ(run.exit_status, 101);
        EXPECT_EQ(run.err,
                  "thread 'main' panicked at 'Error code : Format', src\\main:94:13\n"
                  "note: run with `MORVELTA_BACKTRACE=1` environment variable to display a "
                  "backtrace\n");
    }
}

}  // namespace
}  // namespace morvelta::testing
