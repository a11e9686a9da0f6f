// Cost of one rendered frame: a 1280x720 picture stretched over a 1280x720 window,
// drawn by draw_frame and shown by a buffer swap, under whatever OpenGL the X
// display offers (Mesa's software renderer on Xvfb). Counts the heap allocations
// that draw_frame makes once the renderer has warmed up; the goal is none.
//
// Uses $DISPLAY when set, otherwise starts a private Xvfb.
#include <SDL.h>
#include <epoxy/gl.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "allocation_counter.hpp"
#include "renderer.hpp"
#include "test_support.hpp"

namespace {}  // namespace

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

class BenchWindow : public morvelta::FrameTarget {
  public:
    BenchWindow() {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
            fail();
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        SDL_GL_SetAttribute(SDL_GL_FRAMEBUFFER_SRGB_CAPABLE, 1);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
        window_ = SDL_CreateWindow("bench_render", 0, 0, width, height,
                                   SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS);
        if (window_ == nullptr)
            fail();
        context_ = SDL_GL_CreateContext(window_);
        if (context_ == nullptr)
            fail();
        SDL_GL_SetSwapInterval(0);
        gfx_ = std::make_unique<morvelta::Gfx2d>();
    }
    ~BenchWindow() override {
        gfx_.reset();
        SDL_GL_DeleteContext(context_);
        SDL_DestroyWindow(window_);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    BenchWindow(const BenchWindow&) = delete;
    BenchWindow& operator=(const BenchWindow&) = delete;

    void make_current() override { SDL_GL_MakeCurrent(window_, context_); }
    morvelta::Gfx2d& renderer() override { return *gfx_; }
    void swap() { SDL_GL_SwapWindow(window_); }

  private:
    [[noreturn]] static void fail() {
        std::fprintf(stderr, "bench_render: %s\n", SDL_GetError());
        std::exit(1);
    }
    SDL_Window* window_ = nullptr;
    SDL_GLContext context_ = nullptr;
    std::unique_ptr<morvelta::Gfx2d> gfx_;
};

std::shared_ptr<morvelta::Texture> gradient_texture() {
    std::vector<unsigned char> pixels(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 4];
            p[0] = static_cast<unsigned char>(x);
            p[1] = static_cast<unsigned char>(y);
            p[2] = static_cast<unsigned char>(x ^ y);
            p[3] = 255;
        }
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_SRGB8_ALPHA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return std::make_shared<morvelta::Texture>(name, width, height);
}

}  // namespace

int main() {
    std::unique_ptr<morvelta::testing::XvfbServer> xvfb;
    if (std::getenv("DISPLAY") == nullptr) {
        xvfb = std::make_unique<morvelta::testing::XvfbServer>(width, height);
        ::setenv("DISPLAY", xvfb->display().c_str(), 1);
    }
    {
        BenchWindow window;
        std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));

        morvelta::PictureSprite sprite;
        sprite.texture = gradient_texture();
        sprite.position = {width * 0.5, height * 0.5};
        sprite.scale = {1.0, 1.0};
        const morvelta::RenderArgs args{0.0, width, height, width, height};

        for (int i = 0; i < warmup_frames; ++i) {
            morvelta::draw_frame(window, args, &sprite);
            window.swap();
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
            window.swap();
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
