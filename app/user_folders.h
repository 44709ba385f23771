// Places the program writes to besides the user's own outputs. A portable copy keeps them in
// its own folder, so it carries everything with it; an installed copy, whose folder belongs to
// the system, uses the user's folders under the XDG base directory rules instead.
#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

namespace userfolders {

// What the choice of a settings folder needs to know of a folder, all read through one
// descriptor, so the answers belong to one and the same folder.
struct FolderFacts {
    QString path;          // as given
    QString realPath;      // where the folder really is, links resolved; empty when unknown
    bool found = false;    // a folder was there to open
    uid_t owner = 0;       // its owner, when found
    bool writable = false; // this process may create and rename files in it
};

// The facts of the folder (the root folder for an empty name).
FolderFacts readFolderFacts(const QString &folder);

// mkdir -p whose new folders are private (0700); the umask still applies on top.
void makePrivateFolders(const QByteArray &path);

// The user's base folder of one kind: the variable's value when it is an absolute path (a
// relative one is invalid and ignored), else home + fallback (".config", ".cache").
QByteArray baseFolder(const QByteArray &variable, const QByteArray &home, const char *fallback);

} // namespace userfolders
