// The one step that gives a finished file its final name. Every writer (the codec, strong
// files, the archiver, tolvex-cli, the window and its settings file) ends here, so that one
// rule decides an output's permissions, when its content reaches the disk and what a late
// write error means.
#pragma once

#include "temporaries.h"

#include <optional>
#include <string>
#include <sys/types.h>

namespace tolvex::files {

struct Publication {
    // A regular file that has the name is replaced in one step; without it a taken name is
    // never touched, even one taken while the file was written.
    bool replace = false;
    // The permission bits the output is made from (its source's); none for a file made from
    // nothing.
    std::optional<mode_t> source;
};

enum class Published { Done, Exists, IsFolder, Failed };

// The permission bits a file published as `name` in `folder` gets: the source's read and
// write bits under the umask (0666 under the umask without a source), and never wider than
// a regular file it replaces (a link there is replaced itself and lends nothing).
mode_t publishedMode(int folder, const std::string &name, const Publication &how);

// Gives the finished temporary its permissions, waits until its content is on the disk (a
// crash must never leave a named file without its content, nor lose the file it replaced),
// names it in its folder and closes it: a late write error (NFS, quota) shown by the close
// fails the publication, and a new name is taken back. errno is kept on Failed.
Published publish(TemporaryFile &file, const std::string &name, const Publication &how);

// The same step for a file finished in a private staging folder (`fd`, named `name` in
// `staging`), moved under the same name into `folder`: it gets the permissions the rule gives
// there and waits for the disk before the name is given.
Published publishStaged(int staging, const std::string &name, int fd, int folder, bool replace);

} // namespace tolvex::files
