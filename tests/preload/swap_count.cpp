// Preloaded by the hidden-window tests: adds one byte to the file named by
// MORVELTA_SWAP_COUNT_FILE for each buffer swap of the program, so that the file's size
// is the number of frames shown so far.
#include <SDL2/SDL.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

extern "C" void SDL_GL_SwapWindow(SDL_Window* window) {
    static const int count_file = [] {
        const char* path = std::getenv("MORVELTA_SWAP_COUNT_FILE");
        return path == nullptr ? -1 : ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    }();
    if (count_file >= 0) [[maybe_unused]]
        ssize_t written = ::write(count_file, "s", 1);
    reinterpret_cast<void (*)(SDL_Window*)>(dlsym(RTLD_NEXT, "SDL_GL_SwapWindow"))(window);
}
