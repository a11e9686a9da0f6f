// Other clients of the show's display: closing a window from outside, as a window
// manager's close button does, or destroying it, as any other client may; and asking
// whether the server answers at all.
#pragma once

#include <string>

namespace morvelta::testing {

// Sends the WM_DELETE_WINDOW request to the X window `id` (decimal) on `display`.
bool send_close_request(const std::string& display, const std::string& id);

// Destroys the X window `id` (decimal) on `display`.
bool destroy_window(const std::string& display, const std::string& id);

// Whether `display` accepts a client and answers a round trip.
bool display_answers(const std::string& display);

}  // namespace morvelta::testing
