#include "process.hpp"

#include <SDL.h>

#include <csignal>
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace morvelta {
namespace {

#ifndef _WIN32
// The placeholder the desktop world uses for "there is no session bus": libdbus
// refuses it, so nothing autolaunches dbus-launch.
constexpr const char* no_session_bus = "disabled:";

bool is_socket(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// libdbus looks for the bus in the environment, then under the runtime folder, and
// failing both runs dbus-launch. Naming the bus ourselves keeps the first two and
// drops the third.
void name_session_bus(const char* runtime_dir) {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr)
        return;
    std::string address = no_session_bus;
    if (runtime_dir != nullptr && is_socket(std::string(runtime_dir) + "/bus"))
        address = "unix:path=" + std::string(runtime_dir) + "/bus";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}
#endif

}  // namespace

void prepare_process() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);
    name_session_bus(std::getenv("XDG_RUNTIME_DIR"));
#endif
}

}  // namespace morvelta
