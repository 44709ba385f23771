// The settings file, read and written one key at a time with the semantics of the Windows
// profile functions: writing a key rewrites that one line (adding the key, the section or the
// file when missing) and leaves every other line as it was; section and key names match without
// regard to case; a missing file, section or key reads as the empty text. Only a regular file
// of at most 64 KiB is read (a FIFO, a device or anything larger counts as missing), and a
// write replaces the name itself, so a link there is replaced, never written through.
#pragma once

#include "user_folders.h"

#include <QString>
#include <sys/types.h>

namespace ini {

// The folder that holds the settings file, with exactly one trailing separator.
QString IniPath(const QString &programFolder);

// Where the settings file of the program in programFolder lives: that folder itself for a
// portable copy (see PortableCopy), else the per-user folder $XDG_CONFIG_HOME/tolvex (default
// ~/.config/tolvex), created with mode 0700 when missing, so nothing is ever written into an
// installed copy's folder. Decided at the first call for a folder and kept for the rest of the
// run, so reading and writing always meet in one file even when the folder's permissions
// change meanwhile.
QString SettingsFolder(const QString &programFolder);

// Whether the program's folder, as examined, holds a portable copy for the given user: the
// folder belongs to that user, the user may create files in it, and it lies outside the
// system's own folders (/usr, /opt, /bin, /sbin, /lib, /lib32, /lib64, /libx32, /etc, /boot,
// /var, /snap, /nix, /gnu, /app, and / itself), judged where the folder really is. Ownership
// tells an installed copy for everyone but root, since a package's folder belongs to root;
// root owns its portable copies too, so for root the system folders alone make the difference,
// and they hold for everyone, so a user who owns /usr/local still writes nothing there.
bool PortableCopy(const userfolders::FolderFacts &folder, uid_t user);

// The decision itself for the given folder and user, with the environment values given (empty
// when unset).
QString ChooseSettingsFolder(const userfolders::FolderFacts &folder, uid_t user,
                             const QByteArray &configHome, const QByteArray &home);
// The same for the folder as it is now and the user this process runs as.
QString ChooseSettingsFolder(const QString &programFolder, const QByteArray &configHome,
                             const QByteArray &home);

// Writes key=value into the section of the file. Non-zero on success, 0 when the file cannot be
// written (read-only file or folder); a failed write changes nothing.
int WriteIni(const QString &file, const QString &section, const QString &key, const QString &value);

// The key's value with surrounding blanks removed, at most 254 characters; empty when missing.
QString ReadIni(const QString &file, const QString &section, const QString &key);

} // namespace ini
