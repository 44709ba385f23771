// Finished outputs moved from their staging folder to their final names.
#pragma once

#include "staging_folder.h"

#include <string>

namespace cli {

enum class Publish { Done, Exists, IsFolder, Unsafe, Failed };

// Moves a finished file to its final name. Without `replace` an existing name is never
// touched, even one that appeared meanwhile. With it, a regular file is replaced in one
// rename after the new content is on the disk; the new file never gets wider permissions than
// the one it replaces. errno is set on Failed.
Publish publishFile(const std::string &staged, const std::string &finalPath, bool replace);

struct TreeResult {
    Publish outcome = Publish::Done;
    std::string conflict; // the first name that stands in the way or could not be moved
};

// Moves everything in the staging folder `staged` into `destination`, opened once. Every
// conflict is found before the first move: without `replace`, any top-level name that exists;
// with it, a file meeting a folder or a folder a file (folders are merged, files replaced), and
// a link or file on the way. A failure while moving puts back everything moved and replaced.
TreeResult publishTree(const StagingFolder &staged, const std::string &destination, bool replace);

} // namespace cli
