// morvelta: plays the first song found below the working directory and shows every
// picture below it full screen, each for an equal share of the song.
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "discovery.hpp"
#include "environment.hpp"
#include "failure.hpp"
#include "fmod.hpp"

namespace {

using namespace morvelta;

constexpr SourcePos no_music_pos{"src\\main", 74, 9};
constexpr SourcePos system_create_pos{"src\\main", 81, 13};
constexpr SourcePos system_init_pos{"src\\main", 87, 13};
constexpr SourcePos sound_create_pos{"src\\main", 94, 13};

// The value of an audio step, or the stop with `message` and the result's name.
template <class T>
T or_stop(Result<T, FmodResult> result, std::string_view message, SourcePos pos) {
    if (!result.is_ok())
        panic(std::string(message) + std::string(result_name(result.error())), pos);
    return std::move(result.value());
}

void check_init(FmodResult result) {
    if (result != FmodResult::Ok) {
        panic("FmodSys.init failed : " + std::string(result_name(result)), system_init_pos);
    }
}

// Stand-in for the slideshow loop until the window exists: waits for the song to end.
void wait_for_song_end(const Channel& channel) {
    constexpr std::chrono::milliseconds poll_interval{10};
    for (;;) {
        const Result<bool, FmodResult> playing = channel.is_playing();
        if (playing.is_ok() && !playing.value())
            return;
        std::this_thread::sleep_for(poll_interval);
    }
}

void play_show() {
    const FileList files = collect_files(".");
    const std::string* const music_path = choose_music(files);
    const PictureList pictures = choose_pictures(files);
    set_environment_variable("LD_LIBRARY_PATH", ".");
    if (music_path == nullptr) panic("ei musaa hv kaikki", no_music_pos);
    const FmodSys audio = or_stop(FmodSys::create(), "Error code : ", system_create_pos);
    check_init(audio.init());
    const Sound song = or_stop(audio.create_sound(*music_path), "Error code : ", sound_create_pos);
    // Kept as it comes; examined only where the switch times are computed.
    [[maybe_unused]] const Result<std::uint32_t, FmodResult> length =
        song.get_length(FMOD_TIMEUNIT_MS);
    const Channel channel = song.play().unwrap();
    wait_for_song_end(channel);  // STAND-IN: the slideshow loop goes here
    // Everything made above is released in reverse order of declaration.
}

}  // namespace

int main() {
    return morvelta::run_guarded(play_show);
}
