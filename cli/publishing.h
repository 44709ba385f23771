// Finished trees moved from their staging folder into the folder they belong in.
#pragma once

#include "staging_folder.h"

#include <string>

namespace cli {

enum class Publish { Done, Exists, IsFolder, Unsafe, Failed };

struct TreeResult {
    Publish outcome = Publish::Done;
    std::string conflict; // the first name that stands in the way or could not be moved
};

// Moves everything in the staging folder `staged` into the open folder `destination`. Every
// conflict is found before the first move: without `replace`, any top-level name that exists;
// with it, a file meeting a folder or a folder a file (folders are merged, files replaced), and
// a link or file on the way. A failure while moving puts back everything moved and replaced.
TreeResult publishTree(const StagingFolder &staged, int destination, bool replace);

} // namespace cli
