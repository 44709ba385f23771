#include "platform.h"

#include <QFile>
#include <QWidget>
#include <dlfcn.h>

namespace platform {

void *loadLibrary(const QString &fileName, const QString &programFolder) {
    if (!fileName.contains(u'/') && !programFolder.isEmpty()) {
        const QByteArray beside = QFile::encodeName(programFolder + u'/' + fileName);
        if (void *library = ::dlopen(beside.constData(), RTLD_NOW | RTLD_LOCAL))
            return library;
    }
    return ::dlopen(QFile::encodeName(fileName).constData(), RTLD_NOW | RTLD_LOCAL);
}

void *findFunction(void *library, const char *name) {
    return library ? ::dlsym(library, name) : nullptr;
}

void unloadLibrary(void *library) {
    if (library)
        ::dlclose(library);
}

namespace {

// Changing a window's flags re-creates it hidden; bring it back where it was.
void setOnTop(QWidget *window, bool onTop) {
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    const bool visible = window->isVisible();
    const QPoint position = window->pos();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible) {
        window->move(position);
        window->show();
    }
}

} // namespace

void putOnTop(QWidget *window) { setOnTop(window, true); }
void takeOffTop(QWidget *window) { setOnTop(window, false); }
bool isOnTop(const QWidget *window) {
    return window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

} // namespace platform
