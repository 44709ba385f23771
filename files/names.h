// Names and the files they reach: whether two reach one file, a name's resolved path, and a
// path that reaches what a descriptor holds.
#pragma once

#include <optional>
#include <string>
#include <sys/stat.h>

namespace tolvex::files {

// Whether two descriptions are of one file: the same device and inode. Names, letter case
// and links never decide it.
bool sameFile(const struct stat &a, const struct stat &b);
// Whether `name` in the open folder `folder` and the path `input` reach one file (links
// followed): an output that would be its own input. AT_FDCWD compares two paths.
bool sameFileAt(int folder, const std::string &name, const std::string &input);
// Removes `name` from `folder` only while it still names the file `held` describes: whatever
// someone else has put under that name meanwhile stays.
bool removeIfStill(int folder, const std::string &name, const struct stat &held);

// The absolute path with every link resolved; nothing when some part does not exist.
std::optional<std::string> resolvedPath(const std::string &path);

// "/proc/self/fd/N": a path that reaches the very folder or file a descriptor holds, whatever
// has been renamed or swapped since, for interfaces that take a path. Empty where /proc is not
// mounted.
std::string descriptorPath(int fd);

} // namespace tolvex::files
