// The user's private folders: nobody else can read, write or replace what is inside, so
// plaintext temporaries and the proofs that a temporary is ours live there.
#pragma once

#include "fd.h"

#include <string>

namespace tolvex::files {

enum class PrivateFolder {
    // $XDG_RUNTIME_DIR/tolvex when the runtime folder is usable, else the cache folder: for
    // temporaries that die with the session.
    Runtime,
    // $XDG_CACHE_HOME/tolvex (default ~/.cache/tolvex): kept across sessions.
    Cache,
};

// The user's base folder of one kind: `variable` when it is an absolute path (a relative one is
// invalid and ignored), else home + "/" + fallback (".config", ".cache"), the password
// database's home when `home` is not absolute either. No trailing slash.
std::string userBaseFolder(const std::string &variable, const std::string &home,
                           const char *fallback);

// Where the private folder belongs: runtimeDir/tolvex when runtimeDir is absolute and names an
// existing folder (not a link) owned by this user that neither group nor others may write; else
// the cache base's "tolvex". Values are as the environment has them, empty when unset.
std::string choosePrivateFolder(const std::string &runtimeDir, const std::string &cacheHome,
                                const std::string &home);

// mkdir -p whose new folders are private (0700); the umask still applies on top.
void makePrivateFolders(const std::string &path);

// Opens an absolute folder, making it and its parents first when `create`, never through a link
// at its last step. It is used only when it is a folder owned by this user; any mode but 0700
// is set back to 0700 through the descriptor. Invalid otherwise.
Fd securePrivateFolder(const std::string &folder, bool create = true);

// The private folder of this kind, chosen from this process's environment and secured.
Fd openPrivateFolder(PrivateFolder which, bool create = true);

} // namespace tolvex::files
