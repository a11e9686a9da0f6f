// Preloaded by the lost-display tests, to make the display server fail the program at a
// chosen SDL call:
// - MORVELTA_KILL_DISPLAY_AT names the call on whose entry the server, whose pid
//   MORVELTA_KILL_DISPLAY_PID gives, is killed (SIGKILL, as a crash would end it); the
//   call then goes ahead once the server is surely gone;
// - MORVELTA_REFUSE_AT names the call after which the program's connection sends a
//   request the server refuses, as it would refuse a context it has no memory for.
#include <SDL2/SDL.h>
#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <string_view>
#include <thread>

namespace {

bool is_named(const char* variable, std::string_view call) {
    const char* named = std::getenv(variable);
    return named != nullptr && call == named;
}

void kill_display_at(std::string_view call) {
    const char* pid = std::getenv("MORVELTA_KILL_DISPLAY_PID");
    if (pid == nullptr || !is_named("MORVELTA_KILL_DISPLAY_AT", call))
        return;
    ::kill(static_cast<pid_t>(std::atol(pid)), SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

void refuse_at(std::string_view call, SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!is_named("MORVELTA_REFUSE_AT", call) || window == nullptr ||
        SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11)
        return;
    // No window has the id 1: the server answers with BadWindow.
    XUnmapWindow(info.info.x11.display, 1);
    XFlush(info.info.x11.display);
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
    SDL_GLContext context = real<decltype(SDL_GL_CreateContext)>("SDL_GL_CreateContext")(window);
    refuse_at("SDL_GL_CreateContext", window);
    return context;
}

extern "C" void SDL_DestroyWindow(SDL_Window* window) {
    kill_display_at("SDL_DestroyWindow");
    real<decltype(SDL_DestroyWindow)>("SDL_DestroyWindow")(window);
}
