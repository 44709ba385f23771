// The two commands. Each answers an UNLHA_ result code and a message for the caller.
#pragma once

#include "command_line.h"

#include <string>

namespace unlha {

// Packs the named files and folders into the archive. The archive is written as an unnamed
// file beside it and gets its name only when complete; a link to an archive is updated at its
// target. A file there that is not an archive is never replaced. Members of an existing archive are
// kept unless a new member has the same path.
int packArchive(const Command &command, std::string &message);

// Extracts the members matching the patterns into the destination folder. The archive is read
// through once before anything is written: a damaged archive, or one with a member that is a
// link or whose name leads outside the destination, is refused as a whole. Members are decoded
// into a private staging folder inside the destination and moved into place only when all of
// them passed their checks; on any failure the destination stays as it was.
int extractArchive(const Command &command, std::string &message);

} // namespace unlha
