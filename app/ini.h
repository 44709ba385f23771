// The settings file, read and written one key at a time with the semantics of the Windows
// profile functions: writing a key rewrites that one line (adding the key, the section or the
// file when missing) and leaves every other line as it was; section and key names match without
// regard to case; a missing file, section or key reads as the empty text. Only a regular file
// of at most 64 KiB is read (a FIFO, a device or anything larger counts as missing), and a
// write replaces the name itself, so a link there is replaced, never written through.
#pragma once

#include <QString>

namespace ini {

// The folder that holds the settings file, with exactly one trailing separator.
QString IniPath(const QString &programFolder);

// Where the settings file of the program in programFolder lives: that folder itself when this
// user may create files in it (a portable copy keeps its settings with it), else the per-user
// folder $XDG_CONFIG_HOME/tolvex (default ~/.config/tolvex), created with mode 0700 when
// missing. Decided at the first call for a folder and kept for the rest of the run, so reading
// and writing always meet in one file even when the folder's permissions change meanwhile.
QString SettingsFolder(const QString &programFolder);

// The decision itself, made afresh from the given environment values (empty when unset).
QString ChooseSettingsFolder(const QString &programFolder, const QByteArray &configHome,
                             const QByteArray &home);

// Writes key=value into the section of the file. Non-zero on success, 0 when the file cannot be
// written (read-only file or folder); a failed write changes nothing.
int WriteIni(const QString &file, const QString &section, const QString &key, const QString &value);

// The key's value with surrounding blanks removed, at most 254 characters; empty when missing.
QString ReadIni(const QString &file, const QString &section, const QString &key);

} // namespace ini
