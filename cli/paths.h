// Path pieces the command line needs: the program's folder, the template file, names.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// The folder holding the running program (from /proc/self/exe); empty when unknown.
std::string programFolder();

// Tolvex.dat beside the program, else in the working directory (as an absolute path);
// empty when neither exists.
std::string findTemplate(const std::string &programFolder);

// The path without trailing slashes ("/" stays "/").
std::string withoutTrailingSlashes(std::string path);
// The last component ("photos" for "a/photos/"), and the folder before it ("." when none).
std::string baseName(const std::string &path);
std::string folderName(const std::string &path);

// A name without its extension; a name that is only an extension (".profile") stays whole.
std::string stem(const std::string &name);

} // namespace cli
