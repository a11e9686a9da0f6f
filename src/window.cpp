// The window over SDL: window, OpenGL context (functions come through libepoxy,
// which resolves them from whichever context is current) and input polling.
#include "window.hpp"

#include <SDL.h>

#include <cmath>
#include <cstdlib>

#include "debug_form.hpp"
#include "display_connection.hpp"
#include "monitor.hpp"
#include "steady_clock.hpp"

namespace morvelta {
namespace {

constexpr int colour_bits_per_channel = 8;  // 24 colour bits
constexpr int alpha_bits = 8;
constexpr int depth_bits = 24;
constexpr int stencil_bits = 8;
constexpr OpenGL default_opengl = OpenGL::V3_2;
constexpr std::string_view context_lost_text = "Context lost";

std::string sdl_error_text() {
    return SDL_GetError();
}

void describe_context(const WindowSettings& settings, OpenGL version, std::uint8_t samples) {
    SDL_GL_ResetAttributes();
    const GLVersion gl = gl_version(version);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, gl.major);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, gl.minor);
    // From 3.2 on, a context without a profile is a core context (GLX and WGL agree);
    // Mesa only gives one when core is asked for by name.
    if (gl.major * 10 + gl.minor >= 32) {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    }
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, colour_bits_per_channel);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, colour_bits_per_channel);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, colour_bits_per_channel);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, alpha_bits);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth_bits);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, stencil_bits);
    SDL_GL_SetAttribute(SDL_GL_STEREO, 0);
    SDL_GL_SetAttribute(SDL_GL_ACCELERATED_VISUAL, 1);
    SDL_GL_SetAttribute(SDL_GL_FRAMEBUFFER_SRGB_CAPABLE, settings.get_srgb() ? 1 : 0);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, samples != 0 ? 1 : 0);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, samples);
}

Uint32 window_flags(const WindowSettings& settings) {
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
    if (settings.get_fullscreen())
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    if (settings.get_resizable())
        flags |= SDL_WINDOW_RESIZABLE;
    if (!settings.get_decorated())
        flags |= SDL_WINDOW_BORDERLESS;
    return flags;
}

struct Attempt {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
};

// One try at a window with its context; on failure nothing of it is left.
Attempt open_window(const WindowSettings& settings, OpenGL version, std::uint8_t samples) {
    describe_context(settings, version, samples);
    // A full-screen window goes on the primary display, whose size the show was given,
    // wherever that display lies on the desktop.
    const int position =
        settings.get_fullscreen()
            ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED_DISPLAY(primary_display_index))
            : static_cast<int>(SDL_WINDOWPOS_UNDEFINED);
    const WindowSize size = settings.get_size();
    Attempt attempt;
    attempt.window = SDL_CreateWindow(settings.get_title().c_str(), position, position,
                                      static_cast<int>(size.width), static_cast<int>(size.height),
                                      window_flags(settings));
    if (attempt.window == nullptr)
        return {};
    attempt.context = SDL_GL_CreateContext(attempt.window);
    if (attempt.context == nullptr) {
        // Keep the context's error text, not whatever destroying the window says.
        const std::string error = sdl_error_text();
        SDL_DestroyWindow(attempt.window);
        SDL_SetError("%s", error.c_str());
        return {};
    }
    return attempt;
}

}  // namespace

WindowSizes window_sizes(PixelSize points, double current_scale, double recorded_scale) {
    const double ratio = current_scale / recorded_scale;
    return WindowSizes{{static_cast<std::uint32_t>(points.width / ratio),
                        static_cast<std::uint32_t>(points.height / ratio)},
                       {static_cast<std::uint32_t>(points.width * recorded_scale),
                        static_cast<std::uint32_t>(points.height * recorded_scale)}};
}

double scale_to_record(double current_scale, PixelSize points, WindowSize requested) {
    const bool asked_size = points.width == requested.width && points.height == requested.height;
    return current_scale != 1.0 && asked_size ? current_scale : 1.0;
}

