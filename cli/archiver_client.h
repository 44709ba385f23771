// The archiver library libunlha32.so beside the program, driven by the command lines the
// window uses. Calls from this process's threads go one at a time.
#pragma once

#include <mutex>
#include <string>

namespace cli {

struct ArchiverResult {
    bool ok = false;
    bool busy = false; // another program kept the archiver busy past the wait
    std::string message;
    // What failed was writing (a full disk, a read-only folder), not the archive or the library.
    bool cannotWrite = false;
};

class ArchiverClient {
  public:
    // Loads the library from this folder; available() says whether that worked.
    ArchiverClient(const std::string &libraryFolder, unsigned waitSeconds);
    ~ArchiverClient();
    ArchiverClient(const ArchiverClient &) = delete;
    ArchiverClient &operator=(const ArchiverClient &) = delete;

    bool available() const { return m_unlha != nullptr; }
    const std::string &loadError() const { return m_loadError; }

    // Packs `input` (a file or folder, absolute path) into `archive`, stored under its name.
    ArchiverResult pack(const std::string &archive, const std::string &input);
    // Extracts every member of `archive` into `folder`.
    ArchiverResult extract(const std::string &archive, const std::string &folder);

    // Called once, the first time the archiver is found busy, before waiting.
    void setBusyNotice(void (*notice)(void *context), void *context) {
        m_notice = notice;
        m_noticeContext = context;
    }

  private:
    ArchiverResult run(const std::string &commandLine);

    using UnlhaFunction = int (*)(void *, const char *, char *, unsigned long);
    using RunningFunction = int (*)();
    void *m_library = nullptr;
    UnlhaFunction m_unlha = nullptr;
    RunningFunction m_running = nullptr;
    std::string m_loadError;
    unsigned m_waitSeconds;
    std::mutex m_mutex;
    void (*m_notice)(void *) = nullptr;
    void *m_noticeContext = nullptr;
};

} // namespace cli
