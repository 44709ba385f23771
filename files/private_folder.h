// The user's private folders: nobody else can read, write or replace what is inside, so
// plaintext temporaries and the proofs that a temporary is ours live there.
#pragma once

#include "fd.h"

namespace tolvex::files {

enum class PrivateFolder {
    // $XDG_RUNTIME_DIR/tolvex when the runtime folder is usable, else the cache folder: for
    // temporaries that die with the session.
    Runtime,
    // $XDG_CACHE_HOME/tolvex (default ~/.cache/tolvex): kept across sessions.
    Cache,
};

// Opens the folder, creating it and its parents (0700) when missing and `create` is true. It
// is used only when it is a real folder (no link) owned by this user; group and other bits are
// taken off through the descriptor. Invalid when there is no such folder to be had.
Fd openPrivateFolder(PrivateFolder which, bool create = true);

} // namespace tolvex::files
