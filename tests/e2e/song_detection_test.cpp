// What counts as a song, seen from outside: files of other kinds under a song's name stop the
// program at once with Format; a tagged Ogg plays; layer II frames the MP3 decoder library
// would comment on leave standard error to the program's own report.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "test_support.hpp"

namespace morvelta::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string format_report =
    "thread 'main' panicked at 'Error code : Format', src\\main:94:13\n"
    "note: run with `MORVELTA_BACKTRACE=1` environment variable to display a backtrace\n";

std::string made_with(const std::vector<std::string>& argv, const fs::path& out) {
    ProcessResult made = run_process(argv, {});
    if (made.exit_status != 0)
        throw std::runtime_error(argv[0] + " failed: " + made.err);
    return read_file(out);
}

RunOptions on_display(const XvfbServer& x, const fs::path& dir) {
    return {.working_dir = dir,
            .env = {{"DISPLAY", x.display()}, {"MORVELTA_BACKTRACE", std::nullopt}}};
}

TEST(SongDetection, OtherFilesUnderASongsNameStopWithFormatAtOnce) {
    TempDir made;
    const fs::path wav = made.path() / "long.wav";
    std::map<std::string, std::string> contents;
    contents["30-second WAV"] = made_with({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16",
                                           wav.string(), "synth", "30", "pinknoise"},
                                          wav);
    const fs::path flac = made.path() / "song.flac";
    contents["FLAC"] = made_with(
        {"sox", "-n", "-r", "44100", "-c", "2", flac.string(), "synth", "3", "sine", "440"}, flac);
    const fs::path opus = made.path() / "song.opus";
    contents["Opus"] = made_with({"opusenc", "--quiet", wav.string(), opus.string()}, opus);
    contents["text"] = "Tämä ei ole laulu.\nThis is no song either.\n";
    std::mt19937 random(11);
    std::string noise(200'000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    contents["random bytes"] = noise;
    for (const auto& [kind, bytes] : contents) {
        for (const char* name : {"song.mp3", "song.ogg"}) {
            SCOPED_TRACE(kind + " as " + name);
            TempDir dir;
            dir.write(name, bytes);
            const auto start = Clock::now();
            ProcessResult run = run_morvelta({.working_dir = dir.path(),
                                              .env = {{"MORVELTA_BACKTRACE", std::nullopt}},
                                              .timeout = 10s});
            // Far less than the 30 seconds that playing the WAV would take, with room for
            // a start-up on a busy machine.
            EXPECT_LT(Clock::now() - start, 5s);
            EXPECT_EQ(run.exit_status, 101);
            EXPECT_EQ(run.err, format_report);
            EXPECT_EQ(run.out, "");
        }
    }
}

TEST(SongDetection, TaggedOggAndQuietLayerTwoFramesPlay) {
    XvfbServer x(320, 240);
    TempDir made;
    make_song(made.path() / "plain.ogg", 1.0);
    const std::string plain = read_file(made.path() / "plain.ogg");
    // An ID3v2.3 tag of 2 KiB in front of the Ogg stream, as some taggers write.
    const std::string tag =
        std::string("ID3\x03\x00\x00\x00\x00\x0F\x76", 10) + std::string(2038, '\0');
    // 64 kbps joint-stereo layer II frames with a stereo bound past their coded subbands.
    std::string layer2;
    for (int i = 0; i < 40; ++i)
        layer2 += std::string("\xFF\xFD\x40\x70", 4) + std::string(204, '\0');
    for (const auto& [name, bytes] :
         {std::pair<std::string, std::string>{"song.ogg", tag + plain}, {"song.mp3", layer2}}) {
        SCOPED_TRACE(name);
        TempDir dir;
        dir.write(name, bytes);
        make_picture(dir.path() / "p.png", {"-size", "8x8", "xc:red"});
        ProcessResult run = run_morvelta(on_display(x, dir.path()));
        EXPECT_EQ(run.exit_status, 0);
        EXPECT_EQ(run.err, "");
    }
}

TEST(SongDetection, LayerTwoFramesTheDecoderWouldCommentOnLeaveOnlyTheReport) {
    TempDir dir;
    std::string pattern;
    for (int i = 0; i < 200; ++i)
        pattern += std::string("\xFF\xFD\x10\x70", 4) + std::string(100, '\0');
    dir.write("song.mp3", pattern);
    make_picture(dir.path() / "p.png", {"-size", "8x8", "xc:red"});
    ProcessResult run =
        run_morvelta({.working_dir = dir.path(), .env = {{"MORVELTA_BACKTRACE", std::nullopt}}});
    EXPECT_EQ(run.exit_status, 101);
    EXPECT_EQ(run.err, format_report);
}

}  // namespace
}  // namespace morvelta::testing
