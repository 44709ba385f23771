#include "key_input.h"

#include "display_name.h"
#include "secret.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sodium.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace cli {
namespace {

// The terminal's settings while echo is off, for the interrupt handler to put back.
struct termios g_savedTerminal;
volatile sig_atomic_t g_echoOff = 0;

extern "C" void restoreTerminalAndExit(int signal) {
    if (g_echoOff)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    const char newline = '\n';
    [[maybe_unused]] auto written = ::write(STDERR_FILENO, &newline, 1);
    ::_exit(128 + signal);
}

// One line typed at the terminal with echo off. Nothing at end of input.
TypedLine promptWithoutEcho(const char *prompt) {
    struct termios saved;
    const bool terminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    struct sigaction quit {
    }, oldInt{}, oldTerm{}, oldHup{};
    if (terminal) {
        g_savedTerminal = saved;
        quit.sa_handler = restoreTerminalAndExit;
        sigemptyset(&quit.sa_mask);
        ::sigaction(SIGINT, &quit, &oldInt);
        ::sigaction(SIGTERM, &quit, &oldTerm);
        ::sigaction(SIGHUP, &quit, &oldHup);
        struct termios quiet = saved;
        quiet.c_lflag &= tcflag_t(~(ECHO | ECHOE | ECHOK | ECHONL));
        g_echoOff = 1;
        // Echo goes off before the prompt shows, so nothing typed after it is ever echoed;
        // and nothing typed ahead is thrown away.
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    TypedLine typed;
    std::string line;
    line.reserve(kMaxKeyFile); // never reallocated: no copy is left behind unwiped
    bool gotLine = false;
    for (;;) {
        char c;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (c == '\n') {
            gotLine = true;
            break;
        }
        if (line.size() < kMaxKeyFile)
            line += c;
        else
            typed.tooLong = true;
    }
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        g_echoOff = 0;
        ::sigaction(SIGINT, &oldInt, nullptr);
        ::sigaction(SIGTERM, &oldTerm, nullptr);
        ::sigaction(SIGHUP, &oldHup, nullptr);
    }
    std::fputc('\n', stderr);
    if (typed.tooLong)
        strong::wipe(line);
    else if (gotLine || !line.empty())
        typed.text = std::move(line);
    return typed;
}

KeyResult fromText(std::string_view text, const std::string &where) {
    KeyResult r;
    r.key = keyCodeFromText(trimmed(text));
    if (!r.key)
        r.error = "the key " + where + " is not one to eight hexadecimal digits (0-9, A-F)";
    return r;
}

} // namespace

namespace {

// Opens a key file by name without blocking on what is not a file, then keeps a regular file
// or a pipe; the type is checked on what was opened, not on the name. A FIFO is waited for
// until its writer has written or gone: the user named it on purpose.
int openKeyFile(const std::string &path, std::string &error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = "cannot open the key file " + path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        error = "cannot read the key file " + path + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    if (S_ISFIFO(st.st_mode)) {
        // Read without O_NONBLOCK, a FIFO with no writer yet reads as empty: wait for one.
        pollfd wait{fd, POLLIN, 0};
        while (::poll(&wait, 1, -1) < 0 && errno == EINTR) {
        }
    }
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode)) {
        error = "the key file " + path +
                " is neither a regular file nor a pipe (a device or a socket could be read "
                "forever)";
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error = "cannot read the key file " + path + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

std::string keyFileName(const std::string &path) {
    return path == "-" ? std::string("standard input") : "the key file " + displayName(path);
}

std::optional<std::string> keyFileLine(std::string_view content, const std::string &where,
                                       std::string &error) {
    if (content.ends_with("\r\n"))
        content.remove_suffix(2);
    else if (content.ends_with('\n'))
        content.remove_suffix(1);
    // Blank lines around the one line are harmless; a second line is refused, not dropped: a
    // passphrase of several words, one per line, must not quietly become its first word.
    std::optional<std::string_view> found;
    for (size_t start = 0; start <= content.size();) {
        size_t end = content.find('\n', start);
        if (end == std::string_view::npos)
            end = content.size();
        const std::string_view line = content.substr(start, end - start);
        if (!trimmed(line).empty()) {
            if (found) {
                error = where + " holds more than one line; it must hold the key or passphrase "
                                "alone, on one line";
                return std::nullopt;
            }
            found = line;
        }
        start = end + 1;
    }
    if (!found)
        return std::string();
    std::string line(*found);
    if (line.ends_with('\r'))
        line.pop_back();
    return line;
}

std::optional<std::string> readKeyFile(const std::string &path, std::string &error) {
    const bool standardInput = path == "-";
    const int fd = standardInput ? STDIN_FILENO : openKeyFile(path, error);
    if (fd < 0)
        return std::nullopt;
    // At a terminal the line is the end; anything else is read to its end, so that a writer
    // into a pipe finishes cleanly.
    const bool terminal = ::isatty(fd);
    std::string content;
    content.reserve(kMaxKeyFile + 1024); // never reallocated, so wiped whole
    char buffer[1024];
    bool failed = false;
    for (;;) {
        if (terminal && content.find('\n') != std::string::npos)
            break;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read the key file " + path + ": " + std::strerror(errno);
            failed = true;
            break;
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<size_t>(n));
        sodium_memzero(buffer, sizeof buffer);
        if (content.size() > kMaxKeyFile) {
            error = keyFileName(path) + " is larger than " + std::to_string(kMaxKeyFile) +
                    " bytes; a key file holds one short line";
            failed = true;
            break;
        }
    }
    if (!standardInput)
        ::close(fd);
    std::optional<std::string> line;
    if (!failed)
        line = keyFileLine(content, keyFileName(path), error);
    strong::wipe(content);
    return line;
}

TypedLine promptHidden(const char *prompt) {
    return promptWithoutEcho(prompt);
}

KeyResult obtainKey(const KeySources &sources) {
    if (sources.keyFileText)
        return fromText(*sources.keyFileText, "in " + keyFileName(sources.keyFile.value_or("-")));
    if (sources.keyText) {
        KeyResult r = fromText(*sources.keyText, "given with --key");
        r.warning = "warning: a key on the command line can be read by other users of this "
                    "machine; prefer the prompt, --key-file or TOLVEX_KEY";
        return r;
    }
    if (sources.environment)
        return fromText(*sources.environment, "in TOLVEX_KEY");
    if (!sources.interactive)
        return {std::nullopt,
                "no key: standard input is not a terminal, so give --key-file FILE "
                "(or - for standard input) or set TOLVEX_KEY",
                {}};
    TypedLine typed = promptWithoutEcho("Key (1 to 8 hexadecimal digits): ");
    if (!typed.text)
        return {std::nullopt, "no key typed", {}};
    KeyResult r = fromText(*typed.text, "typed");
    strong::wipe(*typed.text);
    if (!r.key || !sources.confirm)
        return r;
    TypedLine again = promptWithoutEcho("Type the key again: ");
    const bool same = again.text && keyCodeFromText(trimmed(*again.text)) == r.key;
    if (again.text)
        strong::wipe(*again.text);
    if (!same)
        return {std::nullopt, "the keys typed differ", {}};
    return r;
}

} // namespace cli
