#include "publish.h"
#include "names.h"
#include "transfers.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex::files {

mode_t publishedMode(int folder, const std::string &name, const Publication &how) {
    mode_t mode = outputMode(how.source);
    if (how.replace)
        if (const auto old = statusAt(folder, name, false); old && S_ISREG(old->st_mode))
            mode &= old->st_mode;
    return mode;
}

Published publish(TemporaryFile &file, const std::string &name, const Publication &how) {
    if (!file.valid()) {
        errno = EBADF;
        return Published::Failed;
    }
    if (how.replace) {
        if (const auto old = statusAt(file.folder(), name, false); old && S_ISDIR(old->st_mode)) {
            file.discard();
            return Published::IsFolder;
        }
    }
    // A second descriptor outlives the temporary's own: its close, after naming, tells a late
    // write error, and the node it holds is what a taken-back name must still be.
    Fd held = duplicate(file.fd());
    if (!held.valid() || !setMode(file.fd(), publishedMode(file.folder(), name, how)) ||
        !syncFile(file.fd())) {
        const int error = errno;
        file.discard();
        errno = error;
        return Published::Failed;
    }
    const int folder = file.folder();
    if (!(how.replace ? file.replace(name) : file.linkAs(name))) {
        const int error = errno;
        file.discard();
        errno = error;
        if (error == EEXIST && !how.replace)
            return Published::Exists;
        return error == EISDIR ? Published::IsFolder : Published::Failed;
    }
    const auto mine = status(held.get());
    if (held.close())
        return Published::Done;
    const int error = errno;
    // What carries the name is not what was written: a new name goes again, unless someone
    // has put something else under it meanwhile. A replaced file cannot come back.
    if (!how.replace && mine)
        removeIfStill(folder, name, *mine);
    errno = error;
    return Published::Failed;
}

Published publishStaged(int staging, const std::string &name, int fd, int folder, bool replace) {
    const auto now = status(fd);
    if (!now)
        return Published::Failed;
    if (replace)
        if (const auto old = statusAt(folder, name, false); old && S_ISDIR(old->st_mode))
            return Published::IsFolder;
    if (!setMode(fd, publishedMode(folder, name, {replace, now->st_mode})) || !syncFile(fd))
        return Published::Failed;
    if (replace ? ::renameat(staging, name.c_str(), folder, name.c_str()) == 0
                : renameNoReplace(staging, name, folder, name))
        return Published::Done;
    if (errno == EEXIST && !replace)
        return Published::Exists;
    return errno == EISDIR ? Published::IsFolder : Published::Failed;
}

} // namespace tolvex::files
