// The event schedule. Deadlines are kept in integer nanoseconds so that the update
// clock advances by exactly one period per update and never drifts.
#include "events.hpp"

#include <algorithm>

namespace morvelta {
namespace {

constexpr std::uint64_t ns_per_second = 1'000'000'000;
// Sleeps are asked for in whole milliseconds, rounded up, so a wake-up never comes
// before its deadline.
constexpr std::uint64_t sleep_granularity = 1'000'000;

std::uint64_t since(std::uint64_t later, std::uint64_t earlier) {
    return later > earlier ? later - earlier : 0;
}

}  // namespace

double seconds_of(std::uint64_t ns) {
    return static_cast<double>(ns / ns_per_second) +
           static_cast<double>(ns % ns_per_second) / static_cast<double>(ns_per_second);
}

Events::Events(EventSettings settings, std::unique_ptr<Clock> clock)
    : settings_(settings),
      clock_(std::move(clock)),
      update_period_(ns_per_second / settings.ups),
      frame_period_(ns_per_second / settings.max_fps),
      update_step_(1.0 / static_cast<double>(settings.ups)),
      last_update_(clock_->now()),
      last_frame_(last_update_) {}

std::optional<Event> Events::next(EventWindow& window) {
    if (window.should_close())
        return std::nullopt;
    while (true) {
        if (std::optional<Event> event = step(window))
            return event;
        if (window.should_close())
            return std::nullopt;
    }
}

// One move of the state machine: an event to hand out, or none after a change of state.
std::optional<Event> Events::step(EventWindow& window) {
    switch (state_) {
        case State::events_then_render: {
            if (std::optional<Input> input = window.poll_input())
                return Event(std::move(*input));
            // The outer loop checks should-close after this state change too, but a render
            // must never be handed out for a window that is closing.
            if (window.should_close())
                return std::nullopt;
            last_frame_ = clock_->now();
            const PixelSize size = window.window_size();
            const PixelSize draw = window.drawable_size();
            if (size.width == 0 || size.height == 0) {
                state_ = State::wait_not_idled;
                return std::nullopt;
            }
            state_ = State::swap;
            return Event(RenderArgs{seconds_of(since(last_frame_, last_update_)), size.width,
                                    size.height, draw.width, draw.height});
        }
        case State::swap:
            // A failed swap is not worth stopping the show for; the window ignores it.
            if (settings_.swap_buffers)
                window.swap_buffers();
            state_ = State::wait_not_idled;
            return Event(AfterRenderArgs{});
        case State::wait_not_idled:
        case State::wait_idled: {
            const std::uint64_t now = clock_->now();
            const std::uint64_t next_frame = last_frame_ + frame_period_;
            const std::uint64_t next_update = last_update_ + update_period_;
            const std::uint64_t deadline = std::min(next_frame, next_update);
            if (deadline <= now) {
                // On a tie the render goes first.
                state_ = next_frame > next_update ? State::events_then_update
                                                  : State::events_then_render;
                return std::nullopt;
            }
            if (std::optional<Input> input = window.poll_input()) {
                state_ = State::wait_not_idled;
                return Event(std::move(*input));
            }
            if (state_ == State::wait_not_idled) {
                state_ = State::wait_idled;
                return Event(IdleArgs{seconds_of(deadline - now)});
            }
            const std::uint64_t wait = deadline - now;
            clock_->sleep((wait + sleep_granularity - 1) / sleep_granularity * sleep_granularity);
            state_ = State::wait_not_idled;
            return std::nullopt;
        }
        case State::events_then_update:
            if (std::optional<Input> input = window.poll_input())
                return Event(std::move(*input));
            state_ = State::update;
            return std::nullopt;
        case State::update: {
            state_ = State::wait_not_idled;
            const std::uint64_t now = clock_->now();
            if (settings_.ups_reset > 0 &&
                since(now, last_update_) > settings_.ups_reset * update_period_) {
                last_update_ = now;
            } else {
                last_update_ += update_period_;
            }
            return Event(UpdateArgs{update_step_});
        }
    }
    return std::nullopt;
}

}  // namespace morvelta
