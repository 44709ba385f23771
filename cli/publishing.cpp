#include "publishing.h"

#include "fd.h"
#include "folders.h"
#include "tree_mover.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cli {
namespace {

namespace files = tolvex::files;

// What merging the staged entry `parts` into the destination does: moves it whole where the
// destination has nothing of its name, merges folders, replaces files. Every step is planned
// before the first move, so that a conflict anywhere leaves everything as it was.
struct Step {
    files::Parts parts;
};

std::optional<TreeResult> planMerge(int staging, int root, const files::Parts &parts,
                                    std::vector<Step> &steps) {
    files::TreeError error = files::TreeError::None;
    const files::Fd folder = files::openParts(staging, parts, parts.size(), error);
    const auto names = folder.valid() ? files::listFolderAt(folder.get()) : std::nullopt;
    if (!names)
        return TreeResult{Publish::Failed, files::joinParts(parts, parts.size())};
    for (const auto &name : *names) {
        files::Parts entry = parts;
        entry.push_back(name);
        struct stat st;
        if (::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return TreeResult{Publish::Failed, files::joinParts(entry, entry.size())};
        const bool isFolder = S_ISDIR(st.st_mode);
        switch (files::meetsAt(root, entry, isFolder)) {
        case files::Meets::Nothing:
            steps.push_back({entry});
            break;
        case files::Meets::Same:
            if (isFolder) {
                if (auto conflict = planMerge(staging, root, entry, steps))
                    return conflict;
            } else {
                steps.push_back({entry});
            }
            break;
        case files::Meets::File:
        case files::Meets::Folder:
            return TreeResult{Publish::IsFolder, files::joinParts(entry, entry.size())};
        case files::Meets::Unsafe:
            return TreeResult{Publish::Unsafe, files::joinParts(entry, entry.size())};
        case files::Meets::Failed:
            return TreeResult{Publish::Failed, files::joinParts(entry, entry.size())};
        }
    }
    return std::nullopt;
}

} // namespace

TreeResult publishTree(const StagingFolder &staged, int destination, bool replace) {
    const auto lock = lockStaging();
    const files::Fd root = files::duplicate(destination);
    if (!root.valid())
        return {Publish::Failed, {}};
    std::vector<Step> steps;
    if (!replace) {
        const auto names = files::listFolderAt(staged.fd());
        if (!names)
            return {Publish::Failed, {}};
        for (const auto &name : *names) {
            struct stat st;
            if (::fstatat(root.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                return {Publish::Exists, name};
            steps.push_back({{name}});
        }
    } else if (auto conflict = planMerge(staged.fd(), root.get(), {}, steps)) {
        return *conflict;
    }
    files::TreeMover mover(root.get(), staged.fd(), 0777 & ~files::processUmask());
    for (const auto &step : steps) {
        files::TreeError error = files::TreeError::None;
        if (!mover.move(step.parts, error, replace))
            return {error == files::TreeError::Unsafe ? Publish::Unsafe : Publish::Failed,
                    files::joinParts(step.parts, step.parts.size())};
    }
    mover.commit();
    return {};
}

} // namespace cli
