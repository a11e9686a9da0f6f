#include "x_close_request.hpp"

#include <X11/Xlib.h>
#include <dlfcn.h>

namespace morvelta::testing {

// Xlib is opened at run time so the tests need no link to it.
bool send_close_request(const std::string& display, const std::string& id) {
    void* xlib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (xlib == nullptr)
        return false;
    auto open_display = reinterpret_cast<decltype(&XOpenDisplay)>(::dlsym(xlib, "XOpenDisplay"));
    auto intern_atom = reinterpret_cast<decltype(&XInternAtom)>(::dlsym(xlib, "XInternAtom"));
    auto send_event = reinterpret_cast<decltype(&XSendEvent)>(::dlsym(xlib, "XSendEvent"));
    auto close_display = reinterpret_cast<decltype(&XCloseDisplay)>(::dlsym(xlib, "XCloseDisplay"));
    bool sent = false;
    if (Display* x = open_display(display.c_str())) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = std::stoul(id);
        event.xclient.message_type = intern_atom(x, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(intern_atom(x, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        sent = send_event(x, event.xclient.window, False, NoEventMask, &event) != 0;
        close_display(x);  // flushes the request
    }
    ::dlclose(xlib);
    return sent;
}

}  // namespace morvelta::testing
