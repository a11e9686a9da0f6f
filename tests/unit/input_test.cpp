// SDL events as the program's input events, and which of them close the window.
#include "input.hpp"

#include <SDL.h>
#include <gtest/gtest.h>

namespace morvelta {
namespace {

SDL_Event key_event(Uint32 type, SDL_Keycode sym, SDL_Scancode scancode) {
    SDL_Event event{};
    event.type = type;
    event.key.keysym.sym = sym;
    event.key.keysym.scancode = scancode;
    return event;
}

SDL_Event window_event(Uint8 kind, Sint32 a = 0, Sint32 b = 0) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.event = kind;
    event.window.data1 = a;
    event.window.data2 = b;
    return event;
}

TEST(InputFromSdl, KeysCarryKeyAndScanCodeAndUnknownKeysAreDropped) {
    std::optional<Input> esc =
        input_from_sdl(key_event(SDL_KEYDOWN, SDLK_ESCAPE, SDL_SCANCODE_ESCAPE));
    ASSERT_TRUE(esc);
    const KeyInput& key = std::get<KeyInput>(*esc);
    EXPECT_EQ(key.state, ButtonState::press);
    EXPECT_EQ(key.key, escape_key);
    EXPECT_EQ(key.scancode, SDL_SCANCODE_ESCAPE);
    std::optional<Input> up = input_from_sdl(key_event(SDL_KEYUP, SDLK_a, SDL_SCANCODE_A));
    ASSERT_TRUE(up);
    EXPECT_EQ(std::get<KeyInput>(*up).state, ButtonState::release);
    EXPECT_EQ(std::get<KeyInput>(*up).key, static_cast<std::uint32_t>('a'));
    EXPECT_FALSE(input_from_sdl(key_event(SDL_KEYDOWN, SDLK_UNKNOWN, SDL_SCANCODE_UNKNOWN)));
}

TEST(InputFromSdl, WindowEventsAndWheelBecomeInputAndTheRestIsDropped) {
    EXPECT_TRUE(
        std::holds_alternative<CloseInput>(*input_from_sdl(window_event(SDL_WINDOWEVENT_CLOSE))));
    EXPECT_FALSE(
        std::get<FocusInput>(*input_from_sdl(window_event(SDL_WINDOWEVENT_FOCUS_LOST))).focused);
    EXPECT_TRUE(std::get<CursorInput>(*input_from_sdl(window_event(SDL_WINDOWEVENT_ENTER))).inside);
    const ResizeInput resize = std::get<ResizeInput>(
        *input_from_sdl(window_event(SDL_WINDOWEVENT_SIZE_CHANGED, 800, 600)));
    EXPECT_EQ(resize.width, 800u);
    EXPECT_EQ(resize.height, 600u);
    // The duplicate report of an outside resize and the other window events are dropped.
    EXPECT_FALSE(input_from_sdl(window_event(SDL_WINDOWEVENT_RESIZED, 800, 600)));
    EXPECT_FALSE(input_from_sdl(window_event(SDL_WINDOWEVENT_EXPOSED)));

    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.preciseY = 1.5f;
    wheel.wheel.direction = SDL_MOUSEWHEEL_FLIPPED;
    EXPECT_EQ(std::get<ScrollInput>(*input_from_sdl(wheel)).dy, -1.5);

    SDL_Event quit{};
    quit.type = SDL_QUIT;
    EXPECT_FALSE(input_from_sdl(quit));
}

TEST(AsksToClose, CloseAlwaysEscPressOnlyWithExitOnEsc) {
    EXPECT_TRUE(asks_to_close(CloseInput{}, false));
    const Input esc_press = KeyInput{ButtonState::press, escape_key, 41};
    EXPECT_TRUE(asks_to_close(esc_press, true));
    EXPECT_FALSE(asks_to_close(esc_press, false));
    EXPECT_FALSE(asks_to_close(KeyInput{ButtonState::release, escape_key, 41}, true));
    EXPECT_FALSE(asks_to_close(KeyInput{ButtonState::press, 'q', 20}, true));
    EXPECT_FALSE(asks_to_close(FocusInput{false}, true));
}

}  // namespace
}  // namespace morvelta
