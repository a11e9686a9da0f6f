// The one window of the program: an SDL window with its OpenGL context
// (`GlutinWindow`), and `PistonWindow`, which adds the graphics objects and the event
// stream. Both live from `build` to the end of main and need the main thread.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "events.hpp"
#include "failure.hpp"
#include "renderer.hpp"
#include "result.hpp"
#include "sprites.hpp"
#include "window_settings.hpp"

struct SDL_Window;

namespace morvelta {

// The report place of a multisample count that is not a power of two.
inline constexpr SourcePos samples_assert_pos{"src\\window", 120, 9};

// The window's size in points and its drawable's size in pixels, from its size in
// points, the present points-to-pixels scale and the scale recorded at creation.
struct WindowSizes {
    PixelSize window;
    PixelSize drawable;
};
WindowSizes window_sizes(PixelSize points, double current_scale, double recorded_scale);

// The scale to record at creation: the present one when it is not 1.0 and the window
// came out exactly at the asked size, otherwise 1.0.
double scale_to_record(double current_scale, PixelSize points, WindowSize requested);

// The window with its OpenGL context, current on the calling thread from creation on.
class GlutinWindow final : public EventWindow {
  public:
    // A window and context as the description says, or the platform's error text.
    static Result<std::unique_ptr<GlutinWindow>, std::string> create(
        const WindowSettings& settings);
    ~GlutinWindow() override;
    GlutinWindow(const GlutinWindow&) = delete;
    GlutinWindow& operator=(const GlutinWindow&) = delete;

    // One converted input event; a close request or Esc (with exit_on_esc) also sets
    // the should-close flag.
    std::optional<Input> poll_input() override;
    bool should_close() const override { return should_close_; }
    // Both sizes are zero while the window is minimised or hidden.
    PixelSize window_size() const override;
    PixelSize drawable_size() const override;
    // A failed swap is ignored.
    void swap_buffers() override;

    void set_should_close(bool value) { should_close_ = value; }
    // Makes the context current; the error text when that fails.
    std::optional<std::string> make_current();
    double recorded_scale() const { return scale_factor_; }
    SDL_Window* sdl_window() const { return window_; }

  private:
    GlutinWindow(SDL_Window* window, void* context, bool exit_on_esc);
    WindowSizes sizes() const;

    SDL_Window* window_;
    void* context_;
    bool exit_on_esc_;
    bool should_close_ = false;
    double scale_factor_ = 1.0;
};

// The window object main owns: back end, graphics objects and the event schedule.
class PistonWindow final : public FrameTarget {
  public:
    // Opens the window: the settings' title and size, OpenGL 3.2 (also without a
    // version), sRGB, and the event stream at its default settings. The error is the
    // platform's text, or "Context lost".
    static Result<PistonWindow, std::string> build(const WindowSettings& settings);

    PistonWindow(PistonWindow&&) noexcept = default;
    PistonWindow& operator=(PistonWindow&&) noexcept = default;
    ~PistonWindow() override = default;

    // The next event of the stream, or none once the window is to close.
    std::optional<Event> next();
    // Makes the window's OpenGL context current, or stops the program with the error.
    void make_current() override;
    Gfx2d& renderer() override { return *renderer_; }
    void swap_buffers() { window_->swap_buffers(); }
    bool should_close() const { return window_->should_close(); }
    void set_should_close(bool value) { window_->set_should_close(value); }
    PixelSize window_size() const { return window_->window_size(); }
    PixelSize drawable_size() const { return window_->drawable_size(); }
    GlutinWindow& back_end() { return *window_; }
    Events& events() { return events_; }
    // Makes textures on this window's device; they must be dropped before the window.
    TextureFactory& factory() { return factory_; }

  private:
    PistonWindow(std::unique_ptr<GlutinWindow> window, Events events);
    // Released last of all: the context must outlive every graphics object below.
    std::unique_ptr<GlutinWindow> window_;
    // The graphics objects come after `window_`, so that they are released while the
    // context still exists. The main colour target is the default framebuffer, which
    // follows the drawable size by itself: nothing is recreated when the window
    // changes size.
    TextureFactory factory_;
    std::unique_ptr<Gfx2d> renderer_;
    Events events_;
};

}  // namespace morvelta
