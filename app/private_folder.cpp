#include "private_folder.h"

#include "user_folders.h"

#include <QDir>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace privatefolder {
namespace {

// The folder's status through a descriptor that cannot have followed a link at its last step;
// the descriptor stays open for what the caller does with it.
struct OpenFolder {
    int fd = -1;
    struct stat st {};
    OpenFolder(const QByteArray &path) {
        fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 && ::fstat(fd, &st) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~OpenFolder() {
        if (fd >= 0)
            ::close(fd);
    }
    OpenFolder(const OpenFolder &) = delete;
    OpenFolder &operator=(const OpenFolder &) = delete;
    bool ours() const { return fd >= 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid(); }
};

QByteArray withoutTrailingSlashes(QByteArray path) {
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// Ours and 0700, repairing the mode through the descriptor (a folder of ours may be loosened by
// a umask or by hand, and the repair cannot land on anything else).
bool makePrivate(const QByteArray &path) {
    const OpenFolder folder(path);
    if (!folder.ours())
        return false;
    return (folder.st.st_mode & 07777) == 0700 || ::fchmod(folder.fd, 0700) == 0;
}

} // namespace

QByteArray choose(const QByteArray &runtimeDir, const QByteArray &cacheHome,
                  const QByteArray &home) {
    if (runtimeDir.startsWith('/')) {
        const OpenFolder runtime(runtimeDir);
        if (runtime.ours() && (runtime.st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
            return withoutTrailingSlashes(runtimeDir) + "/tolvex";
    }
    return userfolders::baseFolder(cacheHome, home, ".cache") + "/tolvex";
}

std::optional<QByteArray> secure(const QByteArray &folder) {
    if (!folder.startsWith('/'))
        return std::nullopt;
    userfolders::makePrivateFolders(folder);
    if (!makePrivate(folder))
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
    if (!makePrivate(path))
        return std::nullopt;
    return job;
}

JobFolder::~JobFolder() {
    // The archive, and whatever else a failed packing may have left beside it.
    if (!m_path.isEmpty())
        QDir(QFile::decodeName(m_path)).removeRecursively();
}

} // namespace privatefolder
