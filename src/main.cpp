// morvelta: plays the first song found below the working directory and shows every
// picture below it full screen, each for an equal share of the song.
#include <cstdint>
#include <string>

#include "discovery.hpp"
#include "environment.hpp"
#include "failure.hpp"
#include "fmod.hpp"
#include "monitor.hpp"
#include "process.hpp"
#include "slideshow.hpp"
#include "sprites.hpp"
#include "window.hpp"
#include "window_settings.hpp"

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

// Each object is declared where it is made, so that leaving this function, normally
// or through a failure, releases everything newest first.
void play_show() {
    const FileList files = collect_files(".");
    const std::string* const music_path = choose_music(files);
    const PictureList pictures = choose_pictures(files);
    set_environment_variable("LD_LIBRARY_PATH", ".");
    if (music_path == nullptr)
        panic("ei musaa hv kaikki", no_music_pos);

    const FmodSys audio = or_stop(FmodSys::create(), "Error code : ", system_create_pos);
    check_init(audio.init());
    const Sound song = or_stop(audio.create_sound(*music_path), "Error code : ", sound_create_pos);
    // Kept as it comes; examined only where the switch times are computed.
    const Result<std::uint32_t, FmodResult> length = song.get_length(FMOD_TIMEUNIT_MS);

    MonitorEventsLoop monitor_events;
    const MonitorRecord monitor = get_primary_monitor(monitor_events);
    const ScreenSize screen{monitor.width, monitor.height};
    // The description lives only as long as the build takes.
    PistonWindow window =
        PistonWindow::build(WindowSettings("morvelta", {screen.width, screen.height})
                                .exit_on_esc(true)
                                .opengl(OpenGL::V3_2)
                                .fullscreen(true))
            .unwrap();

    std::vector<PictureSprite> sprites = build_sprites(pictures, window.factory());
    centre_sprites(sprites, screen.width, screen.height);
    const SwitchTimes switch_times = compute_switch_times(pictures.size(), length);
    SlideCursor cursor;

    const Channel channel = song.play().unwrap();
    run_slideshow(window, channel, sprites, switch_times, cursor,
                  [&window](const RenderArgs& args, const PictureSprite* current) {
                      draw_frame(window, args, current);
                  });
}

}  // namespace

int main() {
    morvelta::prepare_process();
    return morvelta::run_guarded(play_show);
}
