// morvelta: plays the first song found below the working directory and shows every
// picture below it full screen, each for an equal share of the song.
#include "discovery.hpp"
#include "environment.hpp"
#include "failure.hpp"
#include "monitor.hpp"
#include "sprites.hpp"
#include "window.hpp"
#include "window_settings.hpp"

namespace {

using namespace morvelta;

constexpr SourcePos no_music_pos{"src\\main", 74, 9};

void play_show() {
    const FileList files = collect_files(".");
    const std::string* const music_path = choose_music(files);
    const PictureList pictures = choose_pictures(files);
    set_environment_variable("LD_LIBRARY_PATH", ".");
    if (music_path == nullptr) panic("ei musaa hv kaikki", no_music_pos);
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
    while (std::optional<Event> event = window.next()) {
    }
    // Everything made above is released in reverse order of declaration.
}

}  // namespace

int main() { return morvelta::run_guarded(play_show); }
