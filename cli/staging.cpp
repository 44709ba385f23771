#include "staging.h"

#include "fd.h"
#include "private_folders.h"
#include "tree_mover.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace cli {
namespace {

namespace files = tolvex::files;

// The staging folders alive now. Publishing holds the lock across its renames so that an
// interruption finds each output either complete in place or still staged.
std::mutex g_registryMutex;
std::set<StagingFolder *> &registry() {
    static std::set<StagingFolder *> folders;
    return folders;
}

// Interruption state: the signal, whether one came, and how many conversions are under way.
std::atomic<bool> g_interrupted{false};
std::atomic<int> g_signal{0};
std::mutex g_workMutex;
std::condition_variable g_workChanged;
int g_activeWork = 0;

[[noreturn]] void finishInterrupted() {
    std::lock_guard lock(g_registryMutex);
    for (StagingFolder *folder : registry())
        folder->remove();
    std::fputs("\ntolvex-cli: interrupted; unfinished outputs removed\n", stderr);
    ::_exit(128 + g_signal.load());
}

bool syncFile(const std::string &path) {
    const files::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd.valid() && ::fsync(fd.get()) == 0;
}

// The names in a folder held by its descriptor.
std::optional<std::vector<std::string>> namesIn(int folder) {
    files::Fd listing = files::duplicate(folder);
    DIR *dir = listing.valid() ? ::fdopendir(listing.get()) : nullptr;
    if (!dir)
        return std::nullopt;
    listing.release();
    ::rewinddir(dir);
    std::vector<std::string> names;
    while (const dirent *e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
            names.emplace_back(e->d_name);
    ::closedir(dir);
    return names;
}

// What merging the staged entry `parts` into the destination does: moves it whole where the
// destination has nothing of its name, merges folders, replaces files. Every step is planned
// before the first move, so that a conflict anywhere leaves everything as it was.
struct Step {
    files::Parts parts;
};

std::optional<TreeResult> planMerge(int staging, int root, const files::Parts &parts,
                                    std::vector<Step> &steps) {
    files::TreeError error = files::TreeError::None;
    const files::Fd folder = files::openParts(staging, parts, parts.size(), error);
    const auto names = folder.valid() ? namesIn(folder.get()) : std::nullopt;
    if (!names)
        return TreeResult{Publish::Failed, files::joinParts(parts, parts.size())};
    for (const auto &name : *names) {
        files::Parts entry = parts;
        entry.push_back(name);
        struct stat st;
        if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return TreeResult{Publish::Failed, files::joinParts(entry, entry.size())};
        const bool isFolder = S_ISDIR(st.st_mode);
        switch (files::meetsAt(root, entry, isFolder)) {
        case files::Meets::Nothing:
            steps.push_back({entry});
            break;
        case files::Meets::Same:
            if (isFolder) {
                if (auto conflict = planMerge(staging, root, entry, steps))
                    return conflict;
            } else {
                steps.push_back({entry});
            }
            break;
        case files::Meets::File:
        case files::Meets::Folder:
            return TreeResult{Publish::IsFolder, files::joinParts(entry, entry.size())};
        case files::Meets::Unsafe:
            return TreeResult{Publish::Unsafe, files::joinParts(entry, entry.size())};
        case files::Meets::Failed:
            return TreeResult{Publish::Failed, files::joinParts(entry, entry.size())};
        }
    }
    return std::nullopt;
}

} // namespace

std::string displayName(const std::string &name) {
    // Valid UTF-8 without control characters (C0, DEL, C1) passes as it is.
    auto sequenceLength = [&](size_t i) -> size_t {
        const auto b = [&](size_t k) { return uint8_t(name[k]); };
        const uint8_t c = b(i);
        if (c < 0x80)
            return (c < 0x20 || c == 0x7F) ? 0 : 1;
        size_t n = c >= 0xC2 && c <= 0xDF   ? 2
                   : c >= 0xE0 && c <= 0xEF ? 3
                   : c >= 0xF0 && c <= 0xF4 ? 4
                                            : 0;
        if (n == 0 || i + n > name.size())
            return 0;
        for (size_t k = 1; k < n; ++k)
            if ((b(i + k) & 0xC0) != 0x80)
                return 0;
        if (c == 0xC2 && b(i + 1) < 0xA0)
            return 0; // C1 control
        if ((c == 0xE0 && b(i + 1) < 0xA0) || (c == 0xF0 && b(i + 1) < 0x90) ||
            (c == 0xF4 && b(i + 1) > 0x8F) || (c == 0xED && b(i + 1) > 0x9F))
            return 0; // overlong, beyond U+10FFFF, or a surrogate
        return n;
    };
    bool plain = true;
    for (size_t i = 0; i < name.size() && plain;) {
        const size_t n = sequenceLength(i);
        plain = n != 0;
        i += n;
    }
    if (plain)
        return name;
    std::string out = "$'";
    for (size_t i = 0; i < name.size();) {
        const size_t n = sequenceLength(i);
        if (n > 0) {
            if (name[i] == '\'' || name[i] == '\\')
                out += '\\';
            out.append(name, i, n);
            i += n;
            continue;
        }
        const uint8_t c = uint8_t(name[i++]);
        switch (c) {
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\v':
            out += "\\v";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        default: {
            char octal[6];
            std::snprintf(octal, sizeof octal, "\\%03o", unsigned(c));
            out += octal;
        }
        }
    }
    return out + "'";
}

StagingFolder::StagingFolder(int parent)
    : m_folder(parent, files::kCliPrefix), m_path(files::descriptorPath(m_folder.fd())) {}

std::unique_ptr<StagingFolder> StagingFolder::create(const std::string &parent) {
    const files::Fd folder = files::openFolder(parent.empty() ? std::string(".") : parent);
    if (!folder.valid())
        return nullptr;
    std::unique_ptr<StagingFolder> staging;
    {
        // Made and registered in one step: an interruption finds it either way.
        std::lock_guard lock(g_registryMutex);
        staging.reset(new StagingFolder(folder.get()));
        if (staging->m_folder.valid() && !staging->m_path.empty()) {
            registry().insert(staging.get());
            return staging;
        }
    }
    // Without /proc there is no path that reaches the folder itself.
    const int error = staging->m_folder.valid() ? ENOENT : errno;
    staging.reset(); // outside the lock: its destructor takes it
    errno = error;
    return nullptr;
}

std::unique_ptr<StagingFolder> StagingFolder::createPrivate() {
    const files::Fd folder = files::openPrivateFolder(files::PrivateFolder::Runtime);
    if (!folder.valid())
        return nullptr;
    return create(files::descriptorPath(folder.get()));
}

StagingFolder::~StagingFolder() {
    std::lock_guard lock(g_registryMutex);
    m_folder.remove();
    registry().erase(this);
}

void StagingFolder::remove() {
    m_folder.remove();
}

Publish publishFile(const std::string &staged, const std::string &finalPath, bool replace) {
    std::lock_guard lock(g_registryMutex);
    if (!replace) {
        if (files::renameNoReplace(AT_FDCWD, staged, AT_FDCWD, finalPath))
            return Publish::Done;
        return errno == EEXIST ? Publish::Exists : Publish::Failed;
    }
    struct stat old;
    if (::lstat(finalPath.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode))
            return Publish::IsFolder;
        // Never wider than the file it replaces (a link is replaced itself and lends nothing).
        struct stat now;
        if (S_ISREG(old.st_mode) && ::stat(staged.c_str(), &now) == 0)
            ::chmod(staged.c_str(), now.st_mode & old.st_mode & 07777);
        // The new content must be on the disk before the old goes: a crash could leave neither.
        if (!syncFile(staged))
            return Publish::Failed;
    }
    return ::rename(staged.c_str(), finalPath.c_str()) == 0 ? Publish::Done : Publish::Failed;
}

