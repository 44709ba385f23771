#include "form1.h"
#include "language.h"
#include "platform_choice.h"
#include "texts.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The system's request to end (logout, shutdown, kill) reaches the event loop through a socket,
// since a signal handler may do next to nothing itself.
int g_signalSocket[2] = {-1, -1};

void onTerminate(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalSocket[0], &c, 1);
}

void quitOnTerminate(QApplication &app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSocket) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QApplication::quit(); });
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
}

} // namespace

int main(int argc, char **argv) {
    // A Wayland window is never placed, kept on top or moved by its program; where an X server
    // answers (XWayland too) the window runs on X11 instead.
    platform_choice::applyPlatformChoice();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvex"));
    // Lets the desktop match the window to its menu entry (and icon) on X11 and Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tolvex.Tolvex"));
    // The window's texts, and the standard buttons of its message boxes, in one language.
    const QString interfaceLanguage = language::chooseLanguage(
        QProcessEnvironment::systemEnvironment(), language::interfaceLanguages());
    language::installInterfaceTranslation(app, interfaceLanguage);
    language::installToolkitTranslation(app, interfaceLanguage);

    // One copy at a time: the lock goes with the process, however it ends.
    QLockFile instanceLock(QDir::tempPath() + QStringLiteral("/tolvex-") +
                           QString::number(getuid()) + QStringLiteral(".lock"));
    const bool anotherCopyRunning = !instanceLock.tryLock(0);

    Form1::Config config;
    config.codecLibrary = texts::kCodecLibraryFile;
    config.archiverLibrary = texts::kArchiverLibraryFile;
    config.programFolder = QCoreApplication::applicationDirPath();
    config.workingFolder = QDir::currentPath();
    Form1 window(config, std::make_shared<DialogPresenter>());
    if (!window.Load(anotherCopyRunning))
        return 1;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, &Form1::Unload);
    quitOnTerminate(app);
    window.show();
    return app.exec();
}
