// Timing the pictures to the song: when each picture is due, and the loop that
// switches and draws them while the song plays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "failure.hpp"
#include "fmod_layer.hpp"
#include "picture_sprite.hpp"
#include "render_args.hpp"

namespace morvelta {

// Entry i is the playback time, in milliseconds, from which picture i is shown.
using SwitchTimes = std::vector<std::uint64_t>;

// The loop's place in the show.
struct SlideCursor {
    std::uint64_t next_switch = 0;           // index of the next pending switch time
    std::size_t next_sprite = 0;             // the sprite the next switch makes current
    const PictureSprite* current = nullptr;  // none until the first switch
};

// i × length / n for each of the n pictures, product first so that nothing is lost
// to an early truncation. The length result is examined only when there is a picture
// to time; a failed length query then stops the program.
template <class LengthResult>
SwitchTimes compute_switch_times(std::uint64_t n, const LengthResult& length) {
    SwitchTimes times;
    times.reserve(n);
    for (std::uint64_t i = 0; i < n; ++i) {
        if (!length.is_ok())
            unwrap_failed(debug_form(length.error()));
        std::uint64_t total = length.value();
        times.push_back(i * total / n);
    }
    return times;
}

// Runs the show until the window's event stream ends or the song stops playing.
//
// Per event: read the playback position; while a switch is pending, a failed read
// stops the program and a reached switch time makes the next picture current (one
// switch per event, so every picture is current for at least one event); draw on a
// render event; then end once the channel says it no longer plays. A failed
// playing query is no reason to cut the show short, so it is ignored.
//
// `events.next()` gives an optional event whose `render_args()` is non-null for render
// events; `channel` answers `get_position(unit)` and `is_playing()` with results;
// `draw(args, current)` draws one frame.
template <class EventSource, class ChannelLike, class Draw>
void run_slideshow(EventSource& events, ChannelLike& channel,
                   const std::vector<PictureSprite>& sprites, const SwitchTimes& switch_times,
                   SlideCursor& cursor, Draw&& draw) {
    while (auto event = events.next()) {
        auto position = channel.get_position(FMOD_TIMEUNIT_MS);
        if (cursor.next_switch < switch_times.size()) {
            if (!position.is_ok())
                unwrap_failed(debug_form(position.error()));
            if (static_cast<std::uint64_t>(position.value()) >= switch_times[cursor.next_switch]) {
                cursor.current = &sprites[cursor.next_sprite];
                ++cursor.next_sprite;
                ++cursor.next_switch;
            }
        }
        if (const RenderArgs* args = event->render_args())
            draw(*args, cursor.current);
        auto playing = channel.is_playing();
        if (playing.is_ok() && !playing.value())
            break;
    }
}

}  // namespace morvelta