TreeResult publishTree(const StagingFolder &staged, const std::string &destination, bool replace) {
    std::lock_guard lock(g_registryMutex);
    const files::Fd root = files::openFolder(destination);
    if (!root.valid())
        return {Publish::Failed, destination};
    std::vector<Step> steps;
    if (!replace) {
        const auto names = namesIn(staged.fd());
        if (!names)
            return {Publish::Failed, destination};
        for (const auto &name : *names) {
            struct stat st;
            if (::fstatat(root.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                return {Publish::Exists, name};
            steps.push_back({{name}});
        }
    } else if (auto conflict = planMerge(staged.fd(), root.get(), {}, steps)) {
        return *conflict;
    }
    files::TreeMover mover(root.get(), staged.fd(), 0777 & ~files::processUmask());
    for (const auto &step : steps) {
        files::TreeError error = files::TreeError::None;
        if (!mover.move(step.parts, error, replace))
            return {error == files::TreeError::Unsafe ? Publish::Unsafe : Publish::Failed,
                    files::joinParts(step.parts, step.parts.size())};
    }
    mover.commit();
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
        g_signal = signal;
        // Workers stop at their next piece or input; the clean-up waits until they have, so
        // nothing is written into a folder after it was removed.
        std::unique_lock lock(g_workMutex);
        g_interrupted = true;
        g_workChanged.wait(lock, [] { return g_activeWork == 0; });
        finishInterrupted();
    }).detach();
}

const std::atomic<bool> &interruptRequested() {
    return g_interrupted;
}

ActiveWork::ActiveWork() {
    std::lock_guard lock(g_workMutex);
    ++g_activeWork;
}

ActiveWork::~ActiveWork() {
    std::unique_lock lock(g_workMutex);
    --g_activeWork;
    g_workChanged.notify_all();
    if (g_interrupted && g_activeWork == 0) {
        lock.unlock();
        finishInterrupted(); // the signal's thread may be first; either ends the process
    }
}

} // namespace cli
