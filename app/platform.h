// The few calls that differ between systems: loading libraries and the window's top layer.
#pragma once

#include <QString>

class QWidget;

namespace platform {

// Loads a library file: a name with a folder in it from exactly that path, a bare name from the
// program's folder only, never through the system's search, which could offer any file of that
// name; nullptr when it cannot be loaded.
void *loadLibrary(const QString &fileName, const QString &programFolder);
void *findFunction(void *library, const char *name);
void unloadLibrary(void *library);

// Puts the window into, or takes it out of, the layer above all other windows. The window
// keeps its native window, its place, its size and its visibility: nothing is re-created,
// hidden, moved or resized.
void putOnTop(QWidget *window);
void takeOffTop(QWidget *window);
// What the program last asked for (the window manager carries it out on its own time).
bool isOnTop(const QWidget *window);

} // namespace platform
