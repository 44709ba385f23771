#include "user_folders.h"

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
    for (qsizetype slash = path.indexOf('/', 1);; slash = path.indexOf('/', slash + 1)) {
        const QByteArray prefix = slash < 0 ? path : path.left(slash);
        if (!prefix.isEmpty() && ::mkdir(prefix.constData(), 0700) != 0 && errno != EEXIST)
            return;
        if (slash < 0)
            return;
    }
}

QByteArray baseFolder(const QByteArray &variable, const QByteArray &home, const char *fallback) {
    QByteArray base = variable;
    if (!base.startsWith('/')) {
        base = home;
        if (!base.startsWith('/')) {
            const passwd *entry = ::getpwuid(::geteuid());
            base = entry && entry->pw_dir ? QByteArray(entry->pw_dir) : QByteArray();
        }
        base += '/';
        base += fallback;
    }
    while (base.size() > 1 && base.endsWith('/'))
        base.chop(1);
    return base;
}

} // namespace userfolders
