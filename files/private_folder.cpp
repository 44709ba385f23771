#include "private_folder.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex::files {
namespace {

bool ownedFolder(int fd, bool repair) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if ((st.st_mode & 077) == 0)
        return true;
    return repair && ::fchmod(fd, st.st_mode & 0700) == 0;
}

// An absolute folder from the environment, or nothing.
std::string variable(const char *name) {
    const char *value = std::getenv(name);
    return value && value[0] == '/' ? std::string(value) : std::string();
}

std::string cacheBase() {
    if (std::string base = variable("XDG_CACHE_HOME"); !base.empty())
        return base;
    std::string home = variable("HOME");
    if (home.empty()) {
        const passwd *entry = ::getpwuid(::geteuid());
        if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/')
            return {};
        home = entry->pw_dir;
    }
    return home + "/.cache";
}

// The base folder's path is the user's to choose; "tolvex" inside it is created and checked
// here, one level, by descriptor.
Fd openTolvexIn(const std::string &base, bool createBase, bool create) {
    if (base.empty())
        return Fd();
    if (!create) {
        const Fd parent = openFolder(base);
        Fd folder = parent.valid() ? openFolderAt(parent.get(), "tolvex") : Fd();
        return folder.valid() && ownedFolder(folder.get(), true) ? std::move(folder) : Fd();
    }
    if (createBase) {
        // Missing parents are made private: nothing of ours needs them open.
        std::string sofar;
        for (size_t at = 1; at <= base.size(); ++at)
            if (at == base.size() || base[at] == '/') {
                sofar = base.substr(0, at);
                if (::mkdir(sofar.c_str(), 0700) != 0 && errno != EEXIST)
                    return Fd();
            }
    }
    Fd parent = openFolder(base);
    if (!parent.valid())
        return Fd();
    if (::mkdirat(parent.get(), "tolvex", 0700) != 0 && errno != EEXIST)
        return Fd();
    Fd folder = openFolderAt(parent.get(), "tolvex");
    if (!folder.valid() || !ownedFolder(folder.get(), true))
        return Fd();
    return folder;
}

} // namespace

Fd openPrivateFolder(PrivateFolder which, bool create) {
    if (which == PrivateFolder::Runtime) {
        // The runtime folder counts only when it is the user's own and closed to others.
        const std::string runtime = variable("XDG_RUNTIME_DIR");
        if (!runtime.empty()) {
            Fd base = openFolder(runtime);
            if (base.valid() && ownedFolder(base.get(), false))
                if (Fd folder = openTolvexIn(runtime, false, create); folder.valid())
                    return folder;
        }
    }
    return openTolvexIn(cacheBase(), true, create);
}

} // namespace tolvex::files
