#include "form1.h"
#include "texts.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <unistd.h>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tolvex"));

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
    window.show();
    return app.exec();
}
