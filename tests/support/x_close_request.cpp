#include "x_close_request.hpp"

#include <X11/Xlib.h>
#include <dlfcn.h>

#include <functional>

namespace morvelta::testing {
namespace {

template <typename F>
F* xlib_function(void* xlib, const char* name) {
    return reinterpret_cast<F*>(::dlsym(xlib, name));
}

// Runs `request` on a connection of our own to `display`; closing it flushes the
// request. Xlib is opened at run time so the tests need no link to it.
bool with_display(const std::string& display,
                  const std::function<bool(void* xlib, Display* x)>& request) {
    void* xlib = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (xlib == nullptr)
        return false;
    bool sent = false;
    if (Display* x = xlib_function<decltype(XOpenDisplay)>(xlib, "XOpenDisplay")(display.c_str())) {
        sent = request(xlib, x);
        xlib_function<decltype(XCloseDisplay)>(xlib, "XCloseDisplay")(x);
    }
    ::dlclose(xlib);
    return sent;
}

}  // namespace

bool send_close_request(const std::string& display, const std::string& id) {
    return with_display(display, [&id](void* xlib, Display* x) {
        auto intern_atom = xlib_function<decltype(XInternAtom)>(xlib, "XInternAtom");
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = std::stoul(id);
        event.xclient.message_type = intern_atom(x, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(intern_atom(x, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        return xlib_function<decltype(XSendEvent)>(xlib, "XSendEvent")(
                   x, event.xclient.window, False, NoEventMask, &event) != 0;
    });
}

bool destroy_window(const std::string& display, const std::string& id) {
    return with_display(display, [&id](void* xlib, Display* x) {
        xlib_function<decltype(XDestroyWindow)>(xlib, "XDestroyWindow")(x, std::stoul(id));
        return true;
    });
}

bool display_answers(const std::string& display) {
    return with_display(display, [](void* xlib, Display* x) {
        return xlib_function<decltype(XSync)>(xlib, "XSync")(x, False) != 0;
    });
}

}  // namespace morvelta::testing
