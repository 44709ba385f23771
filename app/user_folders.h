// Places the program writes to besides the user's own outputs. A portable copy keeps them in
// its own folder, as designed; an installed copy, whose folder belongs to the system, uses the
// user's folders under the XDG base directory rules instead.
#pragma once

#include <QByteArray>
#include <QString>

namespace userfolders {

// True when this process may create and rename files in the folder.
bool writableFolder(const QString &folder);

// mkdir -p whose new folders are private (0700); the umask still applies on top.
void makePrivateFolders(const QByteArray &path);

// The user's base folder of one kind: the variable's value when it is an absolute path (a
// relative one is invalid and ignored), else home + fallback (".config", ".cache").
QByteArray baseFolder(const QByteArray &variable, const QByteArray &home, const char *fallback);

} // namespace userfolders
