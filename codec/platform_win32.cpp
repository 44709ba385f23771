// The codec's system services on 32-bit Windows. Paths are bytes of the ANSI code page and go to
// the ANSI functions as they are, so the system, not we, decides what a multi-byte name means;
// where we must find a separator ourselves we walk the path a character at a time (CharNextA),
// so that the trail byte of a double-byte character is never taken for a backslash.
#include "platform.h"

#include "naming.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

namespace tolvex::platform {
namespace {

HANDLE handleOf(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

intptr_t heldHandle(HANDLE handle) {
    return reinterpret_cast<intptr_t>(handle);
}

// Each ReadFile/WriteFile moves at most this much, well inside a DWORD.
constexpr size_t kMaxTransfer = size_t(1) << 30;

OVERLAPPED at(uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = DWORD(offset & 0xFFFFFFFFu);
    position.OffsetHigh = DWORD(offset >> 32);
    return position;
}

int64_t readRetrying(HANDLE file, uint64_t offset, void *buffer, size_t length) {
    auto *out = static_cast<unsigned char *>(buffer);
    size_t done = 0;
    while (done < length) {
        const DWORD ask = DWORD(std::min(length - done, kMaxTransfer));
        OVERLAPPED position = at(offset + done);
        DWORD got = 0;
        if (!::ReadFile(file, out + done, ask, &got, &position)) {
            if (::GetLastError() == ERROR_HANDLE_EOF)
                break;
            return -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return int64_t(done);
}

bool writeRetrying(HANDLE file, const void *data, size_t length, const uint64_t *offset) {
    const auto *in = static_cast<const unsigned char *>(data);
    size_t done = 0;
    while (done < length) {
        const DWORD ask = DWORD(std::min(length - done, kMaxTransfer));
        DWORD put = 0;
        BOOL ok;
        if (offset) {
            OVERLAPPED position = at(*offset + done);
            ok = ::WriteFile(file, in + done, ask, &put, &position);
        } else {
            ok = ::WriteFile(file, in + done, ask, &put, nullptr);
        }
        if (!ok || put == 0)
            return false;
        done += put;
    }
    return true;
}

// The position of the path's last separator, or npos; double-byte characters stay whole.
size_t lastSeparator(const std::string &path) {
    size_t last = std::string::npos;
    for (const char *p = path.c_str(); *p;) {
        if (isSeparator(*p))
            last = size_t(p - path.c_str());
        const char *next = ::CharNextA(p);
        p = next > p ? next : p + 1;
    }
    return last;
}

std::string folderOf(const std::string &path) {
    const size_t cut = lastSeparator(path);
    if (cut == std::string::npos)
        return ".";
    // "C:\" and "\" keep their separator: without it "C:" would mean the drive's current folder.
    if (cut == 0 || (cut == 2 && path[1] == ':'))
        return path.substr(0, cut + 1);
    return path.substr(0, cut);
}

std::string joined(const std::string &folder, const char *name) {
    // Only a separator that is a character of its own: "表" ends in the byte 0x5C too.
    if (!folder.empty() && lastSeparator(folder) == folder.size() - 1)
        return folder + name;
    return folder + "\\" + name;
}

// Whether the process with this id still runs. One that cannot be asked counts as running:
// its temporaries are left alone.
bool processRuns(DWORD id) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, id);
    if (!process)
        return ::GetLastError() != ERROR_INVALID_PARAMETER;
    const bool runs = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return runs;
}

// Removes the named temporaries in `folder` left by runs that were killed. A live run holds its
// temporary open without sharing deletion, so even a reused process id cannot cost it the file.
// The name alone proves nothing: a leftover also carries the temporary attribute it was created
// with (and loses before it is published), which a user's own file renamed so does not have.
void removeStaleTemporaries(const std::string &folder) {
    WIN32_FIND_DATAA entry;
    const std::string pattern = joined(folder, (std::string(kTemporaryPrefix) + "*").c_str());
    HANDLE search = ::FindFirstFileA(pattern.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const auto owner = DWORD(temporaryOwner(entry.cFileName, kTemporaryPrefix));
        if (owner == 0 || owner == ::GetCurrentProcessId() || processRuns(owner))
            continue;
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                       FILE_ATTRIBUTE_READONLY)) != 0 ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_TEMPORARY) == 0)
            continue;
        ::DeleteFileA(joined(folder, entry.cFileName).c_str());
    } while (::FindNextFileA(search, &entry));
    ::FindClose(search);
}

// A fresh temporary name in `folder` that carries this process's id.
std::string temporaryName(const std::string &folder) {
    static std::atomic<uint64_t> counter{0};
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const uint64_t entropy = uint64_t(now.QuadPart) ^ (uint64_t(::GetTickCount()) << 32) ^
                             (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    return joined(
        folder, tolvex::temporaryName(kTemporaryPrefix, ::GetCurrentProcessId(), entropy).c_str());
}

// Identity of the file behind a name, links followed.
bool identify(const char *path, BY_HANDLE_FILE_INFORMATION &info) {
    HANDLE file = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    return ok;
}

} // namespace

const char *const kArchiverLibrary = "unlha32";

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

bool isPlainName(std::string_view name) {
    return name.find_first_of("\\/:") == std::string_view::npos;
}

bool pathExists(const char *path) {
    return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool sameFile(const char *a, const char *b) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!identify(a, ia) || !identify(b, ib))
        return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

