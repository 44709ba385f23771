#include "user_folders.h"

#include "fd.h"
#include "private_folders.h"

#include <QFile>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace userfolders {

FolderFacts readFolderFacts(const QString &folder) {
    FolderFacts facts;
    facts.path = folder;
    // O_PATH needs no permission on the folder itself; every answer below comes from this one
    // descriptor, never from the name again.
    const tolvex::files::Fd fd(
        ::open(QFile::encodeName(folder.isEmpty() ? QStringLiteral("/") : folder).constData(),
               O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISDIR(st.st_mode))
        return facts;
    facts.found = true;
    facts.owner = st.st_uid;
    facts.writable = ::faccessat(fd.get(), ".", W_OK | X_OK, AT_EACCESS) == 0;
    // The folder's real place, so a link to a system folder is judged as that folder.
    char real[PATH_MAX];
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd.get());
    const ssize_t length = ::readlink(self.constData(), real, sizeof real);
    if (length > 0 && length < static_cast<ssize_t>(sizeof real) && real[0] == '/')
        facts.realPath = QFile::decodeName(QByteArray(real, static_cast<qsizetype>(length)));
    return facts;
}

void makePrivateFolders(const QByteArray &path) {
    tolvex::files::makePrivateFolders(path.toStdString());
}

QByteArray baseFolder(const QByteArray &variable, const QByteArray &home, const char *fallback) {
    return QByteArray::fromStdString(
        tolvex::files::userBaseFolder(variable.toStdString(), home.toStdString(), fallback));
}

} // namespace userfolders
