// Finds a top-level window on the X display by its title, as a person would see it, and
// prints its id and size; with --close, asks it to close as its close box would
// (WM_DELETE_WINDOW). Waits up to 20 s for the window to appear.
// Usage: x_window [--close] TITLE
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

// The title as UTF-8: the window's _NET_WM_NAME, or its WM_NAME where it has none.
std::string titleOf(Display *display, Window window) {
    std::string title;
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 1024,
                           False, XInternAtom(display, "UTF8_STRING", False), &type, &format,
                           &count, &after, &data) == Success &&
        data) {
        title.assign(reinterpret_cast<const char *>(data), count);
        XFree(data);
        if (!title.empty())
            return title;
    }
    XTextProperty property;
    if (XGetWMName(display, window, &property) && property.value) {
        title.assign(reinterpret_cast<const char *>(property.value), property.nitems);
        XFree(property.value);
    }
    return title;
}

Window findByTitle(Display *display, Window parent, const std::string &title) {
    Window root, parentOut, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, parent, &root, &parentOut, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (titleOf(display, children[i]) == title && XGetWindowAttributes(display, children[i], &attributes) &&
            attributes.map_state == IsViewable)
            found = children[i];
        else
            found = findByTitle(display, children[i], title);
    }
    if (children)
        XFree(children);
    return found;
}

} // namespace

int main(int argc, char **argv) {
    const bool close = argc == 3 && std::strcmp(argv[1], "--close") == 0;
    if (argc != 2 && !close) {
        std::fprintf(stderr, "usage: %s [--close] TITLE\n", argv[0]);
        return 2;
    }
    const std::string title = argv[argc - 1];
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    Window window = 0;
    for (int attempt = 0; attempt < 200 && !window; ++attempt) {
        window = findByTitle(display, DefaultRootWindow(display), title);
        if (!window)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!window) {
        std::fprintf(stderr, "no window titled \"%s\"\n", title.c_str());
        return 1;
    }
    if (close) {
        XEvent event = {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        XFlush(display);
    } else {
        XWindowAttributes attributes;
        XGetWindowAttributes(display, window, &attributes);
        std::printf("%lu %d %d\n", window, attributes.width, attributes.height);
    }
    XCloseDisplay(display);
    return 0;
}
