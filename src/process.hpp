// What the process asks of the platform before any library starts: how it may be
// stopped, that it starts no other program, and that it keeps no shader cache.
#pragma once

namespace morvelta {

// Called once, first thing in `main`, before any library is started:
// - SIGINT and SIGTERM keep their default action in every phase (SDL is told to
//   install no handlers of its own), so Ctrl-C, `kill` and `timeout` end the show at
//   once and the system reclaims the window and the sound device;
// - SIGPIPE is ignored, so a report written into a closed pipe fails as a write
//   instead of killing the process before its release;
// - the session bus gets the address its client library would find itself, or one it
//   refuses when there is none, so that the library never launches dbus-launch to
//   look for one. A child would inherit LD_LIBRARY_PATH=".", which the show sets, and
//   load libraries from the shown folder. The sound server is left to the user's
//   configuration: what plays, and what happens where no server runs, is theirs;
// - Mesa keeps no shader cache, set while no other thread can read the environment.
void prepare_process();

}  // namespace morvelta