std::optional<InputFile> InputFile::open(const char *path) {
    // Others may go on reading, writing or renaming the file, as with the C library's fopen.
    HANDLE file =
        ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    // Pipes, consoles and devices ("CON", "\\.\pipe\x") could block or never end.
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return std::nullopt;
    }
    return InputFile(heldHandle(file));
}

InputFile::~InputFile() {
    if (m_handle != -1)
        ::CloseHandle(handleOf(m_handle));
}

int64_t InputFile::readAt(uint64_t offset, void *buffer, size_t length) {
    return readRetrying(handleOf(m_handle), offset, buffer, length);
}

// Windows keeps access rights in lists, not bits: a new output inherits its folder's.
std::optional<uint32_t> InputFile::permissions() const {
    return std::nullopt;
}

std::optional<uint64_t> InputFile::size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handleOf(m_handle), &size) || size.QuadPart < 0)
        return std::nullopt;
    return uint64_t(size.QuadPart);
}

// Windows has no unnamed files: every output is written under a temporary name.
std::optional<OutputFile> OutputFile::create(const std::string &path, bool replace,
                                             std::optional<uint32_t> /*permissions*/) {
    // A read-only file is one its owner said must not be overwritten; a rename could.
    const DWORD old = ::GetFileAttributesA(path.c_str());
    if (replace && old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY))
        return std::nullopt;
    const std::string folder = folderOf(path);
    removeStaleTemporaries(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = temporaryName(folder);
        // Nobody else may open or delete it while it is written.
        HANDLE file = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            return OutputFile(heldHandle(file), path, std::move(temp), replace);
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS)
            return std::nullopt;
    }
    return std::nullopt;
}

bool OutputFile::write(const void *data, size_t length) {
    return writeRetrying(handleOf(m_handle), data, length, nullptr);
}

bool OutputFile::writeAt(uint64_t offset, const void *data, size_t length) {
    // A positioned write moves the file pointer of a synchronous handle; later plain writes
    // must still go on at the end, as they do after pwrite.
    HANDLE file = handleOf(m_handle);
    LARGE_INTEGER here{};
    if (!::SetFilePointerEx(file, LARGE_INTEGER{}, &here, FILE_CURRENT))
        return false;
    return writeRetrying(file, data, length, &offset) &&
           ::SetFilePointerEx(file, here, nullptr, FILE_BEGIN);
}

OutputFile::Commit OutputFile::commit() {
    if (m_done)
        return Commit::Failed;
    // Before the old file goes, the new content must be on the disk: otherwise a crash could
    // leave neither. Closing first makes a late write error count.
    HANDLE file = handleOf(m_handle);
    // The mark that makes a leftover removable goes before the file can have its final name.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic)) {
        discard();
        return Commit::Failed;
    }
    const bool flushed = !m_replace || ::FlushFileBuffers(file);
    const bool closed = ::CloseHandle(file) != 0;
    m_handle = -1;
    if (!flushed || !closed) {
        discard();
        return Commit::Failed;
    }
    const char *temp = m_tempPath.c_str();
    const char *target = m_finalPath.c_str();
    if (!m_replace) {
        // Without MOVEFILE_REPLACE_EXISTING the move refuses a taken name, also one that
        // appeared while this file was written.
        if (!::MoveFileExA(temp, target, MOVEFILE_WRITE_THROUGH)) {
            const DWORD error = ::GetLastError();
            discard();
            return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? Commit::Exists
                                                                               : Commit::Failed;
        }
        m_done = true;
        return Commit::Done;
    }
    // ReplaceFile keeps the replaced file's attributes and permissions, as a rewrite would have.
    // Where it cannot (no old file, another file system), one move replaces the old file.
    if (!::ReplaceFileA(target, temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) &&
        !::MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        discard();
        return Commit::Failed;
    }
    m_done = true;
    return Commit::Done;
}

void OutputFile::discard() {
    if (m_handle != -1)
        ::CloseHandle(handleOf(m_handle));
    m_handle = -1;
    if (!m_tempPath.empty())
        ::DeleteFileA(m_tempPath.c_str());
    m_done = true;
}

// The system's own search order ("unlha32" gets ".dll"). A library that fails to load must not
// stop the caller with an error box.
void *loadLibrary(const char *name) {
    DWORD previous = 0;
    const bool quiet =
        ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous) != 0;
    HMODULE library = ::LoadLibraryA(name);
    if (quiet)
        ::SetThreadErrorMode(previous, nullptr);
    return reinterpret_cast<void *>(library);
}

void *findSymbol(void *library, const char *name) {
    if (!library)
        return nullptr;
    return reinterpret_cast<void *>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void unloadLibrary(void *library) {
    if (library)
        ::FreeLibrary(static_cast<HMODULE>(library));
}

std::optional<MemoryStatus> readMemoryStatus() {
    MEMORYSTATUSEX record{};
    record.dwLength = sizeof record;
    if (!::GlobalMemoryStatusEx(&record))
        return std::nullopt;
    MemoryStatus status;
    status.load = uint32_t(record.dwMemoryLoad);
    status.total = record.ullTotalPhys;
    status.available = record.ullAvailPhys;
    status.commitLimit = record.ullTotalPageFile;
    status.committed =
        record.ullTotalPageFile - std::min(record.ullAvailPageFile, record.ullTotalPageFile);
    return status;
}

} // namespace tolvex::platform
