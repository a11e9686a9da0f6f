// The window's connection to the display server, watched for its loss.
//
// When the X server goes away (killed, session ended), Xlib's default reaction is to
// print its own message and exit(1) from inside whichever call noticed it, before any
// release of ours. Xlib does let the program take over: an I/O error handler that
// records the loss, and an exit handler (libX11 1.8) that returns, after which every
// Xlib call on that connection is a no-op. The loss then surfaces where the program
// asks for events, as a failure of its own. A request the server refuses (its window
// destroyed by another client, or freed by a server on its way down) would end the
// process the same way, and is handled the same way. Throwing from the handlers
// instead would unwind through Xlib's C frames with its display lock held, which is
// unsound.
#pragma once

#include <optional>
#include <string>

struct SDL_Window;

namespace morvelta {

// Watches the display connection behind `window` from now on. Does nothing for a
// window that is not on an X server, or where Xlib cannot hand over its exit.
void watch_display_connection(SDL_Window* window);

// What happened to the connection, once it has been lost; none while it holds.
std::optional<std::string> lost_display_connection();

// Waits until the server has answered every request sent so far. SDL puts Xlib's
// exiting handler back when its video subsystem stops: whatever the server still
// refuses must reach ours before then.
void await_display_answers();

// Why the display can no longer serve the show: the lost connection, or else the first
// request the server refused; none while all is well.
std::optional<std::string> display_failure();

}  // namespace morvelta
