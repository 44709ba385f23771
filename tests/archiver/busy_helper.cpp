// A second process for the busy-state tests.
//   busy_helper LOCKFILE hold            takes the busy lock, prints "held", waits for stdin to
//   close busy_helper LOCKFILE run COMMANDLINE runs one command under the lock, as Unlha does
#include "busy_lock.h"
#include "command_line.h"
#include "commands.h"

#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 3)
        return 2;
    const std::string lockPath = argv[1];
    const std::string what = argv[2];
    if (what == "hold") {
        unlha::BusyLock lock(lockPath);
        std::puts("held");
        std::fflush(stdout);
        char c;
        while (::read(0, &c, 1) > 0) {
        }
        return 0;
    }
    if (what == "run" && argc == 4) {
        std::string message;
        const auto command = unlha::parseCommand(argv[3], message);
        if (!command)
            return 3;
        unlha::BusyLock lock(lockPath);
        const int result = command->action == unlha::Action::Pack
                               ? unlha::packArchive(*command, message)
                               : unlha::extractArchive(*command, message);
        return result == 0 ? 0 : 1;
    }
    return 2;
}
