// Cost of one rendered frame: a 1280x720 picture stretched over a 1280x720 window,
// drawn by draw_frame and shown by a buffer swap, under whatever OpenGL the X
// display offers (Mesa's software renderer on Xvfb). Counts the heap allocations
// that draw_frame makes once the renderer has warmed up; the goal is none.
//
// Uses $DISPLAY when set, otherwise starts a private Xvfb.
#include <epoxy/gl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "allocation_counter.hpp"
#include "renderer.hpp"
#include "sprites.hpp"
#include "test_support.hpp"
#include "window.hpp"

namespace {

constexpr int width = 1280;
constexpr int height = 720;
constexpr int warmup_frames = 60;
constexpr int measured_frames = 600;

double seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A full-screen gradient, made into a texture the way the program makes every picture.
std::shared_ptr<morvelta::Texture> gradient_texture(morvelta::TextureFactory& factory) {
    morvelta::DecodedPicture picture;
    picture.width = width;
    picture.height = height;
    picture.rgba = std::make_unique<std::uint8_t[]>(picture.byte_size());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &picture.rgba[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = static_cast<std::uint8_t>(x);
            p[1] = static_cast<std::uint8_t>(y);
            p[2] = static_cast<std::uint8_t>(x ^ y);
            p[3] = 255;
        }
    }
    return factory.create_texture(std::move(picture)).unwrap();
}

}  // namespace

int main() {
    std::unique_ptr<morvelta::testing::XvfbServer> xvfb;
    if (std::getenv("DISPLAY") == nullptr) {
        xvfb = std::make_unique<morvelta::testing::XvfbServer>(width, height);
        ::setenv("DISPLAY", xvfb->display().c_str(), 1);
    }
    {
        // The program's own window, not full screen, so that the drawable is exactly
        // width x height whatever the display.
        morvelta::PistonWindow window =
            morvelta::PistonWindow::build(morvelta::WindowSettings("bench_render", {width, height})
                                              .opengl(morvelta::OpenGL::V3_2))
                .unwrap();
        std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

        morvelta::PictureSprite sprite;
        sprite.texture = gradient_texture(window.factory());
        sprite.position = {width * 0.5, height * 0.5};
        sprite.scale = {1.0, 1.0};
        const morvelta::RenderArgs args{0.0, width, height, width, height};

        for (int i = 0; i < warmup_frames; ++i) {
            morvelta::draw_frame(window, args, &sprite);
            window.swap_buffers();
        }
        glFinish();

        long draw_allocations = 0;
        long frame_allocations = 0;
        double draw_thread_cpu = 0.0;
        const double wall_start = seconds(CLOCK_MONOTONIC);
        const double process_start = seconds(CLOCK_PROCESS_CPUTIME_ID);
        for (int i = 0; i < measured_frames; ++i) {
            const long process_before = morvelta::bench::process_allocations();
            const long thread_before = morvelta::bench::thread_allocations();
            const double cpu_before = seconds(CLOCK_THREAD_CPUTIME_ID);
            morvelta::draw_frame(window, args, &sprite);
            draw_thread_cpu += seconds(CLOCK_THREAD_CPUTIME_ID) - cpu_before;
            draw_allocations += morvelta::bench::thread_allocations() - thread_before;
            window.swap_buffers();
            frame_allocations += morvelta::bench::process_allocations() - process_before;
        }
        glFinish();
        const double process_cpu = seconds(CLOCK_PROCESS_CPUTIME_ID) - process_start;
        const double wall = seconds(CLOCK_MONOTONIC) - wall_start;

        const double n = measured_frames;
        std::printf("frames measured:                    %d (after %d warm-up)\n", measured_frames,
                    warmup_frames);
        std::printf("draw_frame, main-thread CPU:        %.3f ms/frame\n",
                    draw_thread_cpu / n * 1e3);
        std::printf("draw + swap, whole-process CPU:     %.3f ms/frame\n", process_cpu / n * 1e3);
        std::printf("draw + swap, wall time:             %.3f ms/frame\n", wall / n * 1e3);
        std::printf("allocations in draw_frame:          %.3f per frame\n", draw_allocations / n);
        std::printf("allocations in draw + swap (all):   %.3f per frame\n", frame_allocations / n);
    }
    return 0;
}
