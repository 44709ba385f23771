#include "platform_choice.h"

#ifdef TOLVEX_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace platform_choice {

namespace {

const QString kPlatformVariable = QStringLiteral("QT_QPA_PLATFORM");
const QString kDisplayVariable = QStringLiteral("DISPLAY");

} // namespace

QString choosePlatform(const QProcessEnvironment &environment, bool xServerReachable) {
    if (!environment.value(kPlatformVariable).isEmpty())
        return {};
    if (environment.value(kDisplayVariable).isEmpty() || !xServerReachable)
        return {};
    return QStringLiteral("xcb");
}

bool xServerReachable(const QProcessEnvironment &environment) {
#ifdef TOLVEX_HAVE_XCB
    const QByteArray display = environment.value(kDisplayVariable).toLocal8Bit();
    if (display.isEmpty())
        return false;
    xcb_connection_t *connection = xcb_connect(display.constData(), nullptr);
    const bool reachable = xcb_connection_has_error(connection) == 0;
    // Even a failed connection is an object to free.
    xcb_disconnect(connection);
    return reachable;
#else
    Q_UNUSED(environment);
    return false;
#endif
}

void applyPlatformChoice() {
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Only probe the X server when its answer can change the choice.
    if (choosePlatform(environment, true).isEmpty())
        return;
    const QString platform = choosePlatform(environment, xServerReachable(environment));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform.toLatin1());
}

} // namespace platform_choice
