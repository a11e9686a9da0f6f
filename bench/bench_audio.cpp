// Audio benchmark: what the per-event queries cost and allocate, and how closely the
// reported position follows the time since playback started over a 20-second song.
// Runs on SDL's silent dummy output unless SDL_AUDIODRIVER says otherwise; needs sox.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

#include "allocation_counter.hpp"
#include "fmod.hpp"

namespace {

using namespace morvelta;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double song_seconds = 20.0;
constexpr int query_rounds = 200'000;
constexpr auto poll_interval = 5ms;
constexpr double gap_limit_ms = 30.0;
constexpr double cost_limit_ns = 2000.0;

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
        const Sound song = audio.create_sound(dir + "/song.mp3").unwrap();
        within &= follow_song(song, "mp3");
    }
    std::system(("rm -rf " + dir).c_str());
    std::printf("%s\n", within ? "all within limits" : "LIMIT EXCEEDED");
    return within ? 0 : 1;
}
