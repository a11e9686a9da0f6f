// What a render event tells the drawing: the window's size in points and the
// drawable's size in pixels.
#pragma once

#include <array>
#include <cstdint>

namespace morvelta {

struct Viewport {
    std::array<std::int32_t, 4> rect;          // x, y, w, h: (0, 0, drawable width, height)
    std::array<std::uint32_t, 2> draw_size;    // pixels
    std::array<std::uint32_t, 2> window_size;  // points
};

struct RenderArgs {
    double ext_dt = 0.0;  // seconds since the last update
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t draw_width = 0;
    std::uint32_t draw_height = 0;

    Viewport viewport() const {
        return Viewport{
            {0, 0, static_cast<std::int32_t>(draw_width), static_cast<std::int32_t>(draw_height)},
            {draw_width, draw_height},
            {width, height}};
    }
};

}  // namespace morvelta
