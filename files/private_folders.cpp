#include "private_folders.h"
#include "folders.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex::files {
namespace {

std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The folder at `path`, opened without following a link at its last step, when it is a folder
// owned by this user.
Fd openOwnedFolder(const std::string &path, struct stat &st) {
    Fd folder = openFolderAt(AT_FDCWD, path);
    if (!folder.valid() || ::fstat(folder.get(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid())
        return Fd();
    return folder;
}

} // namespace

std::string userBaseFolder(const std::string &variable, const std::string &home,
                           const char *fallback) {
    std::string base = variable;
    if (base.empty() || base[0] != '/') {
        base = home;
        if (base.empty() || base[0] != '/') {
            const passwd *entry = ::getpwuid(::geteuid());
            base = entry && entry->pw_dir ? std::string(entry->pw_dir) : std::string();
        }
        base += '/';
        base += fallback;
    }
    return withoutTrailingSlashes(base);
}

std::string choosePrivateFolder(const std::string &runtimeDir, const std::string &cacheHome,
                                const std::string &home) {
    if (!runtimeDir.empty() && runtimeDir[0] == '/') {
        struct stat st;
        if (openOwnedFolder(runtimeDir, st).valid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
            return withoutTrailingSlashes(runtimeDir) + "/tolvex";
    }
    return userBaseFolder(cacheHome, home, ".cache") + "/tolvex";
}

void makePrivateFolders(const std::string &path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return;
        if (slash == std::string::npos)
            return;
    }
}

Fd securePrivateFolder(const std::string &folder, bool create) {
    if (folder.empty() || folder[0] != '/')
        return Fd();
    if (create)
        makePrivateFolders(folder);
    struct stat st;
    Fd opened = openOwnedFolder(folder, st);
    // A folder of ours may be loosened by a umask or by hand; the repair cannot land elsewhere.
    if (!opened.valid() || ((st.st_mode & 07777) != 0700 && ::fchmod(opened.get(), 0700) != 0))
        return Fd();
    return opened;
}

Fd openPrivateFolder(PrivateFolder which, bool create) {
    const std::string runtime =
        which == PrivateFolder::Runtime ? environment("XDG_RUNTIME_DIR") : std::string();
    return securePrivateFolder(
        choosePrivateFolder(runtime, environment("XDG_CACHE_HOME"), environment("HOME")), create);
}

} // namespace tolvex::files
