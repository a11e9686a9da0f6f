// Conversion of SDL's window events into the program's input events.
#include "input.hpp"

#include <SDL.h>

namespace morvelta {
namespace {

MouseButton mouse_button(Uint8 button) {
    switch (button) {
        case SDL_BUTTON_LEFT:
            return MouseButton::left;
        case SDL_BUTTON_RIGHT:
            return MouseButton::right;
        case SDL_BUTTON_MIDDLE:
            return MouseButton::middle;
        case SDL_BUTTON_X1:
            return MouseButton::x1;
        case SDL_BUTTON_X2:
            return MouseButton::x2;
        default:
            return MouseButton::unknown;
    }
}

std::optional<Input> window_input(const SDL_WindowEvent& window) {
    switch (window.event) {
        case SDL_WINDOWEVENT_CLOSE:
            return CloseInput{};
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            return FocusInput{true};
        case SDL_WINDOWEVENT_FOCUS_LOST:
            return FocusInput{false};
        case SDL_WINDOWEVENT_ENTER:
            return CursorInput{true};
        case SDL_WINDOWEVENT_LEAVE:
            return CursorInput{false};
        // SDL reports an outside resize twice (RESIZED, then SIZE_CHANGED); every size
        // change, ours included, comes as SIZE_CHANGED, so only that one counts.
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            if (window.data1 < 0 || window.data2 < 0)
                return std::nullopt;
            return ResizeInput{static_cast<std::uint32_t>(window.data1),
                               static_cast<std::uint32_t>(window.data2)};
        default:
            return std::nullopt;
    }
}

std::optional<Input> touch_input(const SDL_TouchFingerEvent& finger, TouchPhase phase) {
    return TouchInput{phase, finger.touchId, finger.fingerId, finger.x, finger.y, finger.pressure};
}

}  // namespace

std::optional<Input> input_from_sdl(const SDL_Event& event) {
    switch (event.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            if (event.key.keysym.sym == SDLK_UNKNOWN)
                return std::nullopt;
            return KeyInput{event.type == SDL_KEYDOWN ? ButtonState::press : ButtonState::release,
                            static_cast<std::uint32_t>(event.key.keysym.sym),
                            static_cast<std::int32_t>(event.key.keysym.scancode)};
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            return MouseButtonInput{
                event.type == SDL_MOUSEBUTTONDOWN ? ButtonState::press : ButtonState::release,
                mouse_button(event.button.button)};
        case SDL_MOUSEMOTION:
            return CursorMoveInput{static_cast<double>(event.motion.x),
                                   static_cast<double>(event.motion.y)};
        case SDL_MOUSEWHEEL: {
            const double flip = event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1.0 : 1.0;
            return ScrollInput{flip * event.wheel.preciseX, flip * event.wheel.preciseY};
        }
        case SDL_TEXTINPUT:
            return TextInput{event.text.text};
        case SDL_WINDOWEVENT:
            return window_input(event.window);
        case SDL_FINGERDOWN:
            return touch_input(event.tfinger, TouchPhase::start);
        case SDL_FINGERMOTION:
            return touch_input(event.tfinger, TouchPhase::move);
        case SDL_FINGERUP:
            return touch_input(event.tfinger, TouchPhase::end);
        default:
            return std::nullopt;
    }
}

bool asks_to_close(const Input& input, bool exit_on_esc) {
    if (std::holds_alternative<CloseInput>(input))
        return true;
    const auto* key = std::get_if<KeyInput>(&input);
    return exit_on_esc && key != nullptr && key->state == ButtonState::press &&
           key->key == escape_key;
}

}  // namespace morvelta
