// The event stream's schedule: pending input first, a render and an after-render at
// most `max_fps` times a second, `ups` updates a second, and one idle event before
// each sleep. Time and the window come in through the `Clock` and `EventWindow`
// seams so the schedule runs without a screen.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>

#include "input.hpp"
#include "render_args.hpp"

namespace morvelta {

// Monotonic time in nanoseconds, and sleeping.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint64_t now() = 0;
    virtual void sleep(std::uint64_t ns) = 0;
};

struct PixelSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The window as the schedule sees it.
class EventWindow {
  public:
    virtual ~EventWindow() = default;
    // One pending input event, without waiting.
    virtual std::optional<Input> poll_input() = 0;
    virtual bool should_close() const = 0;
    // In points.
    virtual PixelSize window_size() const = 0;
    // In pixels.
    virtual PixelSize drawable_size() const = 0;
    virtual void swap_buffers() = 0;
};

struct EventSettings {
    std::uint64_t max_fps = 60;
    std::uint64_t ups = 120;
    // Update periods of backlog after which the update clock jumps to now.
    std::uint64_t ups_reset = 2;
    bool swap_buffers = true;
    bool bench_mode = false;  // kept for completeness; the schedule has no such mode
    bool lazy = false;        // kept for completeness; the schedule has no such mode
};

struct AfterRenderArgs {};
struct UpdateArgs {
    double dt;  // seconds, always 1 / ups
};
struct IdleArgs {
    double dt;  // seconds until the next deadline
};

// One event of the stream: an input event or a loop event.
class Event {
  public:
    using Data = std::variant<Input, RenderArgs, AfterRenderArgs, UpdateArgs, IdleArgs>;
    explicit Event(Data data) : data_(std::move(data)) {}

    const Data& data() const { return data_; }
    const Input* input() const { return std::get_if<Input>(&data_); }
    // Non-null only for a render event.
    const RenderArgs* render_args() const { return std::get_if<RenderArgs>(&data_); }
    bool is_after_render() const { return std::holds_alternative<AfterRenderArgs>(data_); }
    const UpdateArgs* update_args() const { return std::get_if<UpdateArgs>(&data_); }
    const IdleArgs* idle_args() const { return std::get_if<IdleArgs>(&data_); }

  private:
    Data data_;
};

// The schedule's state, started by `build` of the window.
class Events {
  public:
    enum class State {
        events_then_render,
        swap,
        wait_not_idled,
        wait_idled,
        events_then_update,
        update
    };

    // Both clocks start at the clock's present instant. `ups` and `max_fps` must be
    // non-zero.
    Events(EventSettings settings, std::unique_ptr<Clock> clock);

    // The next event, or none once the window is to close.
    std::optional<Event> next(EventWindow& window);

    State state() const { return state_; }
    std::uint64_t frame_period() const { return frame_period_; }
    std::uint64_t update_period() const { return update_period_; }
    Clock& clock() { return *clock_; }

  private:
    std::optional<Event> step(EventWindow& window);

    EventSettings settings_;
    std::unique_ptr<Clock> clock_;
    std::uint64_t update_period_;
    std::uint64_t frame_period_;
    double update_step_;
    std::uint64_t last_update_;
    std::uint64_t last_frame_;
    State state_ = State::events_then_render;
};

// Nanoseconds as seconds: whole seconds plus the remaining nanoseconds.
double seconds_of(std::uint64_t ns);

}  // namespace morvelta
