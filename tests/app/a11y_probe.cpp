// Reads and drives a program's windows through the accessibility bus, as a screen reader does.
// Usage:
//   a11y_probe WINDOW dump                      every object of the window: role, name, states
//   a11y_probe WINDOW do ROLE NAME ACTION       performs the named action of the first object
//                                               with that role and name
//   a11y_probe WINDOW settext INDEX TEXT        puts TEXT into the INDEX-th text box (from 0;
//                                               a password box counts as a text box)
// WINDOW is a top-level window's name (its title); it is waited for up to 20 s.
#include <atspi/atspi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {

// GLib's strings and objects, released when they go out of scope.
struct Text {
    gchar *value;
    explicit Text(gchar *v) : value(v) {}
    ~Text() { g_free(value); }
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;
    std::string str() const { return value ? value : ""; }
};

template <typename T> struct Ref {
    T *object;
    explicit Ref(T *o) : object(o) {}
    ~Ref() {
        if (object)
            g_object_unref(object);
    }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
};

std::string nameOf(AtspiAccessible *a) {
    return Text(atspi_accessible_get_name(a, nullptr)).str();
}
std::string roleOf(AtspiAccessible *a) {
    return Text(atspi_accessible_get_role_name(a, nullptr)).str();
}

// Visits the object and everything below it, depth first, in the order the program made them;
// stops when `visit` returns true.
bool walk(AtspiAccessible *a, int depth, const std::function<bool(AtspiAccessible *, int)> &visit) {
    if (visit(a, depth))
        return true;
    const int count = atspi_accessible_get_child_count(a, nullptr);
    for (int i = 0; i < count; ++i) {
        Ref<AtspiAccessible> child(atspi_accessible_get_child_at_index(a, i, nullptr));
        if (child.object && walk(child.object, depth + 1, visit))
            return true;
    }
    return false;
}

// The first top-level window of any application with this name; a new reference, or nullptr.
AtspiAccessible *findWindow(const std::string &title) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
        const int apps = atspi_accessible_get_child_count(desktop.object, nullptr);
        for (int i = 0; i < apps; ++i) {
            Ref<AtspiAccessible> app(
                atspi_accessible_get_child_at_index(desktop.object, i, nullptr));
            if (!app.object)
                continue;
            const int windows = atspi_accessible_get_child_count(app.object, nullptr);
            for (int j = 0; j < windows; ++j) {
                AtspiAccessible *window =
                    atspi_accessible_get_child_at_index(app.object, j, nullptr);
                if (window && nameOf(window) == title)
                    return window;
                if (window)
                    g_object_unref(window);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return nullptr;
}

std::string statesOf(AtspiAccessible *a) {
    Ref<AtspiStateSet> set(atspi_accessible_get_state_set(a));
    std::string out;
    const std::pair<AtspiStateType, const char *> wanted[] = {{ATSPI_STATE_SHOWING, "showing"},
                                                              {ATSPI_STATE_ENABLED, "enabled"},
                                                              {ATSPI_STATE_CHECKED, "checked"},
                                                              {ATSPI_STATE_FOCUSED, "focused"}};
    for (const auto &[state, name] : wanted)
        if (set.object && atspi_state_set_contains(set.object, state))
            out += std::string(out.empty() ? "" : ",") + name;
    return out;
}

int dump(AtspiAccessible *window) {
    walk(window, 0, [](AtspiAccessible *a, int depth) {
        std::printf("%d\t%s\t%s\t%s\n", depth, roleOf(a).c_str(), nameOf(a).c_str(),
                    statesOf(a).c_str());
        return false;
    });
    return 0;
}

int act(AtspiAccessible *window, const std::string &role, const std::string &name,
        const std::string &action) {
    int result = 3;
    walk(window, 0, [&](AtspiAccessible *a, int) {
        if (roleOf(a) != role || nameOf(a) != name)
            return false;
        result = 4;
        Ref<AtspiAction> actions(atspi_accessible_get_action_iface(a));
        if (!actions.object)
            return true;
        const int count = atspi_action_get_n_actions(actions.object, nullptr);
        for (int i = 0; i < count; ++i) {
            const std::string actionName =
                Text(atspi_action_get_action_name(actions.object, i, nullptr)).str();
            if (g_ascii_strcasecmp(actionName.c_str(), action.c_str()) == 0) {
                result = atspi_action_do_action(actions.object, i, nullptr) ? 0 : 5;
                return true;
            }
        }
        return true;
    });
    if (result != 0)
        std::fprintf(stderr, "cannot %s the %s \"%s\" (%d)\n", action.c_str(), role.c_str(),
                     name.c_str(), result);
    return result;
}

int setText(AtspiAccessible *window, int index, const std::string &text) {
    int seen = 0;
    int result = 3;
    walk(window, 0, [&](AtspiAccessible *a, int) {
        const std::string role = roleOf(a);
        if ((role != "text" && role != "password text") || seen++ != index)
            return false;
        Ref<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(a));
        result = editable.object && atspi_editable_text_set_text_contents(editable.object,
                                                                          text.c_str(), nullptr)
                     ? 0
                     : 4;
        return true;
    });
    if (result != 0)
        std::fprintf(stderr, "cannot set text box %d (%d)\n", index, result);
    return result;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s WINDOW dump | do ROLE NAME ACTION | settext INDEX TEXT\n",
                     argv[0]);
        return 2;
    }
    if (atspi_init() < 0) {
        std::fprintf(stderr, "no accessibility bus\n");
        return 1;
    }
    const std::string command = argv[2];
    AtspiAccessible *window = findWindow(argv[1]);
    if (!window) {
        std::fprintf(stderr, "no window named \"%s\"; there are:\n", argv[1]);
        Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
        walk(desktop.object, 0, [](AtspiAccessible *a, int depth) {
            if (depth == 2)
                std::fprintf(stderr, "  \"%s\" (%s)\n", nameOf(a).c_str(), statesOf(a).c_str());
            return false;
        });
        return 1;
    }
    Ref<AtspiAccessible> held(window);
    if (command == "dump" && argc == 3)
        return dump(window);
    if (command == "do" && argc == 6)
        return act(window, argv[3], argv[4], argv[5]);
    if (command == "settext" && argc == 5)
        return setText(window, std::atoi(argv[3]), argv[4]);
    std::fprintf(stderr, "unknown command\n");
    return 2;
}
