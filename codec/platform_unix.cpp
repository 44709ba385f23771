#include "platform.h"

#include "fd.h"
#include "folders.h"
#include "names.h"
#include "publish.h"
#include "temporaries.h"
#include "transfers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex::platform {
namespace {

namespace files = tolvex::files;

std::string folderOf(const std::string &path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string &path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// An output being written: its folder, opened once, and the temporary in it. Everything after
// create() works relative to that descriptor, whatever is renamed meanwhile.
struct OutputState {
    explicit OutputState(files::Fd folderFd)
        : folder(std::move(folderFd)), temp(folder.get(), files::kCodecPrefix) {}
    files::Fd folder;
    files::TemporaryFile temp;
    std::string name;
    std::optional<mode_t> source;
};

OutputState *stateOf(void *state) {
    return static_cast<OutputState *>(state);
}

int descriptorOf(intptr_t handle) {
    return int(handle);
}

} // namespace

const char *const kArchiverLibrary = "libunlha32.so";

bool isSeparator(char c) {
    return c == '/';
}

bool isPlainName(std::string_view name) {
    return name.find('/') == std::string_view::npos;
}

bool pathExists(const char *path) {
    struct stat st;
    return ::lstat(path, &st) == 0;
}

bool sameFile(const char *a, const char *b) {
    return files::sameFileAt(AT_FDCWD, a, b);
}

std::optional<InputFile> InputFile::open(const char *path) {
    const int fd = files::openRegular(path);
    if (fd < 0)
        return std::nullopt;
    return InputFile(intptr_t(fd));
}

InputFile::~InputFile() {
    if (m_handle >= 0)
        ::close(descriptorOf(m_handle));
}

int64_t InputFile::readAt(uint64_t offset, void *buffer, size_t length) {
    return files::readAt(descriptorOf(m_handle), offset, buffer, length);
}

std::optional<uint64_t> InputFile::size() const {
    struct stat st;
    if (::fstat(descriptorOf(m_handle), &st) != 0)
        return std::nullopt;
    return uint64_t(st.st_size);
}

std::optional<uint32_t> InputFile::permissions() const {
    struct stat st;
    if (::fstat(descriptorOf(m_handle), &st) != 0)
        return std::nullopt;
    return uint32_t(st.st_mode & 07777);
}

std::optional<OutputFile> OutputFile::create(const std::string &path, bool replace,
                                             std::optional<uint32_t> permissions) {
    files::Fd folder = files::openFolder(folderOf(path));
    if (!folder.valid())
        return std::nullopt;
    auto state = std::make_unique<OutputState>(std::move(folder));
    if (!state->temp.valid())
        return std::nullopt;
    state->name = nameOf(path);
    if (permissions)
        state->source = mode_t(*permissions);
    OutputFile file(intptr_t(state->temp.fd()), path, {}, replace);
    file.m_state = state.release();
    return file;
}

bool OutputFile::write(const void *data, size_t length) {
    return files::writeAll(descriptorOf(m_handle), data, length);
}

bool OutputFile::writeAt(uint64_t offset, const void *data, size_t length) {
    return files::writeAt(descriptorOf(m_handle), offset, data, length);
}

OutputFile::Commit OutputFile::commit() {
    OutputState *state = stateOf(m_state);
    if (m_done || !state)
        return Commit::Failed;
    const files::Published published =
        files::publish(state->temp, state->name, {m_replace, state->source});
    delete state;
    m_state = nullptr;
    m_handle = -1;
    m_done = true;
    switch (published) {
    case files::Published::Done:
        return Commit::Done;
    case files::Published::Exists:
        return Commit::Exists;
    case files::Published::IsFolder:
    case files::Published::Failed:
        break;
    }
    return Commit::Failed;
}

// An unnamed file vanishes with its descriptor; a named one is unlinked.
void OutputFile::discard() {
    delete stateOf(m_state);
    m_state = nullptr;
    m_handle = -1;
    m_done = true;
}

// A bare name is looked for beside this library first, as its run path $ORIGIN would have it.
// The run path alone is not enough: the loader applies the caller's run path, and a dlopen
// interposed by a sanitizer or a preloaded library makes that caller someone else.
void *loadLibrary(const char *name) {
    if (!std::strchr(name, '/')) {
        Dl_info self;
        if (::dladdr(reinterpret_cast<void *>(&loadLibrary), &self) && self.dli_fname) {
            const std::string beside = folderOf(self.dli_fname) + "/" + name;
            if (void *library = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL))
                return library;
        }
    }
    return ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void *findSymbol(void *library, const char *name) {
    return library ? ::dlsym(library, name) : nullptr;
}

void unloadLibrary(void *library) {
    if (library)
        ::dlclose(library);
}

std::optional<MemoryStatus> readMemoryStatus() {
    FILE *info = std::fopen("/proc/meminfo", "re");
    if (!info)
        return std::nullopt;
    MemoryStatus status;
    int found = 0;
    char line[256];
    while (std::fgets(line, sizeof line, info)) {
        char key[64];
        unsigned long long kib = 0;
        if (std::sscanf(line, "%63[^:]: %llu", key, &kib) != 2)
            continue;
        const uint64_t bytes = uint64_t(kib) * 1024;
        if (!std::strcmp(key, "MemTotal"))
            status.total = bytes, ++found;
        else if (!std::strcmp(key, "MemAvailable"))
            status.available = bytes, ++found;
        else if (!std::strcmp(key, "CommitLimit"))
            status.commitLimit = bytes, ++found;
        else if (!std::strcmp(key, "Committed_AS"))
            status.committed = bytes, ++found;
    }
    std::fclose(info);
    if (found != 4 || status.total == 0)
        return std::nullopt;
    const uint64_t used = status.total - std::min(status.available, status.total);
    status.load = uint32_t(100 * used / status.total);
    return status;
}

} // namespace tolvex::platform
