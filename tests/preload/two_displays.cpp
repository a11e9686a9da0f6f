// Preloaded by the primary-display test: the program sees the X screen as two displays
// side by side, the primary (display 0) on the right half and another one at the
// desktop's origin on the left half, as with a monitor to the right of a laptop's screen.
// Notes the window the program asks for on standard error as
// "trace: SDL_CreateWindow <x> <y> <width> <height>".
#include <SDL2/SDL.h>
#include <dlfcn.h>
#include <unistd.h>

#include <string>

namespace {

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int SDL_GetNumVideoDisplays(void) {
    const int real = next<int (*)()>("SDL_GetNumVideoDisplays")();
    return real < 1 ? real : 2;
}

int SDL_GetDisplayBounds(int index, SDL_Rect* rect) {
    SDL_Rect screen{};
    const int status = next<int (*)(int, SDL_Rect*)>("SDL_GetDisplayBounds")(0, &screen);
    if (status != 0 || index < 0 || index > 1)
        return status != 0 ? status : -1;
    const int half = screen.w / 2;
    *rect = index == 0 ? SDL_Rect{screen.x + half, screen.y, screen.w - half, screen.h}
                       : SDL_Rect{screen.x, screen.y, half, screen.h};
    return 0;
}

SDL_Window* SDL_CreateWindow(const char* title, int x, int y, int w, int h, Uint32 flags) {
    const std::string line = "trace: SDL_CreateWindow " + std::to_string(x) + " " +
                             std::to_string(y) + " " + std::to_string(w) + " " + std::to_string(h) +
                             "\n";
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    return next<SDL_Window* (*)(const char*, int, int, int, int, Uint32)>("SDL_CreateWindow")(
        title, x, y, w, h, flags);
}
}
