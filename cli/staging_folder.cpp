#include "staging_folder.h"

#include "fd.h"
#include "names.h"
#include "private_folders.h"

#include <cerrno>
#include <set>

namespace cli {
namespace {

namespace files = tolvex::files;

std::mutex g_stagingMutex;

// The staging folders alive now.
std::set<StagingFolder *> &registry() {
    static std::set<StagingFolder *> folders;
    return folders;
}

} // namespace

std::unique_lock<std::mutex> lockStaging() {
    return std::unique_lock(g_stagingMutex);
}

void removeEveryStagingFolder(const std::unique_lock<std::mutex> &) {
    for (StagingFolder *folder : registry())
        folder->remove();
}

StagingFolder::StagingFolder(int parent)
    : m_folder(parent, files::kCliPrefix), m_path(files::descriptorPath(m_folder.fd())) {}

std::unique_ptr<StagingFolder> StagingFolder::create(int parent) {
    std::unique_ptr<StagingFolder> staging;
    {
        // Made and registered in one step: an interruption finds it either way.
        const auto lock = lockStaging();
        staging.reset(new StagingFolder(parent));
        if (staging->m_folder.valid() && !staging->m_path.empty()) {
            registry().insert(staging.get());
            return staging;
        }
    }
    // Without /proc there is no path that reaches the folder itself.
    const int error = staging->m_folder.valid() ? ENOENT : errno;
    staging.reset(); // outside the lock: its destructor takes it
    errno = error;
    return nullptr;
}

std::unique_ptr<StagingFolder> StagingFolder::createPrivate() {
    const files::Fd folder = files::openPrivateFolder(files::PrivateFolder::Runtime);
    if (!folder.valid())
        return nullptr;
    return create(folder.get());
}

StagingFolder::~StagingFolder() {
    const auto lock = lockStaging();
    m_folder.remove();
    registry().erase(this);
}

void StagingFolder::remove() {
    m_folder.remove();
}

} // namespace cli
