// A 20-second show of 40 pictures at 1280x720, run through the real loop, window,
// renderer and audio layer (SDL's silent real-time output). Reports:
// - switch lateness: for each picture, how far playback had gone past its switch time
//   when the frame that first shows it was swapped to the screen;
// - allocations per loop pass once the show runs (operator new counted);
// - CPU time per rendered frame, for the main thread and for the whole process.
// Starts its own Xvfb unless DISPLAY is set.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "allocation_counter.hpp"
#include "fmod.hpp"
#include "slideshow.hpp"
#include "sprites.hpp"
#include "test_support.hpp"
#include "window.hpp"

namespace {

constexpr int picture_count = 40;
constexpr int song_seconds = 20;
constexpr int screen_w = 1280;
constexpr int screen_h = 720;

double cpu_seconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

morvelta::DecodedPicture solid_picture(int index) {
    morvelta::DecodedPicture picture;
    picture.width = 512;
    picture.height = 384;
    picture.rgba = std::make_unique<std::uint8_t[]>(picture.byte_size());
    for (std::size_t i = 0; i < picture.byte_size(); i += 4) {
        picture.rgba[i] = static_cast<std::uint8_t>(index * 6);
        picture.rgba[i + 1] = static_cast<std::uint8_t>(255 - index * 6);
        picture.rgba[i + 2] = static_cast<std::uint8_t>((i / 4) % 256);
        picture.rgba[i + 3] = 255;
    }
    return picture;
}

// The window's event stream, counting passes and noting the channel's position at the
// swap that first shows each picture.
struct MeasuredEvents {
    morvelta::PistonWindow& window;
    const morvelta::Channel& channel;
    const morvelta::SlideCursor& cursor;
    std::vector<std::int64_t>& drawn_at;  // position when the first frame showing it is drawn
    std::vector<std::int64_t>& shown_at;  // position when that frame is swapped to the screen
    long passes = 0;
    long renders = 0;
    std::size_t drawn_switches = 0;

    // Called by the draw, right after the frame is recorded.
    void note_draw() {
        for (std::size_t i = drawn_switches; i < cursor.next_switch; ++i)
            drawn_at[i] = position();
    }

    std::int64_t position() const {
        auto read = channel.get_position(FMOD_TIMEUNIT_MS);
        return read.is_ok() ? static_cast<std::int64_t>(read.value()) : -1;
    }

    std::optional<morvelta::Event> next() {
        std::optional<morvelta::Event> event = window.next();
        ++passes;
        if (event && event->render_args())
            ++renders;
        if (event && event->is_after_render() && cursor.next_switch > drawn_switches) {
            for (std::size_t i = drawn_switches; i < cursor.next_switch; ++i)
                shown_at[i] = position();
            drawn_switches = cursor.next_switch;
        }
        return event;
    }
};

}  // namespace

int main() {
    using namespace morvelta;
    std::unique_ptr<testing::XvfbServer> xvfb;
    if (std::getenv("DISPLAY") == nullptr) {
        xvfb = std::make_unique<testing::XvfbServer>(screen_w, screen_h);
        setenv("DISPLAY", xvfb->display().c_str(), 1);
    }
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    std::filesystem::path song = std::filesystem::temp_directory_path() /
                                 ("morvelta-bench-show-" + std::to_string(getpid()) + ".ogg");
    std::string make = "sox -n -r 44100 -c 2 " + song.string() + " synth " +
                       std::to_string(song_seconds) + " sine 440";
    if (std::system(make.c_str()) != 0)
        return 1;

    {
        FmodSys audio = FmodSys::create().unwrap();
        if (audio.init() != FmodResult::Ok)
            return 1;
        Sound sound = audio.create_sound(song.string()).unwrap();
        Result<std::uint32_t, FmodResult> length = sound.get_length(FMOD_TIMEUNIT_MS);
        PistonWindow window = PistonWindow::build(WindowSettings("morvelta", {screen_w, screen_h})
                                                      .exit_on_esc(true)
                                                      .opengl(OpenGL::V3_2)
                                                      .fullscreen(true))
                                  .unwrap();
        std::vector<PictureSprite> sprites;
        for (int i = 0; i < picture_count; ++i) {
            sprites.push_back(
                sprite_from_texture(window.factory().create_texture(solid_picture(i)).unwrap()));
        }
        centre_sprites(sprites, screen_w, screen_h);
        SwitchTimes times = compute_switch_times(picture_count, length);
        SlideCursor cursor;
        std::vector<std::int64_t> drawn_at(picture_count, -1);
        std::vector<std::int64_t> shown_at(picture_count, -1);

        Channel channel = sound.play().unwrap();
        MeasuredEvents events{window, channel, cursor, drawn_at, shown_at};
        long allocations_at_start = 0, passes_at_start = 0;
        bool steady = false;
        double cpu_start = 0, thread_start = 0;
        long renders_at_start = 0;
        run_slideshow(events, channel, sprites, times, cursor,
                      [&](const RenderArgs& args, const PictureSprite* current) {
                          draw_frame(window, args, current);
                          events.note_draw();
                          if (!steady && cursor.next_switch >= 2) {
                              steady = true;
                              allocations_at_start = bench::process_allocations();
                              passes_at_start = events.passes;
                              renders_at_start = events.renders;
                              cpu_start = cpu_seconds(RUSAGE_SELF);
                              thread_start = cpu_seconds(RUSAGE_THREAD);
                          }
                      });
        long steady_allocations = bench::process_allocations() - allocations_at_start;
        long steady_passes = events.passes - passes_at_start;
        long steady_renders = events.renders - renders_at_start;
        double process_cpu = cpu_seconds(RUSAGE_SELF) - cpu_start;
        double thread_cpu = cpu_seconds(RUSAGE_THREAD) - thread_start;

        auto report = [&](const char* what, const std::vector<std::int64_t>& at) {
            std::int64_t worst = 0, total = 0;
            int worst_index = 0;
            for (int i = 0; i < picture_count; ++i) {
                std::int64_t late =
                    at[i] < 0 ? 1 << 30 : at[i] - static_cast<std::int64_t>(times[i]);
                total += late;
                if (late > worst)
                    worst = late, worst_index = i;
            }
            std::printf("switch lateness at %s: worst %lld ms (picture %d), mean %.1f ms\n", what,
                        static_cast<long long>(worst), worst_index,
                        static_cast<double>(total) / picture_count);
        };
        report("the draw", drawn_at);
        report("the swap", shown_at);
        std::printf("loop passes after warm-up: %ld, allocations: %ld (%.4f per pass)\n",
                    steady_passes, steady_allocations,
                    steady_passes ? static_cast<double>(steady_allocations) / steady_passes : 0.0);
        std::printf("rendered frames after warm-up: %ld (%.1f per second of song)\n",
                    steady_renders,
                    steady_renders / (song_seconds * (picture_count - 2.0) / picture_count));
        std::printf("CPU per rendered frame at %dx%d: main thread %.2f ms, whole process %.2f ms\n",
                    screen_w, screen_h, 1000.0 * thread_cpu / steady_renders,
                    1000.0 * process_cpu / steady_renders);
    }
    std::filesystem::remove(song);
    return 0;
}