Result<std::unique_ptr<GlutinWindow>, std::string> GlutinWindow::create(
    const WindowSettings& settings) {
    using Made = Result<std::unique_ptr<GlutinWindow>, std::string>;
    const std::uint8_t samples = settings.get_samples();
    if (samples != 0 && (samples & (samples - 1)) != 0) {
        panic("assertion failed: samples.is_power_of_two()", samples_assert_pos);
    }
    prepare_sdl_video();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return Made::err(sdl_error_text());
    const OpenGL version =
        settings.get_opengl() == OpenGL::none ? default_opengl : settings.get_opengl();
    Attempt attempt = open_window(settings, version, samples);
    if (attempt.window == nullptr)
        attempt = open_window(settings, version, 0);
    if (attempt.window == nullptr) {
        const std::string error = sdl_error_text();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return Made::err(error);
    }
    // From here the window owns the context and the video subsystem reference.
    std::unique_ptr<GlutinWindow> window(
        new GlutinWindow(attempt.window, attempt.context, settings.get_exit_on_esc()));
    if (std::optional<std::string> error = window->make_current())
        return Made::err(*error);
    SDL_GL_SetSwapInterval(settings.get_vsync() ? 1 : 0);
    // A request the server refused while the window and its context were made (a
    // context it has no memory for, say) leaves a window that cannot serve the show.
    if (std::optional<std::string> failure = display_failure_once_answered(attempt.window))
        return Made::err(*failure);

    int points_w = 0, points_h = 0, pixels_w = 0, pixels_h = 0;
    SDL_GetWindowSize(attempt.window, &points_w, &points_h);
    SDL_GL_GetDrawableSize(attempt.window, &pixels_w, &pixels_h);
    const double current = points_w > 0 ? static_cast<double>(pixels_w) / points_w : 1.0;
    window->scale_factor_ = scale_to_record(
        current, {static_cast<std::uint32_t>(points_w), static_cast<std::uint32_t>(points_h)},
        settings.get_size());
    return Made::ok(std::move(window));
}

GlutinWindow::GlutinWindow(SDL_Window* window, void* context, bool exit_on_esc)
    : window_(window), context_(context), exit_on_esc_(exit_on_esc) {}

GlutinWindow::~GlutinWindow() {
    // The context goes before its window, the video subsystem after both.
    SDL_GL_DeleteContext(context_);
    SDL_DestroyWindow(window_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

std::optional<Input> GlutinWindow::poll_input() {
    // A request the server refused ends the stream as a failure; the call that was
    // refused has long returned.
    if (std::optional<std::string> failure = display_failure())
        panic(*failure, display_lost_pos);
    SDL_Event event;
    while (SDL_PollEvent(&event) == 1) {
        std::optional<Input> input = input_from_sdl(event);
        if (!input)
            continue;
        if (asks_to_close(*input, exit_on_esc_))
            should_close_ = true;
        return input;
    }
    return std::nullopt;
}

// On X11 a minimised or unmapped window keeps its size; nobody sees it, though, so it
// counts as having none, and the schedule draws nothing until it is shown again.
WindowSizes GlutinWindow::sizes() const {
    if ((SDL_GetWindowFlags(window_) & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)) != 0)
        return {};
    int points_w = 0, points_h = 0, pixels_w = 0, pixels_h = 0;
    SDL_GetWindowSize(window_, &points_w, &points_h);
    SDL_GL_GetDrawableSize(window_, &pixels_w, &pixels_h);
    const double current = points_w > 0 ? static_cast<double>(pixels_w) / points_w : 1.0;
    return window_sizes({static_cast<std::uint32_t>(std::max(points_w, 0)),
                         static_cast<std::uint32_t>(std::max(points_h, 0))},
                        current, scale_factor_);
}

PixelSize GlutinWindow::window_size() const {
    return sizes().window;
}

PixelSize GlutinWindow::drawable_size() const {
    return sizes().drawable;
}

void GlutinWindow::swap_buffers() {
    SDL_GL_SwapWindow(window_);
}

std::optional<std::string> GlutinWindow::make_current() {
    if (SDL_GL_MakeCurrent(window_, context_) == 0)
        return std::nullopt;
    std::string error = sdl_error_text();
    // SDL has no word for a lost context; it is the one failure without a text.
    if (error.empty())
        error = context_lost_text;
    return error;
}

Result<PistonWindow, std::string> PistonWindow::build(const WindowSettings& settings) {
    using Built = Result<PistonWindow, std::string>;
    // The drawing stores sRGB colours, so the framebuffer is sRGB whatever was asked.
    Result<std::unique_ptr<GlutinWindow>, std::string> made =
        GlutinWindow::create(WindowSettings(settings).srgb(true));
    if (!made.is_ok())
        return Built::err(made.error());
    // The schedule's clocks start here, once everything else is made.
    Events events(EventSettings{}, std::make_unique<SteadyClock>());
    return Built::ok(PistonWindow(std::move(made.value()), std::move(events)));
}

PistonWindow::PistonWindow(std::unique_ptr<GlutinWindow> window, Events events)
    : window_(std::move(window)),
      factory_(),
      renderer_(std::make_unique<Gfx2d>()),
      events_(std::move(events)) {}

void PistonWindow::make_current() {
    if (std::optional<std::string> error = window_->make_current())
        unwrap_failed(debug_quoted(*error));
}

// The renderer keeps nothing of a shown frame, so an after-render event needs no
// clean-up of its own: the swap has already shown the frame.
std::optional<Event> PistonWindow::next() {
    return events_.next(*window_);
}

}  // namespace morvelta
