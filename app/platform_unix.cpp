#include "platform.h"

#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <dlfcn.h>

#ifdef TOLVEX_HAVE_XCB
#include <xcb/xcb.h>
#endif

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace platform {

void *loadLibrary(const QString &fileName, const QString &programFolder) {
    QString path = fileName;
    if (!fileName.contains(u'/')) {
        if (programFolder.isEmpty())
            return nullptr;
        path = programFolder + u'/' + fileName;
    }
    return ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
}

void *findFunction(void *library, const char *name) {
    return library ? ::dlsym(library, name) : nullptr;
}

void unloadLibrary(void *library) {
    if (library)
        ::dlclose(library);
}

namespace {

constexpr char kOnTopProperty[] = "tolvexOnTop";

#ifdef TOLVEX_HAVE_XCB

struct FreeReply {
    void operator()(void *reply) const { std::free(reply); }
};

xcb_atom_t atom(xcb_connection_t *connection, const char *name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The window manager's "above" state of one X window, set as the window-manager hints
// convention asks. A window it does not show yet carries its wishes in its own _NET_WM_STATE,
// which the manager reads when it takes the window on; a shown window's state belongs to the
// manager and is changed by a message to the root window. The message goes in both cases, so a
// window being taken on at this very moment still ends up right.
void setAbove(xcb_connection_t *connection, xcb_window_t window, bool above) {
    const xcb_atom_t state = atom(connection, "_NET_WM_STATE");
    const xcb_atom_t aboveAtom = atom(connection, "_NET_WM_STATE_ABOVE");
    if (state == XCB_ATOM_NONE || aboveAtom == XCB_ATOM_NONE)
        return;

    const std::unique_ptr<xcb_get_window_attributes_reply_t, FreeReply> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window),
                                        nullptr));
    if (!attributes)
        return;
    if (attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
        std::vector<xcb_atom_t> atoms;
        const std::unique_ptr<xcb_get_property_reply_t, FreeReply> current(xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, state, XCB_ATOM_ATOM, 0, 1024),
            nullptr));
        if (current && current->format == 32 && current->type == XCB_ATOM_ATOM) {
            const auto *values =
                static_cast<const xcb_atom_t *>(xcb_get_property_value(current.get()));
            const int count =
                xcb_get_property_value_length(current.get()) / int(sizeof(xcb_atom_t));
            for (int i = 0; i < count; ++i)
                if (values[i] != aboveAtom)
                    atoms.push_back(values[i]);
        }
        if (above)
            atoms.push_back(aboveAtom);
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32,
                            uint32_t(atoms.size()), atoms.data());
    }

    // The root of the screen the window is on.
    const std::unique_ptr<xcb_query_tree_reply_t, FreeReply> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
    if (!tree)
        return;
    const xcb_window_t root = tree->root;
    xcb_client_message_event_t message = {};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = state;
    message.data.data32[0] = above ? 1 : 0; // _NET_WM_STATE_ADD or _REMOVE
    message.data.data32[1] = aboveAtom;
    message.data.data32[2] = 0;
    message.data.data32[3] = 1; // asked for by an ordinary application
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(connection);
}

xcb_connection_t *x11Connection() {
    if (auto *x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
        return x11->connection();
    return nullptr;
}

#endif

void applyOnTop(QWidget *window, bool onTop) {
    QWindow *handle = window->windowHandle();
    if (!handle)
        return;
#ifdef TOLVEX_HAVE_XCB
    if (xcb_connection_t *connection = x11Connection()) {
        setAbove(connection, xcb_window_t(handle->winId()), onTop);
        return;
    }
#endif
    // Other window systems: the flag on the existing native window, which keeps it.
    handle->setFlag(Qt::WindowStaysOnTopHint, onTop);
}

// Window managers forget a window's state when it is hidden; the wish is given again each time
// the window is about to be shown (its native window then exists, not yet shown).
class Reapply : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Show)
            if (auto *window = qobject_cast<QWidget *>(watched))
                applyOnTop(window, isOnTop(window));
        return false;
    }
};

void setOnTop(QWidget *window, bool onTop) {
    if (!window->property(kOnTopProperty).isValid())
        window->installEventFilter(new Reapply(window));
    window->setProperty(kOnTopProperty, onTop);
    // A window without its native window yet gets the wish when it is shown. Setting the
    // widget's window flags instead would re-create a shown window, hidden.
    if (window->testAttribute(Qt::WA_WState_Created))
        applyOnTop(window, onTop);
}

} // namespace

void putOnTop(QWidget *window) {
    setOnTop(window, true);
}
void takeOffTop(QWidget *window) {
    setOnTop(window, false);
}
bool isOnTop(const QWidget *window) {
    return window->property(kOnTopProperty).toBool();
}

} // namespace platform
