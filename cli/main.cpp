// tolvex-cli: the engine of the window for terminals and scripts.
#include "commands.h"
#include "exit_codes.h"
#include "options.h"

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    using namespace cli;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const ParseResult parsed = parseCommandLine(arguments);
    if (!parsed.options)
        return exitWith(kExitUsage, parsed.error);
    try {
        return runCommand(*parsed.options);
    } catch (const std::bad_alloc &) {
        return exitWith(kExitInternal, "out of memory");
    } catch (const std::exception &e) {
        return exitWith(kExitInternal, std::string("unexpected failure: ") + e.what());
    }
}
