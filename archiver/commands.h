// The two commands. Each answers an UNLHA_ result code and a message for the caller.
#pragma once

#include "command_line.h"

#include <string>

namespace unlha {

// Packs the named files and folders into the archive. The archive is written under a
// temporary name beside it and renamed only when complete. Members of an existing archive are
// kept unless a new member has the same path.
int packArchive(const Command &command, std::string &message);

// Extracts the members matching the patterns into the destination folder. The archive is read
// through once before anything is written: a damaged archive, or one with a member that is a
// link or whose name leads outside the destination, is refused as a whole.
int extractArchive(const Command &command, std::string &message);

} // namespace unlha
