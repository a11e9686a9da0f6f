// Preloaded into the program by the release-order tests: notes, in a file named by
// MORVELTA_RELEASE_TRACE, each call that releases a window, a song or the audio and
// video subsystems, then passes the call on.
#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void note(const std::string& line) {
    const char* path = std::getenv("MORVELTA_RELEASE_TRACE");
    if (path == nullptr) return;
    int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    std::string text = line + "\n";
    [[maybe_unused]] ssize_t written = ::write(fd, text.data(), text.size());
    ::close(fd);
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
    if (flags & SDL_INIT_VIDEO) what += " video";
    if (flags & SDL_INIT_AUDIO) what += " audio";
    note("SDL_QuitSubSystem" + what);
    next<void (*)(Uint32)>("SDL_QuitSubSystem")(flags);
}

void Mix_FreeMusic(Mix_Music* music) {
    note("Mix_FreeMusic");
    next<void (*)(Mix_Music*)>("Mix_FreeMusic")(music);
}

void Mix_CloseAudio(void) {
    note("Mix_CloseAudio");
    next<void (*)(void)>("Mix_CloseAudio")();
}

int Mix_HaltMusic(void) {
    note("Mix_HaltMusic");
    return next<int (*)(void)>("Mix_HaltMusic")();
}

}
