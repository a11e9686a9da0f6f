#include "environment.hpp"

#include <cerrno>
#include <cstdlib>
#include <string>

#include "debug_form.hpp"
#include "failure.hpp"

namespace morvelta {

void set_environment_variable(std::string_view name, std::string_view value) {
    std::string name_text(name);
    std::string value_text(value);
    // A name or value holding a zero byte cannot reach the platform intact.
    bool refused =
        name_text.find('\0') != std::string::npos || value_text.find('\0') != std::string::npos;
    if (refused)
        errno = EINVAL;
#ifdef _WIN32
    if (!refused)
        refused = _putenv_s(name_text.c_str(), value_text.c_str()) != 0;
#else
    if (!refused)
        refused = ::setenv(name_text.c_str(), value_text.c_str(), 1) != 0;
#endif
    if (!refused)
        return;
    int code = errno;
    panic("failed to set environment variable `" + debug_quoted(name) + "` to `" +
              debug_quoted(value) + "`: " + os_error_text(code),
          runtime_pos);
}

}  // namespace morvelta
