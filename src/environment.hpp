// The process's own environment.
#pragma once

#include <string_view>

namespace morvelta {

// Sets `name` to `value` in this process's environment, replacing any value it had.
// A refusal stops the program with the platform's error.
void set_environment_variable(std::string_view name, std::string_view value);

}  // namespace morvelta
