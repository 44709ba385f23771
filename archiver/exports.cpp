// The library's three exports: a command runs under the machine-wide busy lock, and nothing
// thrown inside gets past them.
#include "busy_lock.h"
#include "command_line.h"
#include "commands.h"
#include "unlha32.h"

#include <cstring>
#include <new>

namespace {

constexpr int kVersion = 100; // 1.00

void report(char *output, unsigned long size, const std::string &message) {
    if (!output || size == 0)
        return;
    const size_t n = std::min<size_t>(message.size(), static_cast<size_t>(size - 1));
    std::memcpy(output, message.data(), n);
    output[n] = '\0';
}

} // namespace

extern "C" UNLHA_EXPORT int UNLHA_CALL Unlha(void *, const char *commandLine, char *output,
                                             unsigned long outputSize) {
    std::string message;
    int result = UNLHA_ERROR_INTERNAL;
    try {
        if (!commandLine) {
            message = "no command line";
            result = UNLHA_ERROR_COMMAND;
        } else if (auto command = unlha::parseCommand(commandLine, message); !command) {
            result = UNLHA_ERROR_COMMAND;
        } else {
            unlha::BusyLock busy;
            result = command->action == unlha::Action::Pack
                         ? unlha::packArchive(*command, message)
                         : unlha::extractArchive(*command, message);
        }
    } catch (const std::bad_alloc &) {
        message = "out of memory";
        result = UNLHA_ERROR_INTERNAL;
    } catch (...) {
        message = "unexpected failure";
        result = UNLHA_ERROR_INTERNAL;
    }
    try {
        report(output, outputSize, message);
    } catch (...) {
    }
    return result;
}

extern "C" UNLHA_EXPORT int UNLHA_CALL UnlhaGetRunning(void) {
    try {
        return unlha::machineIsBusy() ? -1 : 0;
    } catch (...) {
        return 0; // the lock could not even be looked for: nothing is known to hold it
    }
}

extern "C" UNLHA_EXPORT int UNLHA_CALL UnlhaGetVersion(void) {
    return kVersion;
}
