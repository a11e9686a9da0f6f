// Audio benchmark: what the per-event queries cost and allocate, and how closely the
// reported position follows the time since playback started over a 20-second song; what
// decoding and converting a song to the output costs per second of song, with the pitch and
// noise of the result, beside SDL's own converter; and how long a 60-minute MP3 takes to open.
// Runs on SDL's silent dummy output unless SDL_AUDIODRIVER says otherwise; needs sox.
#include <SDL2/SDL.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "allocation_counter.hpp"
#include "fmod.hpp"
#include "song_converter.hpp"
#include "song_decoder.hpp"
#include "test_songs.hpp"
#include "test_support.hpp"
#include "tone_analysis.hpp"

namespace {

using namespace morvelta;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double song_seconds = 20.0;
constexpr int query_rounds = 200'000;
constexpr auto poll_interval = 5ms;
constexpr double gap_limit_ms = 30.0;
constexpr double cost_limit_ns = 2000.0;
// The output the layer opens.
constexpr int output_rate = 44100;
constexpr int output_channels = 2;
constexpr std::size_t output_buffer_frames = 512;
// Decoding and converting a 48 kHz stereo song may take this share of one core.
constexpr double conversion_limit_percent = 1.0;
// Opening a 60-minute MP3 took this long with a full scan of its frames.
constexpr double long_song_limit_ms = 435.0;

template <class Query>
bool measure_query(const char* name, Query query) {
    const long before = bench::process_allocations();
    const auto start = Clock::now();
    for (int i = 0; i < query_rounds; ++i)
        query();
    const double ns =
        std::chrono::duration<double, std::nano>(Clock::now() - start).count() / query_rounds;
    const long allocated = bench::process_allocations() - before;
    std::printf("%-22s %8.1f ns per call, %ld allocations in %d calls\n", name, ns, allocated,
                query_rounds);
    return allocated == 0 && ns < cost_limit_ns;
}

// Samples the position every 5 ms until the song ends; returns the worst gap in ms.
bool follow_song(const Sound& song, const char* name) {
    std::uint32_t length = song.get_length(FMOD_TIMEUNIT_MS).unwrap();
    const Channel channel = song.play().unwrap();
    const auto started = Clock::now();
    double worst = 0.0;
    double total = 0.0;
    long samples = 0;
    auto next = started;
    for (;;) {
        next += poll_interval;
        std::this_thread::sleep_until(next);
        const Result<bool, FmodResult> playing = channel.is_playing();
        const auto position = channel.get_position(FMOD_TIMEUNIT_MS).unwrap();
        const double elapsed =
            std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        if (playing.is_ok() && !playing.value()) {
            std::printf("%s: length %u ms, ended after %.1f ms, final position %llu ms\n", name,
                        length, elapsed, static_cast<unsigned long long>(position));
            break;
        }
        const double gap = std::abs(static_cast<double>(position) - elapsed);
        worst = std::max(worst, gap);
        total += gap;
        ++samples;
    }
    std::printf("%s: %ld samples every 5 ms, worst gap %.1f ms, mean gap %.1f ms\n", name, samples,
                worst, total / static_cast<double>(samples));
    return worst <= gap_limit_ms;
}

double thread_cpu_seconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Conversion {
    double cpu_seconds = 0;
    long allocations = 0;  // in the converter, after the first second of output
    std::string pcm;       // 16-bit output frames
};

// Decodes and converts the whole song in output-sized buffers, as the music hook does.
Conversion convert_with_layer(const std::string& path, bool decode_only) {
    FMOD_RESULT result = FMOD_OK;
    auto decoder = open_song_decoder(path.c_str(), result);
    Conversion done;
    if (decoder == nullptr)
        return done;
    std::vector<float> decoded(output_buffer_frames * max_song_channels);
    std::vector<std::int16_t> buffer(output_buffer_frames * output_channels);
    const double start = thread_cpu_seconds();
    if (decode_only) {
        while (decoder->read(decoded.data(), output_buffer_frames) > 0) {
        }
        done.cpu_seconds = thread_cpu_seconds() - start;
        return done;
    }
    auto converter = SongConverter::create(*decoder, output_rate, output_channels);
    // Room for the whole song up front, so that the benchmark's own buffer does not grow.
    done.pcm.reserve(static_cast<std::size_t>(decoder->length_ns() / 1'000'000 + 1000) *
                     output_rate / 1000 * output_channels * sizeof(std::int16_t));
    for (;;) {
        const bool warmed_up = done.pcm.size() >= output_rate * 4;
        const long before = bench::thread_allocations();
        const std::size_t frames = converter->fill(buffer.data(), output_buffer_frames);
        if (warmed_up)
            done.allocations += bench::thread_allocations() - before;
        done.pcm.append(reinterpret_cast<const char*>(buffer.data()),
                        frames * output_channels * sizeof(std::int16_t));
        if (frames < output_buffer_frames)
            break;
    }
    done.cpu_seconds = thread_cpu_seconds() - start;
    return done;
}

// The same through SDL's converter, fed in decoding steps of 2048 frames.
Conversion convert_with_sdl(const std::string& path) {
    FMOD_RESULT result = FMOD_OK;
    auto decoder = open_song_decoder(path.c_str(), result);
    Conversion done;
    if (decoder == nullptr)
        return done;
    const SongFormat format = decoder->format();
    SDL_AudioStream* stream =
        SDL_NewAudioStream(AUDIO_F32SYS, static_cast<Uint8>(format.channels), format.rate,
                           AUDIO_S16SYS, output_channels, output_rate);
    std::vector<float> decoded(2048 * max_song_channels);
    std::vector<std::int16_t> buffer(output_buffer_frames * output_channels);
    const int buffer_bytes = static_cast<int>(buffer.size() * sizeof(std::int16_t));
    const double start = thread_cpu_seconds();
    bool flushed = false;
    for (;;) {
        const int got = SDL_AudioStreamGet(stream, buffer.data(), buffer_bytes);
        if (got > 0)
            done.pcm.append(reinterpret_cast<const char*>(buffer.data()),
                            static_cast<std::size_t>(got));
        if (got == buffer_bytes)
            continue;
        if (flushed)
            break;
        const std::size_t frames = decoder->read(decoded.data(), 2048);
        if (frames == 0) {
            SDL_AudioStreamFlush(stream);
            flushed = true;
            continue;
        }
        SDL_AudioStreamPut(stream, decoded.data(),
                           static_cast<int>(frames * sizeof(float)) * format.channels);
    }
    done.cpu_seconds = thread_cpu_seconds() - start;
    SDL_FreeAudioStream(stream);
    return done;
}

bool make_tone_song(const std::string& path, int rate, int channels, double seconds) {
    const std::string command = "sox -n -r " + std::to_string(rate) + " -c " +
                                std::to_string(channels) + " " + path + " synth " +
                                std::to_string(seconds) + " sine 440 vol 0.5";
    return std::system(command.c_str()) == 0;
}

// Cost, pitch and noise of decoding and converting songs of several formats, beside SDL's
// converter on the same decoded frames.
bool measure_conversion(const std::string& dir) {
    struct Case {
        const char* name;
        int rate;
        int channels;
    };
    constexpr double seconds = 30.0;
    std::printf("\n%-16s %10s %10s %12s %12s %10s %10s %8s %8s\n", "song (30 s)", "decode %",
                "+convert %", "pitch err %", "SDL pitch %", "SNR dB", "SDL SNR dB", "own dB",
                "news");
    bool within = true;
    for (const Case& song :
         {Case{"44k-2.ogg", 44100, 2}, Case{"48k-2.ogg", 48000, 2}, Case{"48k-2.mp3", 48000, 2},
          Case{"96k-6.ogg", 96000, 6}, Case{"22k-1.ogg", 22050, 1}}) {
        const std::string path = dir + "/" + song.name;
        if (!make_tone_song(path, song.rate, song.channels, seconds))
            return false;
        const Conversion decoded = convert_with_layer(path, true);
        const Conversion ours = convert_with_layer(path, false);
        const Conversion sdl = convert_with_sdl(path);
        const auto own_pcm = testing::decoded_by_sox(path);
        const testing::ToneMeasure own =
            testing::measure_tone(testing::channel_of(own_pcm, song.channels, 0), song.rate);
        const auto tone_of = [](const Conversion& c) {
            return testing::measure_tone(testing::channel_of(c.pcm, output_channels, 0),
                                         output_rate);
        };
        const testing::ToneMeasure heard = tone_of(ours);
        const testing::ToneMeasure sdl_heard = tone_of(sdl);
        const double decode_percent = decoded.cpu_seconds / seconds * 100;
        const double total_percent = ours.cpu_seconds / seconds * 100;
        std::printf("%-16s %10.3f %10.3f %12.5f %12.5f %10.2f %10.2f %8.2f %8ld\n", song.name,
                    decode_percent, total_percent, (heard.frequency - 440) / 4.4,
                    (sdl_heard.frequency - 440) / 4.4, heard.snr_db, sdl_heard.snr_db, own.snr_db,
                    ours.allocations);
        std::printf(
            "%-16s SDL converter: %.3f %% with decoding (ours / SDL's: %.2f); length "
            "heard %.1f ms (SDL %.1f ms) of %.1f ms held\n",
            "", sdl.cpu_seconds / seconds * 100, ours.cpu_seconds / std::max(sdl.cpu_seconds, 1e-9),
            (heard.end_s - heard.start_s) * 1000, (sdl_heard.end_s - sdl_heard.start_s) * 1000,
            (own.end_s - own.start_s) * 1000);
        if (song.rate == 48000 && song.channels == 2)
            within &= total_percent < conversion_limit_percent;
        within &= std::abs(heard.frequency - 440) < 440e-4 && ours.allocations == 0 &&
                  heard.snr_db >= std::min(own.snr_db - 3, 80.0);
    }
    return within;
}

// Opens a 60-minute MP3 (one minute of tone, sixty times over) and reports the time taken.
bool measure_long_song(const FmodSys& audio, const std::string& dir) {
    const std::string minute = dir + "/minute.mp3";
    if (!make_tone_song(minute, 44100, 2, 60.0))
        return false;
    const std::string one = testing::read_file(minute);
    {
        std::ofstream out(dir + "/hour.mp3", std::ios::binary);
        for (int i = 0; i < 60; ++i)
            out << one;
    }
    double best = 1e9;
    std::uint32_t length = 0;
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        const Sound song = audio.create_sound(dir + "/hour.mp3").unwrap();
        best =
            std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        length = song.get_length(FMOD_TIMEUNIT_MS).unwrap();
    }
    std::printf("\n60-minute MP3: opened in %.1f ms (best of 3), length %u ms\n", best, length);
    return best <= long_song_limit_ms;
}

}  // namespace

