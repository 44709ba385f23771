#include "user_folders.h"

#include "private_folders.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace userfolders {

bool writableFolder(const QString &folder) {
    const QByteArray path = QFile::encodeName(folder.isEmpty() ? QStringLiteral("/") : folder);
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::faccessat(AT_FDCWD, path.constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

void makePrivateFolders(const QByteArray &path) {
    tolvex::files::makePrivateFolders(path.toStdString());
}

QByteArray baseFolder(const QByteArray &variable, const QByteArray &home, const char *fallback) {
    return QByteArray::fromStdString(
        tolvex::files::userBaseFolder(variable.toStdString(), home.toStdString(), fallback));
}

} // namespace userfolders
