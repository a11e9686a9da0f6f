// Input events: what the window hands the event stream when it is polled, made from
// SDL's events one by one. Only input.cpp sees SDL's event types.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

union SDL_Event;

namespace morvelta {

// The key code of Esc, which closes the window when the settings ask for it.
inline constexpr std::uint32_t escape_key = 27;

enum class ButtonState { press, release };

// A keyboard key: SDL's key code (printable keys are their character) and scan code.
struct KeyInput {
    ButtonState state;
    std::uint32_t key;
    std::int32_t scancode;
};

enum class MouseButton { unknown, left, right, middle, x1, x2 };

struct MouseButtonInput {
    ButtonState state;
    MouseButton button;
};

// The cursor's place in window coordinates (points).
struct CursorMoveInput {
    double x;
    double y;
};

// Wheel motion: right and up are positive.
struct ScrollInput {
    double dx;
    double dy;
};

struct TextInput {
    std::string text;
};

struct FocusInput {
    bool focused;
};

// The cursor entered (true) or left (false) the window.
struct CursorInput {
    bool inside;
};

struct ResizeInput {
    std::uint32_t width;
    std::uint32_t height;
};

enum class TouchPhase { start, move, end };

// A finger on a touch device; x and y are fractions (0 to 1) of the window's size.
struct TouchInput {
    TouchPhase phase;
    std::int64_t device;
    std::int64_t finger;
    double x;
    double y;
    double pressure;
};

// The platform asks the window to close.
struct CloseInput {};

using Input = std::variant<KeyInput, MouseButtonInput, CursorMoveInput, ScrollInput, TextInput,
                           FocusInput, CursorInput, ResizeInput, TouchInput, CloseInput>;

// The input an SDL event stands for, or nothing for the events the program ignores
// (and for keyboard events without a key code).
std::optional<Input> input_from_sdl(const SDL_Event& event);

// Whether delivering `input` must end the event stream: a close request always, a
// press of Esc when `exit_on_esc` is on.
bool asks_to_close(const Input& input, bool exit_on_esc);

}  // namespace morvelta
