#include "tree_mover.h"
#include "folders.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex::files {

Parts splitParts(const std::string &path) {
    Parts parts;
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        std::string part = path.substr(start, slash - start);
        if (!part.empty())
            parts.push_back(std::move(part));
        if (slash == std::string::npos)
            return parts;
        start = slash + 1;
    }
}

std::string joinParts(const Parts &parts, size_t count) {
    std::string path;
    for (size_t i = 0; i < count && i < parts.size(); ++i)
        path += (i ? "/" : "") + parts[i];
    return path;
}

Fd openParts(int root, const Parts &parts, size_t count, TreeError &error,
             std::vector<Parts> *created, mode_t createdMode) {
    Fd current = duplicate(root);
    for (size_t i = 0; i < count && current.valid(); ++i) {
        Fd next = openFolderAt(current.get(), parts[i]);
        if (!next.valid() && errno == ENOENT && created) {
            if (::mkdirat(current.get(), parts[i].c_str(), 0700) != 0) {
                error = TreeError::Failed;
                return Fd();
            }
            created->emplace_back(parts.begin(), parts.begin() + long(i + 1));
            next = openFolderAt(current.get(), parts[i]);
            if (next.valid())
                ::fchmod(next.get(), createdMode | S_IRWXU);
        }
        if (!next.valid()) {
            error = errno == ELOOP || errno == ENOTDIR ? TreeError::Unsafe : TreeError::Failed;
            return Fd();
        }
        current = std::move(next);
    }
    if (!current.valid())
        error = TreeError::Failed;
    return current;
}

Meets meetsAt(int root, const Parts &parts, bool folder) {
    Fd current = duplicate(root);
    for (size_t i = 0; i < parts.size() && current.valid(); ++i) {
        struct stat st;
        if (::fstatat(current.get(), parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? Meets::Nothing : Meets::Failed;
        const bool isFolder = S_ISDIR(st.st_mode);
        if (i + 1 == parts.size()) {
            if (isFolder == folder)
                return Meets::Same;
            return isFolder ? Meets::Folder : Meets::File;
        }
        if (!isFolder)
            return Meets::Unsafe;
        current = openFolderAt(current.get(), parts[i]);
    }
    return current.valid() ? Meets::Nothing : Meets::Failed;
}

bool TreeMover::ensureFolder(const Parts &parts, TreeError &error) {
    if (openParts(m_root, parts, parts.size(), error, &m_created, m_folderMode).valid())
        return true;
    m_failed = parts;
    return false;
}

bool TreeMover::move(const Parts &parts, TreeError &error, bool replace) {
    m_failed = parts;
    Fd target = openParts(m_root, parts, parts.size() - 1, error, &m_created, m_folderMode);
    if (!target.valid())
        return false;
    Fd source = openParts(m_staging, parts, parts.size() - 1, error);
    if (!source.valid())
        return false;
    const char *name = parts.back().c_str();
    if (::renameat2(source.get(), name, target.get(), name, RENAME_NOREPLACE) == 0) {
        m_moves.push_back({parts, false});
        m_failed.clear();
        return true;
    }
    if (errno == EEXIST && !replace) {
        error = TreeError::Failed;
        return false;
    }
    if (errno == EEXIST) {
        // The old entry goes to the staging folder in the same step, to come back on failure.
        if (::renameat2(source.get(), name, target.get(), name, RENAME_EXCHANGE) == 0) {
            m_moves.push_back({parts, true});
            m_failed.clear();
            return true;
        }
    }
    if (errno == EINVAL || errno == ENOSYS) {
        // A file system without exchange: replaced for good.
        if (::renameat(source.get(), name, target.get(), name) == 0) {
            m_failed.clear();
            return true;
        }
    }
    error = TreeError::Failed;
    return false;
}

void TreeMover::rollBack() {
    const int saved = errno;
    for (auto it = m_moves.rbegin(); it != m_moves.rend(); ++it) {
        TreeError ignored = TreeError::None;
        Fd target = openParts(m_root, it->parts, it->parts.size() - 1, ignored);
        Fd source = openParts(m_staging, it->parts, it->parts.size() - 1, ignored);
        if (!target.valid() || !source.valid())
            continue;
        const char *name = it->parts.back().c_str();
        ::renameat2(target.get(), name, source.get(), name,
                    it->exchanged ? RENAME_EXCHANGE : RENAME_NOREPLACE);
    }
    for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
        TreeError ignored = TreeError::None;
        Fd parent = openParts(m_root, *it, it->size() - 1, ignored);
        if (parent.valid())
            ::unlinkat(parent.get(), it->back().c_str(), AT_REMOVEDIR);
    }
    errno = saved;
}

} // namespace tolvex::files
