// Our audio layer for real, on SDL's silent dummy output: songs made with sox play in real
// time, so lengths, positions and endings can be checked against the clock.
#include "fmod_layer.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "test_songs.hpp"
#include "test_support.hpp"
#include "tone_analysis.hpp"

namespace morvelta::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class FmodLayer : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        ASSERT_EQ(FMOD_System_Create(&system_), FMOD_OK);
        ASSERT_EQ(FMOD_System_Init(system_, 1, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    }
    void TearDown() override {
        EXPECT_EQ(FMOD_System_Close(system_), FMOD_OK);
        EXPECT_EQ(FMOD_System_Release(system_), FMOD_OK);
    }
    FMOD_RESULT open(const fs::path& path, FMOD_SOUND** sound) {
        return FMOD_System_CreateSound(system_, path.c_str(), FMOD_DEFAULT_STREAM_MODE, nullptr,
                                       sound);
    }
    static std::uint32_t position(FMOD_CHANNEL* channel) {
        std::uint32_t ms = 0;
        EXPECT_EQ(FMOD_Channel_GetPosition(channel, &ms, FMOD_TIMEUNIT_MS), FMOD_OK);
        return ms;
    }
    static bool playing(FMOD_CHANNEL* channel) {
        FMOD_BOOL flag = -1;
        EXPECT_EQ(FMOD_Channel_IsPlaying(channel, &flag), FMOD_OK);
        EXPECT_TRUE(flag == 0 || flag == 1);
        return flag == 1;
    }
    // Waits for the end of the song; false when it is still playing after `limit`.
    static bool ends_within(FMOD_CHANNEL* channel, std::chrono::milliseconds limit) {
        const auto until = Clock::now() + limit;
        while (playing(channel)) {
            if (Clock::now() > until)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    double decoded_ms(const char* name) {
        ProcessResult soxi = run_process({"soxi", "-D", (dir_.path() / name).string()}, {});
        return std::stod(soxi.out) * 1000.0;
    }

    TempDir dir_;
    FMOD_SYSTEM* system_ = nullptr;
};

TEST_F(FmodLayer, SongsPlayOnceInStepWithTheClockAndEnd) {
    for (const char* name : {"song.ogg", "song.mp3"}) {
        SCOPED_TRACE(name);
        make_song(dir_.path() / name, 1.5);
        FMOD_SOUND* sound = nullptr;
        ASSERT_EQ(open(dir_.path() / name, &sound), FMOD_OK);
        std::uint32_t length = 0;
        ASSERT_EQ(FMOD_Sound_GetLength(sound, &length, FMOD_TIMEUNIT_MS), FMOD_OK);
        // MP3 adds the encoder's delay and padding, which the decoder plays: compare with
        // what sox itself reads back from the file.
        EXPECT_NEAR(length, std::string_view(name).ends_with(".ogg") ? 1500 : decoded_ms(name), 30);

        FMOD_SYSTEM* owner = nullptr;
        ASSERT_EQ(FMOD_Sound_GetSystemObject(sound, &owner), FMOD_OK);
        EXPECT_EQ(owner, system_);
        FMOD_CHANNEL* channel = nullptr;
        ASSERT_EQ(FMOD_System_PlaySound(system_, FMOD_CHANNEL_FREE, sound, 0, &channel), FMOD_OK);
        const auto started = Clock::now();
        EXPECT_TRUE(playing(channel));
        std::uint32_t last = position(channel);
        EXPECT_LT(last, 50u);
        // The position follows the device, which may start late or fall behind on a busy
        // machine; it must never run ahead of the clock, and between two readings it must move
        // as the clock does.
        auto last_time = started;
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(200ms);
            const std::uint32_t now = position(channel);
            const auto time = Clock::now();
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(time - started);
            const auto step =
                std::chrono::duration_cast<std::chrono::milliseconds>(time - last_time);
            EXPECT_GT(now, last);
            EXPECT_LE(now, elapsed.count() + 30);
            EXPECT_GE(now, elapsed.count() - 250);
            if (i > 0) {
                EXPECT_NEAR(static_cast<double>(now - last), static_cast<double>(step.count()),
                            80.0);
            }
            last = now;
            last_time = time;
        }
        EXPECT_TRUE(ends_within(channel, 2s));
        EXPECT_GE(Clock::now() - started, 1400ms);
        EXPECT_NEAR(position(channel), length, 30);
        EXPECT_EQ(FMOD_Sound_Release(sound), FMOD_OK);
        // The channel went with its song.
        std::uint32_t ms = 0;
        EXPECT_EQ(FMOD_Channel_GetPosition(channel, &ms, FMOD_TIMEUNIT_MS),
                  FMOD_ERR_INVALID_HANDLE);
        EXPECT_EQ(FMOD_Sound_Release(sound), FMOD_ERR_INVALID_HANDLE);
    }
}

TEST_F(FmodLayer, FilesThatAreNoSongGiveTheirCodes) {
    FMOD_SOUND* sound = reinterpret_cast<FMOD_SOUND*>(0x1);
    EXPECT_EQ(open(dir_.path() / "missing.mp3", &sound), FMOD_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(sound, nullptr);
    EXPECT_EQ(open(dir_.path() / "no/such/dir.ogg", &sound), FMOD_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(open(dir_.write("empty.mp3", ""), &sound), FMOD_ERR_FORMAT);
    EXPECT_EQ(open(dir_.write("text.mp3", "not a song, just words\n"), &sound), FMOD_ERR_FORMAT);
    EXPECT_EQ(open(dir_.write("text.ogg", "OggS but nothing after"), &sound), FMOD_ERR_FORMAT);
    fs::create_directories(dir_.path() / "folder.mp3");
    EXPECT_EQ(open(dir_.path() / "folder.mp3", &sound), FMOD_ERR_FILE_BAD);
    // Nobody writes to this pipe: opening it must not wait for a writer.
    ASSERT_EQ(::mkfifo((dir_.path() / "pipe.ogg").c_str(), 0600), 0);
    EXPECT_EQ(open(dir_.path() / "pipe.ogg", &sound), FMOD_ERR_FILE_BAD);
    EXPECT_EQ(open("/dev/zero", &sound), FMOD_ERR_FILE_BAD);
    EXPECT_EQ(sound, nullptr);
}

TEST_F(FmodLayer, OggCutInHalfPlaysWhatItHasAndEnds) {
    // Noise fills many pages, so that the first half holds whole pages of sound.
    ASSERT_EQ(run_process({"sox", "-n", "-r", "44100", "-c", "2",
                           (dir_.path() / "whole.ogg").string(), "synth", "4", "pinknoise"},
                          {})
                  .exit_status,
              0);
    const std::string whole = read_all(dir_.path() / "whole.ogg");
    const fs::path half = dir_.write("half.ogg", whole.substr(0, whole.size() / 2));
    FMOD_SOUND* sound = nullptr;
    ASSERT_EQ(open(half, &sound), FMOD_OK);
    std::uint32_t length = 0;
    ASSERT_EQ(FMOD_Sound_GetLength(sound, &length, FMOD_TIMEUNIT_MS), FMOD_OK);
    EXPECT_GT(length, 500u);
    EXPECT_LT(length, 3500u);
    FMOD_CHANNEL* channel = nullptr;
    ASSERT_EQ(FMOD_System_PlaySound(system_, FMOD_CHANNEL_FREE, sound, 0, &channel), FMOD_OK);
    EXPECT_TRUE(ends_within(channel, std::chrono::milliseconds(length + 1000)));
}

TEST_F(FmodLayer, DamagedMp3StaysOffStandardError) {
    make_song(dir_.path() / "good.mp3", 1.0);
    std::string bytes = read_all(dir_.path() / "good.mp3");
    bytes.replace(bytes.size() / 2, 2000, std::string(2000, '\0'));
    const fs::path damaged = dir_.write("damaged.mp3", bytes);
    const fs::path broken = dir_.write("broken.mp3", bytes.substr(0, 4) + std::string(8000, '\0'));

    const fs::path captured = dir_.path() / "stderr.txt";
    const int saved = ::dup(2);
    const int sink = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(sink, 2);
    FMOD_SOUND* sound = nullptr;
    const FMOD_RESULT broken_result = open(broken, &sound);
    const FMOD_RESULT damaged_result = open(damaged, &sound);
    FMOD_CHANNEL* channel = nullptr;
    if (damaged_result == FMOD_OK) {
        FMOD_System_PlaySound(system_, FMOD_CHANNEL_FREE, sound, 0, &channel);
        ends_within(channel, 3s);
    }
    ::dup2(saved, 2);
    ::close(saved);
    ::close(sink);
    EXPECT_EQ(broken_result, FMOD_ERR_FORMAT);
    EXPECT_EQ(damaged_result, FMOD_OK);
    EXPECT_EQ(read_all(captured), "");
}

TEST_F(FmodLayer, ReplayingStartsOverAndKillsTheOldChannel) {
    make_song(dir_.path() / "song.ogg", 1.0);
    FMOD_SOUND* sound = nullptr;
    ASSERT_EQ(open(dir_.path() / "song.ogg", &sound), FMOD_OK);
    FMOD_CHANNEL* first = nullptr;
    ASSERT_EQ(FMOD_System_PlaySound(system_, FMOD_CHANNEL_FREE, sound, 0, &first), FMOD_OK);
    std::this_thread::sleep_for(300ms);
    EXPECT_GT(position(first), 150u);
    FMOD_CHANNEL* second = nullptr;
    ASSERT_EQ(FMOD_System_PlaySound(system_, FMOD_CHANNEL_FREE, sound, 0, &second), FMOD_OK);
    EXPECT_LT(position(second), 50u);
    FMOD_BOOL flag = 0;
    EXPECT_EQ(FMOD_Channel_IsPlaying(first, &flag), FMOD_ERR_INVALID_HANDLE);
    // Closing the system takes its songs and channels with it.
    EXPECT_EQ(FMOD_System_Close(system_), FMOD_OK);
    EXPECT_EQ(FMOD_Channel_IsPlaying(second, &flag), FMOD_ERR_INVALID_HANDLE);
    EXPECT_EQ(FMOD_Sound_Release(sound), FMOD_ERR_INVALID_HANDLE);
    std::uint32_t length = 0;
    EXPECT_EQ(FMOD_Sound_GetLength(sound, &length, FMOD_TIMEUNIT_MS), FMOD_ERR_INVALID_HANDLE);
    // And it can open the output again.
    EXPECT_EQ(FMOD_System_Init(system_, 1, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
}

TEST_F(FmodLayer, ArgumentsOutsideWhatItPlaysAreRefused) {
    make_song(dir_.path() / "song.ogg", 0.5);
    const fs::path song = dir_.path() / "song.ogg";
    FMOD_SOUND* sound = nullptr;
    EXPECT_EQ(FMOD_System_CreateSound(system_, nullptr, FMOD_DEFAULT_STREAM_MODE, nullptr, &sound),
              FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(FMOD_System_CreateSound(system_, song.c_str(), FMOD_CREATESTREAM, nullptr, &sound),
              FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(FMOD_System_CreateSound(system_, song.c_str(), FMOD_DEFAULT_STREAM_MODE,
                                      reinterpret_cast<FMOD_CREATESOUNDEXINFO*>(&sound), &sound),
              FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(FMOD_System_Init(system_, 1, FMOD_INIT_NORMAL, nullptr), FMOD_ERR_INITIALIZED);
    EXPECT_EQ(FMOD_System_Init(system_, 2, FMOD_INIT_NORMAL, nullptr), FMOD_ERR_INVALID_PARAM);

    ASSERT_EQ(open(song, &sound), FMOD_OK);
    std::uint32_t length = 0;
    EXPECT_EQ(FMOD_Sound_GetLength(sound, &length, 2), FMOD_ERR_INVALID_PARAM);
    FMOD_CHANNEL* channel = nullptr;
    EXPECT_EQ(FMOD_System_PlaySound(system_, 3, sound, 0, &channel), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(FMOD_System_PlaySound(system_, FMOD_CHANNEL_FREE, sound, 1, &channel),
              FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(FMOD_System_PlaySound(system_, FMOD_CHANNEL_FREE, nullptr, 0, &channel),
              FMOD_ERR_INVALID_HANDLE);

    // A second system cannot take the output this one holds.
    FMOD_SYSTEM* other = nullptr;
    ASSERT_EQ(FMOD_System_Create(&other), FMOD_OK);
    EXPECT_EQ(FMOD_System_Init(other, 1, FMOD_INIT_NORMAL, nullptr), FMOD_ERR_OUTPUT_ALLOCATED);
    EXPECT_EQ(
        FMOD_System_CreateSound(other, song.c_str(), FMOD_DEFAULT_STREAM_MODE, nullptr, &sound),
        FMOD_ERR_UNINITIALIZED);
    EXPECT_EQ(FMOD_System_Release(other), FMOD_OK);
    EXPECT_EQ(FMOD_System_Close(other), FMOD_ERR_INVALID_HANDLE);
}

// The layer writing to SDL's disk output, which takes sound as fast as it comes: a song plays
// in a fraction of its length and what was heard can be read back.
class FmodLayerOnDisk : public FmodLayer {
  protected:
    void SetUp() override {
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIOFILE", capture_.c_str(), 1);
        ::setenv("SDL_DISKAUDIODELAY", "0", 1);
        ASSERT_EQ(FMOD_System_Create(&system_), FMOD_OK);
        ASSERT_EQ(FMOD_System_Init(system_, 1, FMOD_INIT_NORMAL, nullptr), FMOD_OK);
    }
    void TearDown() override {
        FmodLayer::TearDown();
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
    // Plays the song to its end; its length, with the output's left channel.
    std::uint32_t play_to_end(const fs::path& song, std::vector<float>& heard) {
        FMOD_SOUND* sound = nullptr;
        EXPECT_EQ(open(song, &sound), FMOD_OK);
        std::uint32_t length = 0;
        EXPECT_EQ(FMOD_Sound_GetLength(sound, &length, FMOD_TIMEUNIT_MS), FMOD_OK);
        FMOD_CHANNEL* channel = nullptr;
        EXPECT_EQ(FMOD_System_PlaySound(system_, FMOD_CHANNEL_FREE, sound, 0, &channel), FMOD_OK);
        EXPECT_TRUE(ends_within(channel, 20s));
        // Every frame of the length was handed over.
        EXPECT_EQ(position(channel), length);
        EXPECT_EQ(FMOD_Sound_Release(sound), FMOD_OK);
        heard = channel_of(read_file(capture_), 2, 0);
        fs::resize_file(capture_, 0);
        return length;
    }
    // The tone heard between `from` and `to` seconds of the song.
    static ToneMeasure tone_between(const std::vector<float>& heard, const ToneMeasure& whole,
                                    double from, double to) {
        const auto at = [&](double s) {
            return heard.begin() + static_cast<long>((whole.start_s + s) * 44100);
        };
        return measure_tone(std::vector<float>(at(from), at(to)), 44100);
    }

    fs::path capture_ = dir_.path() / "heard.raw";
};

TEST_F(FmodLayerOnDisk, SongsThatChangeFormatPlayEveryPartEachCountedAtItsRate) {
    // Ogg links of other rates and channel counts, one after the other.
    make_tone(dir_.path() / "a.ogg", 48000, 2, 2.0, 440);
    make_tone(dir_.path() / "b.ogg", 22050, 1, 1.5, 660);
    const fs::path chained = dir_.write(
        "chained.ogg", read_all(dir_.path() / "a.ogg") + read_all(dir_.path() / "b.ogg"));
    std::vector<float> heard;
    EXPECT_EQ(play_to_end(chained, heard), 3500u);
    ToneMeasure whole = measure_tone(heard, 44100);
    EXPECT_NEAR(whole.end_s - whole.start_s, 3.5, 0.02);
    EXPECT_NEAR(tone_between(heard, whole, 0.0, 1.95).frequency, 440, 0.044);
    EXPECT_NEAR(tone_between(heard, whole, 2.05, 3.5).frequency, 660, 0.066);

    // A stereo MP3 followed by a mono one at half the rate.
    for (const auto& [name, rate, channels, seconds, frequency] :
         {std::tuple{"a.mp3", 44100, 2, "2", "440"}, std::tuple{"b.mp3", 22050, 1, "1.5", "660"}}) {
        ASSERT_EQ(run_process({"sox", "-n", "-r", std::to_string(rate), "-c",
                               std::to_string(channels), (dir_.path() / name).string(), "synth",
                               seconds, "sine", frequency, "vol", "0.5"},
                              {})
                      .exit_status,
                  0);
    }
    const fs::path joined =
        dir_.write("joined.mp3", read_all(dir_.path() / "a.mp3") + read_all(dir_.path() / "b.mp3"));
    const std::uint32_t length = play_to_end(joined, heard);
    EXPECT_NEAR(length, decoded_ms("a.mp3") + decoded_ms("b.mp3"), 20);
    whole = measure_tone(heard, 44100);
    // The decoder's delay at the start and the encoder's padding at the end are silent.
    EXPECT_NEAR(whole.end_s - whole.start_s, length / 1000.0, 0.08);
    EXPECT_NEAR(tone_between(heard, whole, 2.1, 3.4).frequency, 660, 0.066);
}

TEST_F(FmodLayerOnDisk, DeclaredFormatsBeyondWhatPlaysAreRefusedAtCreation) {
    make_tone(dir_.path() / "song.ogg", 44100, 2, 1.0);
    const std::string song = read_all(dir_.path() / "song.ogg");
    for (const auto& [channels, rate] :
         {std::pair{2, 4'194'303u}, std::pair{2, 16'000'000u}, std::pair{2, 0u},
          std::pair{2, 7'999u}, std::pair{2, 192'001u}, std::pair{9, 44'100u},
          std::pair{0, 44'100u}}) {
        SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(rate) + " Hz");
        FMOD_SOUND* sound = nullptr;
        EXPECT_EQ(
            open(dir_.write("claims.ogg", with_declared_format(song, channels, rate)), &sound),
            FMOD_ERR_FORMAT);
    }
    // The edges of what plays, claimed or true.
    std::vector<float> heard;
    EXPECT_EQ(play_to_end(dir_.write("fast.ogg", with_declared_format(song, 2, 192'000)), heard),
              1000u * 44100 / 192000);
    make_tone(dir_.path() / "low.ogg", 8000, 8, 1.0);
    EXPECT_EQ(play_to_end(dir_.path() / "low.ogg", heard), 1000u);
    EXPECT_NEAR(measure_tone(heard, 44100).frequency, 440, 0.044);
}

TEST(FmodLayerOutput, NoOutputDeviceGivesOutputInit) {
    ::setenv("SDL_AUDIODRIVER", "nosuchdriver", 1);
    FMOD_SYSTEM* system = nullptr;
    ASSERT_EQ(FMOD_System_Create(&system), FMOD_OK);
    EXPECT_EQ(FMOD_System_Init(system, 1, FMOD_INIT_NORMAL, nullptr), FMOD_ERR_OUTPUT_INIT);
    EXPECT_EQ(FMOD_System_Close(system), FMOD_OK);
    EXPECT_EQ(FMOD_System_Release(system), FMOD_OK);
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
}

}  // namespace
}  // namespace morvelta::testing
