#include "process.hpp"

#include <SDL.h>

#include <csignal>
#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace morvelta {
namespace {

#ifndef _WIN32
// The placeholder the desktop world uses for "there is no session bus": libdbus
// refuses it, so nothing autolaunches dbus-launch.
constexpr const char* no_session_bus = "disabled:";

// The bus socket libdbus itself would take from the runtime folder: this user's own
// socket, not a link to one.
bool is_own_socket(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == ::getuid();
}

// A path as a D-Bus address value: every byte outside the few that may stand bare is
// written %XX, or libdbus refuses the address (a space in the runtime folder would).
std::string escape_address_value(const std::string& value) {
    constexpr const char* digits = "0123456789abcdef";
    std::string escaped;
    for (const unsigned char byte : value) {
        const bool bare = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                          (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' ||
                          byte == '/' || byte == '\\' || byte == '*' || byte == '.';
        if (bare) {
            escaped += static_cast<char>(byte);
        } else {
            escaped += '%';
            escaped += digits[byte >> 4];
            escaped += digits[byte & 0xf];
        }
    }
    return escaped;
}

// libdbus takes the bus from the environment (an empty value counts as none), then from
// the runtime folder, and failing both runs dbus-launch. Naming what it would find
// keeps the first two as they are and drops only the third.
void name_session_bus() {
    const char* named = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (named != nullptr && *named != '\0')
        return;
    std::string address = no_session_bus;
    const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
    if (runtime_dir != nullptr && is_own_socket(std::string(runtime_dir) + "/bus"))
        address = "unix:path=" + escape_address_value(std::string(runtime_dir) + "/bus");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
}
#endif

}  // namespace

void prepare_process() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);
    name_session_bus();
    // The show keeps nothing between runs; Mesa would otherwise keep its compiled shaders
    // in a cache under the user's home. Set here, while this is the only thread: the
    // sound library's threads read the environment once they run.
    ::setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
#endif
}

}  // namespace morvelta
