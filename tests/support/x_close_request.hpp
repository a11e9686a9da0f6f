// Closing a window from outside, as a window manager's close button does, or destroying
// it, as any other client of the display may.
#pragma once

#include <string>

namespace morvelta::testing {

// Sends the WM_DELETE_WINDOW request to the X window `id` (decimal) on `display`.
bool send_close_request(const std::string& display, const std::string& id);

// Destroys the X window `id` (decimal) on `display`.
bool destroy_window(const std::string& display, const std::string& id);

}  // namespace morvelta::testing
