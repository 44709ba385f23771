// The settings file, read and written one key at a time with the semantics of the Windows
// profile functions: writing a key rewrites that one line (adding the key, the section or the
// file when missing) and leaves every other line as it was; section and key names match without
// regard to case; a missing file, section or key reads as the empty text.
#pragma once

#include <QString>

namespace ini {

// The folder that holds the settings file, with exactly one trailing separator.
QString IniPath(const QString &programFolder);

// Writes key=value into the section of the file. Non-zero on success, 0 when the file cannot be
// written (read-only file or folder); a failed write changes nothing.
int WriteIni(const QString &file, const QString &section, const QString &key, const QString &value);

// The key's value with surrounding blanks removed, at most 254 characters; empty when missing.
QString ReadIni(const QString &file, const QString &section, const QString &key);

} // namespace ini
