// Finds a top-level window on the X display by its title, as a person would see it, and
// prints its id and size; with --close, asks it to close as its close box would
// (WM_DELETE_WINDOW); with --info, prints what the window manager sees of it, one name=value
// a line: id, width, height, the frame around it (frame_x, frame_y, frame_width,
// frame_height), the size hints (min_width, min_height, max_width, max_height; -1 when not
// given), whether it is kept above other windows (above, 0 or 1) and whether the window
// manager offers to resize or maximize it (resizable, maximizable).
// TITLE may also be a window id (0x...), for a window whose title changes.
// Waits up to 20 s for the window to appear; with --gone, as long for no such window to be
// shown any more. With --wm alone, waits as long for a window manager to run.
// Usage: x_window [--close|--info|--gone] TITLE | --wm
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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
        if (titleOf(display, children[i]) == title &&
            XGetWindowAttributes(display, children[i], &attributes) &&
            attributes.map_state == IsViewable)
            found = children[i];
        else
            found = findByTitle(display, children[i], title);
    }
    if (children)
        XFree(children);
    return found;
}

// Windows come and go while the tree is read (a message box closing): a request about one that
// is gone fails, and that is no reason to stop.
int ignoreErrors(Display *, XErrorEvent *) {
    return 0;
}

// The window that the window manager put around this one (the window itself without one).
Window frameOf(Display *display, Window window) {
    for (;;) {
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &root, &parent, &children, &count))
            return window;
        if (children)
            XFree(children);
        if (parent == root || parent == 0)
            return window;
        window = parent;
    }
}

// Whether the window's atom list `property` holds `name`.
bool listHolds(Display *display, Window window, const char *property, const char *name) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    bool found = false;
    const Atom wanted = XInternAtom(display, name, False);
    if (XGetWindowProperty(display, window, XInternAtom(display, property, False), 0, 1024, False,
                           XA_ATOM, &type, &format, &count, &after, &data) == Success &&
        data) {
        const auto *atoms = reinterpret_cast<const Atom *>(data);
        for (unsigned long i = 0; i < count; ++i)
            found = found || atoms[i] == wanted;
        XFree(data);
    }
    return found;
}

void printInfo(Display *display, Window window) {
    XWindowAttributes attributes;
    XGetWindowAttributes(display, window, &attributes);
    const Window frame = frameOf(display, window);
    XWindowAttributes frameAttributes;
    XGetWindowAttributes(display, frame, &frameAttributes);
    XSizeHints hints = {};
    long supplied = 0;
    XGetWMNormalHints(display, window, &hints, &supplied);
    std::printf("id=%lu\nwidth=%d\nheight=%d\n", window, attributes.width, attributes.height);
    std::printf("frame_x=%d\nframe_y=%d\nframe_width=%d\nframe_height=%d\n", frameAttributes.x,
                frameAttributes.y, frameAttributes.width + 2 * frameAttributes.border_width,
                frameAttributes.height + 2 * frameAttributes.border_width);
    const bool min = hints.flags & PMinSize, max = hints.flags & PMaxSize;
    std::printf("min_width=%d\nmin_height=%d\nmax_width=%d\nmax_height=%d\n",
                min ? hints.min_width : -1, min ? hints.min_height : -1, max ? hints.max_width : -1,
                max ? hints.max_height : -1);
    std::printf("above=%d\n", listHolds(display, window, "_NET_WM_STATE", "_NET_WM_STATE_ABOVE"));
    // What the window manager offers the user.
    std::printf(
        "resizable=%d\nmaximizable=%d\n",
        listHolds(display, window, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_RESIZE"),
        listHolds(display, window, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_MAXIMIZE_HORZ"));
}

} // namespace

int main(int argc, char **argv) {
    const bool close = argc == 3 && std::strcmp(argv[1], "--close") == 0;
    const bool info = argc == 3 && std::strcmp(argv[1], "--info") == 0;
    const bool gone = argc == 3 && std::strcmp(argv[1], "--gone") == 0;
    if (argc == 2 && std::strcmp(argv[1], "--wm") == 0) {
        Display *display = XOpenDisplay(nullptr);
        if (!display)
            return 1;
        const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
        bool running = false;
        for (int attempt = 0; attempt < 200 && !running; ++attempt) {
            Atom type;
            int format;
            unsigned long count, after;
            unsigned char *data = nullptr;
            running =
                XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False,
                                   XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
                data && count == 1;
            if (data)
                XFree(data);
            if (!running)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        XCloseDisplay(display);
        return running ? 0 : 1;
    }
    if (argc != 2 && !close && !info && !gone) {
        std::fprintf(stderr, "usage: %s [--close|--info|--gone] TITLE | --wm\n", argv[0]);
        return 2;
    }
    const std::string title = argv[argc - 1];
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }
    XSetErrorHandler(ignoreErrors);
    if (gone) {
        bool shown = true;
        for (int attempt = 0; attempt < 200 && shown; ++attempt) {
            shown = findByTitle(display, DefaultRootWindow(display), title) != 0;
            if (shown)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        XCloseDisplay(display);
        return shown ? 1 : 0;
    }
    Window window = 0;
    if (title.rfind("0x", 0) == 0)
        window = Window(std::strtoul(title.c_str(), nullptr, 16));
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
    } else if (info) {
        printInfo(display, window);
    } else {
        XWindowAttributes attributes;
        XGetWindowAttributes(display, window, &attributes);
        std::printf("%lu %d %d\n", window, attributes.width, attributes.height);
    }
    XCloseDisplay(display);
    return 0;
}
