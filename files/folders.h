// Folders: opening them (by name inside an open folder, by a user's path, or below a root that
// no link may lead out of), making them, listing them, removing a file from one, and how much
// room one has. Linux only; errno as the system left it on failure.
#pragma once

#include "fd.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvex::files {

// Opens the folder `name` inside `folder`, never through a link at its last component.
Fd openFolderAt(int folder, const std::string &name);
// Opens a folder by a path the user gave (links followed, as a shell would).
Fd openFolder(const std::string &path);
// Opens `path` below the open folder `root` (openat2's RESOLVE_BENEATH): links on the way are
// followed only while they stay inside `root`; one that leads out fails with EXDEV. `flags`
// as for open; a regular file or folder only, checked on the descriptor as openRegular does.
Fd openBeneath(int root, const std::string &path, int flags);

// Creates a folder and its missing parents, as mkdir -p does (the umask applies); true when it
// is a folder now. On failure `failedAt`, when given, names the part that could not be made.
bool makeFolders(const std::string &path, std::string *failedAt = nullptr);
// Removes the file or link `name` in `folder` (never a folder).
bool removeFileAt(int folder, const std::string &name);

// The names in a folder given by path, "." and ".." left out, sorted; nothing when it cannot be
// read to the end.
std::optional<std::vector<std::string>> listFolder(const std::string &path);
// The names in an open folder, as listFolder gives them.
std::optional<std::vector<std::string>> listFolderAt(int fd);

// Free bytes in the file system of the folder `fd`.
std::optional<uint64_t> freeSpace(int fd);
// Where `path` is, or where it will be created (its nearest existing parent).
std::optional<uint64_t> freeSpace(std::string path);

// The effective user id, and whether an open folder is this user's own and writable by nobody
// else.
uid_t userId();
bool isPrivateFolder(int fd);

} // namespace tolvex::files
