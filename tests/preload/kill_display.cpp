// Preloaded by the lost-display tests: the display server is killed (SIGKILL, as a crash
// would end it) on entry to the SDL call named by MORVELTA_KILL_DISPLAY_AT, whose pid
// MORVELTA_KILL_DISPLAY_PID gives; the call itself then goes ahead once the server is
// surely gone.
#include <SDL2/SDL.h>
#include <dlfcn.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace {

void kill_display_at(std::string_view call) {
    const char* at = std::getenv("MORVELTA_KILL_DISPLAY_AT");
    const char* pid = std::getenv("MORVELTA_KILL_DISPLAY_PID");
    if (at == nullptr || pid == nullptr || call != at)
        return;
    ::kill(static_cast<pid_t>(std::atol(pid)), SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

template <class F>
F* real(const char* name) {
    return reinterpret_cast<F*>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" SDL_Window* SDL_CreateWindow(const char* title, int x, int y, int w, int h,
                                        Uint32 flags) {
    kill_display_at("SDL_CreateWindow");
    return real<decltype(SDL_CreateWindow)>("SDL_CreateWindow")(title, x, y, w, h, flags);
}

extern "C" SDL_GLContext SDL_GL_CreateContext(SDL_Window* window) {
    kill_display_at("SDL_GL_CreateContext");
    return real<decltype(SDL_GL_CreateContext)>("SDL_GL_CreateContext")(window);
}

extern "C" void SDL_DestroyWindow(SDL_Window* window) {
    kill_display_at("SDL_DestroyWindow");
    real<decltype(SDL_DestroyWindow)>("SDL_DestroyWindow")(window);
}