int main() {
    ::setenv("SDL_AUDIODRIVER", "dummy", 0);
    char folder[] = "/tmp/bench_audio_XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return 1;
    const std::string dir = folder;
    for (const char* name : {"song.ogg", "song.mp3"}) {
        const std::string command = "sox -n -r 44100 -c 2 " + dir + "/" + name + " synth " +
                                    std::to_string(song_seconds) + " sine 440";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "sox failed\n");
            return 1;
        }
    }

    bool within = true;
    {
        const FmodSys audio = FmodSys::create().unwrap();
        if (audio.init() != FmodResult::Ok) {
            std::fprintf(stderr, "no audio output\n");
            return 1;
        }
        {
            const Sound song = audio.create_sound(dir + "/song.ogg").unwrap();
            const Channel channel = song.play().unwrap();
            within &= measure_query("Channel::get_position", [&] {
                [[maybe_unused]] volatile bool ok = channel.get_position(FMOD_TIMEUNIT_MS).is_ok();
            });
            within &= measure_query("Channel::is_playing", [&] {
                [[maybe_unused]] volatile bool ok = channel.is_playing().is_ok();
            });
            within &= follow_song(song, "ogg");
        }
        {
            const Sound song = audio.create_sound(dir + "/song.mp3").unwrap();
            within &= follow_song(song, "mp3");
        }
        within &= measure_conversion(dir);
        within &= measure_long_song(audio, dir);
    }
    std::system(("rm -rf " + dir).c_str());
    std::printf("%s\n", within ? "all within limits" : "LIMIT EXCEEDED");
    return within ? 0 : 1;
}
