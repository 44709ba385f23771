// Moving a finished tree from a staging folder into its destination, both held as descriptors:
// nothing is opened by path again, every folder on the way is entered without following a
// link, and what was moved (and what it replaced) can be put back as it was.
#pragma once

#include "fd.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvex::files {

using Parts = std::vector<std::string>;

// "a/b/c" -> {"a", "b", "c"}; empty parts are dropped.
Parts splitParts(const std::string &path);
// The parts joined with '/', for messages.
std::string joinParts(const Parts &parts, size_t count);

enum class TreeError { None, Unsafe, Failed };

// Opens the folders `parts[0, count)` below `root`, one level at a time and never through a
// link. With `created`, missing ones are made (with `createdMode`, always open to their owner)
// and added to it. errno and `error` tell why not.
Fd openParts(int root, const Parts &parts, size_t count, TreeError &error,
             std::vector<Parts> *created = nullptr, mode_t createdMode = 0700);

// What an entry of the staging tree meets at its place in the destination.
enum class Meets { Nothing, Same, File, Folder, Unsafe, Failed };
// `folder` tells what the staged entry is. A link or file on the way is Unsafe; a folder
// meeting a file, or a file a folder, is the other kind.
Meets meetsAt(int root, const Parts &parts, bool folder);

class TreeMover {
  public:
    // Folders it has to create in the destination get `folderMode`.
    TreeMover(int root, int staging, mode_t folderMode)
        : m_root(root), m_staging(staging), m_folderMode(folderMode) {}
    ~TreeMover() {
        if (!m_committed)
            rollBack();
    }
    TreeMover(const TreeMover &) = delete;
    TreeMover &operator=(const TreeMover &) = delete;

    // Makes sure the folder `parts` exists in the destination.
    bool ensureFolder(const Parts &parts, TreeError &error);
    // Moves the staged entry `parts` (a file, or a folder with all it holds) to the same place
    // in the destination. An existing file there is exchanged with it and kept in the staging
    // folder until commit(), so that a roll-back can put it back. Without `replace` a taken
    // name, even one taken meanwhile, is never touched.
    bool move(const Parts &parts, TreeError &error, bool replace = true);
    // Everything moved stays; without it, the destructor puts everything back.
    void commit() { m_committed = true; }
    // The last entry that could not be moved.
    const Parts &failed() const { return m_failed; }

  private:
    void rollBack();

    struct Move {
        Parts parts;
        bool exchanged;
    };
    int m_root;
    int m_staging;
    mode_t m_folderMode;
    std::vector<Move> m_moves;
    std::vector<Parts> m_created;
    Parts m_failed;
    bool m_committed = false;
};

} // namespace tolvex::files
