#include "staging.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace cli {
namespace {

namespace fs = std::filesystem;

// The staging folders alive now. Publishing holds the lock across its renames so that an
// interruption finds each output either complete in place or still staged.
std::mutex g_registryMutex;
std::set<std::string> &registry() {
    static std::set<std::string> folders;
    return folders;
}

void removeTree(const std::string &path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

bool syncFile(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// rename() that fails with EEXIST rather than replace; link() where the file system lacks
// the flag (link also refuses an existing name).
int renameNoReplace(const std::string &from, const std::string &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    if (::link(from.c_str(), to.c_str()) != 0)
        return -1;
    ::unlink(from.c_str());
    return 0;
}

bool exists(const std::string &path, struct stat &st) { return ::lstat(path.c_str(), &st) == 0; }

// Moves one entry into place, merging folders; `replace` allows replacing files.
bool moveEntry(const std::string &from, const std::string &to, std::string &failed) {
    struct stat target, source;
    if (!exists(to, target)) {
        if (::rename(from.c_str(), to.c_str()) == 0)
            return true;
        failed = to;
        return false;
    }
    if (!exists(from, source)) {
        failed = from;
        return false;
    }
    if (S_ISDIR(source.st_mode) && S_ISDIR(target.st_mode)) {
        std::error_code error;
        for (const auto &entry : fs::directory_iterator(from, error))
            if (!moveEntry(entry.path().string(), to + "/" + entry.path().filename().string(),
                           failed))
                return false;
        if (error) {
            failed = from;
            return false;
        }
        return true;
    }
    // A folder never replaces a file nor a file a folder: one of them would be lost whole.
    if (S_ISDIR(source.st_mode) || S_ISDIR(target.st_mode)) {
        errno = EISDIR;
        failed = to;
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        failed = to;
        return false;
    }
    return true;
}

} // namespace

std::optional<StagingFolder> StagingFolder::create(const std::string &parent) {
    std::string templ = (parent.empty() ? std::string(".") : parent) + "/.tolvex-cli-XXXXXX";
    std::lock_guard lock(g_registryMutex);
    if (!::mkdtemp(templ.data()))
        return std::nullopt;
    registry().insert(templ);
    return StagingFolder(std::move(templ));
}

StagingFolder::StagingFolder(StagingFolder &&other) noexcept : m_path(std::move(other.m_path)) {
    other.m_path.clear();
}

StagingFolder::~StagingFolder() {
    if (m_path.empty())
        return;
    std::lock_guard lock(g_registryMutex);
    removeTree(m_path);
    registry().erase(m_path);
}

Publish publishFile(const std::string &staged, const std::string &finalPath, bool replace) {
    std::lock_guard lock(g_registryMutex);
    if (!replace) {
        if (renameNoReplace(staged, finalPath) == 0)
            return Publish::Done;
        return errno == EEXIST ? Publish::Exists : Publish::Failed;
    }
    struct stat old;
    if (exists(finalPath, old)) {
        if (S_ISDIR(old.st_mode))
            return Publish::IsFolder;
        // The replacement keeps the permissions of the file it replaces.
        if (S_ISREG(old.st_mode))
            ::chmod(staged.c_str(), old.st_mode & 07777);
        // The new content must be on the disk before the old goes: a crash could leave neither.
        if (!syncFile(staged))
            return Publish::Failed;
    }
    return ::rename(staged.c_str(), finalPath.c_str()) == 0 ? Publish::Done : Publish::Failed;
}

TreeResult publishTree(const std::string &stagedFolder, const std::string &destination,
                       bool replace) {
    std::lock_guard lock(g_registryMutex);
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(stagedFolder, error))
        names.push_back(entry.path().filename().string());
    if (error)
        return {Publish::Failed, stagedFolder};
    struct stat st;
    if (!replace)
        for (const auto &name : names)
            if (exists(destination + "/" + name, st))
                return {Publish::Exists, destination + "/" + name};
    for (const auto &name : names) {
        std::string failed;
        if (!moveEntry(stagedFolder + "/" + name, destination + "/" + name, failed))
            return {Publish::Failed, failed};
    }
    return {};
}

void installInterruptCleanup() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        int signal = 0;
        while (::sigwait(&signals, &signal) != 0) {
        }
        std::lock_guard lock(g_registryMutex);
        for (const auto &folder : registry())
            removeTree(folder);
        std::fputs("\ntolvex-cli: interrupted; unfinished outputs removed\n", stderr);
        ::_exit(128 + signal);
    }).detach();
}

} // namespace cli
