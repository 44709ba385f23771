// Which Qt platform plugin the window runs on, chosen before the application object exists.
#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace platform_choice {

// The plugin to force for this process, or empty to leave the choice to Qt. A Wayland client
// can neither place its window, nor keep it on top, nor move it itself; where an X server
// answers (XWayland counts), the window runs on X11 so that all three work as on any X desktop.
// The user's own QT_QPA_PLATFORM, when not empty, always stands.
QString choosePlatform(const QProcessEnvironment &environment, bool xServerReachable);

// Whether a connection to the X server named by DISPLAY can be opened.
bool xServerReachable(const QProcessEnvironment &environment);

// Makes the choice for this process: call before the application object is made. A -platform
// argument on the command line still wins over it, as Qt reads that after the environment.
void applyPlatformChoice();

} // namespace platform_choice
