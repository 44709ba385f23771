#include "command_line.h"

#include "platform.h"

#include <fcntl.h>

#include <sys/stat.h>

namespace unlha {

std::optional<std::vector<Word>> splitWords(const std::string &line) {
    std::vector<Word> words;
    Word current;
    bool inWord = false, inQuotes = false;
    for (const char c : line) {
        if (c == '"') {
            inQuotes = !inQuotes;
            if (!inWord)
                current.quoted = true;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (inWord)
                words.push_back(current);
            current = Word();
            inWord = false;
        } else {
            current.text += c;
            inWord = true;
        }
    }
    if (inQuotes)
        return std::nullopt;
    if (inWord)
        words.push_back(current);
    return words;
}

namespace {

bool applySwitch(const std::string &s, Command &command) {
    if (s == "-d" || s == "-d1") {
        command.storePaths = true;
        return true;
    }
    if (s == "-r" || s == "-r1" || s == "-r2") {
        command.recursion = s == "-r1" ? 1 : 2;
        return true;
    }
    if (s == "-r0") {
        command.recursion = 0;
        return true;
    }
    // "Yes to overwriting", with the optional digit some callers append.
    if (s == "-jyo" || s == "-jyo0" || s == "-jyo1") {
        command.overwrite = true;
        return true;
    }
    return false;
}

// An existing folder named after the archive is where to extract, '/' or not: taken for a
// pattern, it would match nothing.
bool isFolder(const std::string &path) {
    const auto st = statusAt(AT_FDCWD, path, true);
    return st && S_ISDIR(st->st_mode);
}

} // namespace

std::optional<Command> parseCommand(const std::string &line, std::string &error) {
    const auto words = splitWords(line);
    if (!words) {
        error = "a quote is not closed";
        return std::nullopt;
    }
    Command command;
    std::optional<std::string> letter;
    std::vector<std::string> arguments;
    for (const Word &w : *words) {
        if (!w.quoted && w.text.size() > 1 && w.text[0] == '-') {
            if (!applySwitch(w.text, command)) {
                error = "unknown switch " + w.text;
                return std::nullopt;
            }
        } else if (!letter) {
            letter = w.text;
        } else {
            arguments.push_back(w.text);
        }
    }
    if (!letter) {
        error = "no command";
        return std::nullopt;
    }
    if (*letter == "a") {
        command.action = Action::Pack;
    } else if (*letter == "e" || *letter == "x") {
        command.action = Action::Extract;
    } else {
        error = "unknown command " + *letter;
        return std::nullopt;
    }
    if (arguments.empty() || arguments[0].empty()) {
        error = "no archive named";
        return std::nullopt;
    }
    command.archive = arguments[0];
    size_t next = 1;
    if (next < arguments.size() && !arguments[next].empty() &&
        (arguments[next].back() == '/' ||
         (command.action == Action::Extract && isFolder(arguments[next]))))
        command.folder = arguments[next++];
    command.names.assign(arguments.begin() + long(next), arguments.end());
    if (command.action == Action::Pack && command.names.empty()) {
        error = "nothing named to pack";
        return std::nullopt;
    }
    if (command.action == Action::Extract && command.names.empty())
        command.names.push_back("*");
    return command;
}

} // namespace unlha
