#include "private_folder.h"

#include "fd.h"
#include "private_folders.h"

#include <QDir>
#include <fcntl.h>
#include <sys/stat.h>

// The rules live in the file layer (files/private_folders.h), shared with tolvex-cli; this is
// their face for the window's byte paths.
namespace privatefolder {

QByteArray choose(const QByteArray &runtimeDir, const QByteArray &cacheHome,
                  const QByteArray &home) {
    return QByteArray::fromStdString(tolvex::files::choosePrivateFolder(
        runtimeDir.toStdString(), cacheHome.toStdString(), home.toStdString()));
}

std::optional<QByteArray> secure(const QByteArray &folder) {
    if (!tolvex::files::securePrivateFolder(folder.toStdString()).valid())
        return std::nullopt;
    return folder;
}

std::optional<QByteArray> fromEnvironment() {
    return secure(choose(qgetenv("XDG_RUNTIME_DIR"), qgetenv("XDG_CACHE_HOME"), qgetenv("HOME")));
}

std::optional<JobFolder> JobFolder::make(const QByteArray &privateFolder) {
    const auto folder = secure(privateFolder);
    if (!folder)
        return std::nullopt;
    QByteArray path = *folder + "/job-XXXXXX";
    if (!::mkdtemp(path.data()))
        return std::nullopt;
    JobFolder job(path);
    // mkdtemp asks for 0700, but a umask may have taken the owner's own bits away.
    if (!tolvex::files::securePrivateFolder(path.toStdString(), false).valid())
        return std::nullopt;
    return job;
}

JobFolder::~JobFolder() {
    // The archive, and whatever else a failed packing may have left beside it.
    if (!m_path.isEmpty())
        QDir(QFile::decodeName(m_path)).removeRecursively();
}

} // namespace privatefolder
