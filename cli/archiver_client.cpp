#include "archiver_client.h"

#include "archiver_commands.h"
#include "unlha32.h"

#include <chrono>
#include <cstdio>
#include <dlfcn.h>
#include <thread>

namespace cli {
namespace {

ArchiverResult uncarried(const std::string &what) {
    return {false, false,
            what + " holds the character '" + archiver_commands::kUnquotable +
                "', which the archiver's command line cannot carry; rename it"};
}

std::string withSlash(const std::string &folder) {
    return !folder.empty() && folder.back() == '/' ? folder : folder + "/";
}

} // namespace

ArchiverClient::ArchiverClient(const std::string &libraryFolder, unsigned waitSeconds)
    : m_waitSeconds(waitSeconds) {
    const std::string path = withSlash(libraryFolder) + "libunlha32.so";
    m_library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_library) {
        const char *why = ::dlerror();
        m_loadError = "the archiver library " + path + " cannot be loaded" +
                      (why ? std::string(": ") + why : std::string());
        return;
    }
    m_unlha = reinterpret_cast<UnlhaFunction>(::dlsym(m_library, "Unlha"));
    m_running = reinterpret_cast<RunningFunction>(::dlsym(m_library, "UnlhaGetRunning"));
    if (!m_unlha || !m_running) {
        m_unlha = nullptr;
        m_loadError = "the archiver library " + path + " lacks Unlha or UnlhaGetRunning";
    }
}

ArchiverClient::~ArchiverClient() {
    if (m_library)
        ::dlclose(m_library);
}

ArchiverResult ArchiverClient::pack(const std::string &archive, const std::string &input) {
    const auto command = archiver_commands::packCommandLine(archive, input);
    return command ? run(*command) : uncarried("the path " + input);
}

ArchiverResult ArchiverClient::extract(const std::string &archive, const std::string &folder) {
    const auto command = archiver_commands::extractCommandLine(archive, folder);
    return command ? run(*command) : uncarried("the folder " + folder);
}

ArchiverResult ArchiverClient::run(const std::string &commandLine) {
    if (!m_unlha)
        return {false, false, m_loadError};
    // One command at a time from here: while one of our own threads runs a command, the busy
    // test would report it, and we would wait for ourselves.
    std::lock_guard lock(m_mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(m_waitSeconds);
    bool noticed = false;
    // Only the low sixteen bits count; all of them set means busy.
    while ((m_running() & 0xFFFF) == 0xFFFF) {
        if (std::chrono::steady_clock::now() >= deadline)
            return {false, true,
                    "the archiver library stayed busy with another program for " +
                        std::to_string(m_waitSeconds) + " s (see --archiver-wait)"};
        if (!noticed && m_notice)
            m_notice(m_noticeContext);
        noticed = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    char output[1024] = {};
    const int result = m_unlha(nullptr, commandLine.c_str(), output, sizeof output);
    if ((result & 0xFFFF) == 0)
        return {true, false, {}, false};
    const int code = result & 0xFFFF;
    std::string message = output[0] ? output : "failed";
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04X", unsigned(code));
    return {false, false, message + " (archiver code 0x" + hex + ")",
            code == UNLHA_ERROR_WRITE || code == UNLHA_ERROR_NO_SPACE};
}

} // namespace cli
