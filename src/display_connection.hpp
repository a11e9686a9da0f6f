// The connection to the display server, watched from before it is opened until the
// process ends.
//
// Xlib reacts to a lost server and to a refused request by printing its own message
// and calling exit(1) from inside whichever call noticed, before any release of ours.
// Both reactions are handlers that a program may replace, process-wide, so ours are
// put in place before SDL opens the display; SDL chains its own error handlers to
// whichever it found, so they stay ours until the display is closed.
//
// A lost server ends the process from the handler, with the report and the failure
// status: Xlib leaves the connection dead once the handler returns, and SDL waits for
// events on it in loops that would then never end (a window being shown or hidden), while
// unwinding through Xlib's C frames is unsound. A refused request is only recorded; the
// event poll turns it into the show's failure, so that the release still runs.
#pragma once

#include <optional>
#include <string>

#include "failure.hpp"

struct SDL_Window;

namespace morvelta {

// The report place of a lost display connection, and of a refused request.
inline constexpr SourcePos display_lost_pos{"src\\window", 172, 13};

// Puts our handlers in place; called before every start of SDL's video subsystem (only
// the first call does anything). Does nothing where the program is built without Xlib.
void watch_display_server();

// The first request the server refused, as Xlib's own report names it; none while all is
// well. Asking makes a round trip first: a server that is going away refuses requests
// before its connection closes, and then the loss is what ends the show.
std::optional<std::string> display_failure();

// The same, once the server has answered every request sent so far on `window`'s
// connection: for the end of a step whose requests must all have been granted.
std::optional<std::string> display_failure_once_answered(SDL_Window* window);

}  // namespace morvelta
