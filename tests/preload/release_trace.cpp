// Preloaded into the program by the release-order tests: notes on standard error, as
// "trace: <call>" lines between the program's own report lines, each call that releases
// a window, a song or the audio and video subsystems, then passes the call on.
#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>
#include <dlfcn.h>
#include <unistd.h>

#include <string>

namespace {

void note(const std::string& line) {
    std::string text = "trace: " + line + "\n";
    [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
}

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

void SDL_GL_DeleteContext(SDL_GLContext context) {
    note("SDL_GL_DeleteContext");
    next<void (*)(SDL_GLContext)>("SDL_GL_DeleteContext")(context);
}

void SDL_DestroyWindow(SDL_Window* window) {
    note("SDL_DestroyWindow");
    next<void (*)(SDL_Window*)>("SDL_DestroyWindow")(window);
}

void SDL_QuitSubSystem(Uint32 flags) {
    std::string what;
    if (flags & SDL_INIT_VIDEO)
        what += " video";
    if (flags & SDL_INIT_AUDIO)
        what += " audio";
    note("SDL_QuitSubSystem" + what);
    next<void (*)(Uint32)>("SDL_QuitSubSystem")(flags);
}

void Mix_HookMusic(void (*mix_func)(void*, Uint8*, int), void* arg) {
    note(mix_func == nullptr ? "Mix_HookMusic cleared" : "Mix_HookMusic set");
    next<void (*)(void (*)(void*, Uint8*, int), void*)>("Mix_HookMusic")(mix_func, arg);
}

void Mix_CloseAudio(void) {
    note("Mix_CloseAudio");
    next<void (*)(void)>("Mix_CloseAudio")();
}
}
