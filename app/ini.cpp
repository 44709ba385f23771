#include "ini.h"

#include "fd.h"
#include "folders.h"
#include "publish.h"
#include "transfers.h"
#include "user_folders.h"

#include <QFile>
#include <QList>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace ini {
namespace {

struct Line {
    QByteArray text;   // without its line ending
    QByteArray ending; // "\r\n", "\n" or "" for a last line without one
};

// A settings file is small; anything larger is not one of ours and counts as missing (rather
// than as its first 64 KiB, whose last line would be cut anywhere).
constexpr qsizetype kMaxFileSize = 64 * 1024;

using tolvex::files::Fd;

bool writeAll(int fd, const QByteArray &text) {
    return tolvex::files::writeAt(fd, 0, text.constData(), size_t(text.size()));
}

// The file's bytes when it is a regular file of at most kMaxFileSize, else nothing. Opened
// without waiting, so a FIFO in its place cannot hold the window up, and checked on the
// descriptor, so a device such as /dev/zero is never read without end.
std::optional<QByteArray> readRegularFile(const QString &file) {
    tolvex::files::OpenResult opened;
    const Fd fd =
        tolvex::files::openRegular(AT_FDCWD, QFile::encodeName(file).toStdString(), true, opened);
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_size > kMaxFileSize)
        return std::nullopt;
    // One byte more than allowed tells a file that grew since fstat.
    QByteArray all(kMaxFileSize + 1, Qt::Uninitialized);
    const int64_t got = tolvex::files::readSome(fd.get(), all.data(), size_t(all.size()));
    if (got < 0 || got > kMaxFileSize)
        return std::nullopt;
    all.truncate(qsizetype(got));
    return all;
}

// Puts text under the name whole or not at all: written to a temporary in its folder, then
// published over the name. A link in the name's place is thereby replaced itself, never written
// through to the file it points at; a regular file there lends its permissions.
enum class Replaced { Yes, No, FolderRefused };
Replaced replaceFile(const QByteArray &path, const QByteArray &text) {
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folderPath = slash < 0 ? QByteArray(".") : slash == 0 ? "/" : path.left(slash);
    const std::string name = (slash < 0 ? path : path.mid(slash + 1)).toStdString();
    const Fd folder = tolvex::files::openFolder(folderPath.toStdString());
    if (!folder.valid() || name.empty())
        return Replaced::No;
    tolvex::files::TemporaryFile temporary(folder.get(), tolvex::files::kCodecPrefix);
    if (!temporary.valid())
        return errno == EACCES || errno == EPERM || errno == EROFS ? Replaced::FolderRefused
                                                                   : Replaced::No;
    const auto old = tolvex::files::statusAt(folder.get(), name, false);
    const std::optional<mode_t> source =
        old && S_ISREG(old->st_mode) ? std::optional<mode_t>(old->st_mode) : std::nullopt;
    if (!writeAll(temporary.fd(), text))
        return Replaced::No;
    return tolvex::files::publish(temporary, name, {true, source}) == tolvex::files::Published::Done
               ? Replaced::Yes
               : Replaced::No;
}

// Where the folder allows no new file, the file itself is overwritten: only a regular file,
// never through a link, and never emptied first.
bool overwriteInPlace(const QByteArray &path, const QByteArray &text) {
    const Fd fd(
        ::open(path.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st;
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return writeAll(fd.get(), text) && ::ftruncate(fd.get(), off_t(text.size())) == 0;
}

QList<Line> readLines(const QString &file) {
    QList<Line> lines;
    const std::optional<QByteArray> content = readRegularFile(file);
    if (!content)
        return lines;
    const QByteArray &all = *content;
    qsizetype start = 0;
    while (start < all.size()) {
        qsizetype end = all.indexOf('\n', start);
        Line line;
        if (end < 0) {
            line.text = all.mid(start);
            start = all.size();
        } else {
            const bool crlf = end > start && all[end - 1] == '\r';
            line.text = all.mid(start, (crlf ? end - 1 : end) - start);
            line.ending = crlf ? "\r\n" : "\n";
            start = end + 1;
        }
        lines.append(line);
    }
    return lines;
}

// The section name of a "[name]" line, or nothing.
std::optional<QByteArray> sectionOf(const QByteArray &line) {
    const QByteArray t = line.trimmed();
    if (t.size() >= 2 && t.startsWith('[') && t.endsWith(']'))
        return t.mid(1, t.size() - 2).trimmed();
    return std::nullopt;
}

// The key of a "key=value" line (comments and other lines have none).
std::optional<QByteArray> keyOf(const QByteArray &line) {
    const QByteArray t = line.trimmed();
    if (t.isEmpty() || t.startsWith(';'))
        return std::nullopt;
    const qsizetype eq = t.indexOf('=');
    if (eq < 0)
        return std::nullopt;
    return t.left(eq).trimmed();
}

bool sameName(const QByteArray &a, const QString &b) {
    return QString::fromLatin1(a).compare(b, Qt::CaseInsensitive) == 0;
}

// Where the section's lines are: [header, end) with end one past its last line.
struct SectionSpan {
    qsizetype header = -1;
    qsizetype end = -1;
};

SectionSpan findSection(const QList<Line> &lines, const QString &section) {
    SectionSpan span;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto name = sectionOf(lines[i].text);
        if (!name)
            continue;
        if (span.header >= 0) {
            span.end = i;
            return span;
        }
        if (sameName(*name, section))
            span.header = i;
    }
    if (span.header >= 0)
        span.end = lines.size();
    return span;
}

// Folders a package manager fills; a program there is an installed copy whoever owns them.
constexpr const char *kSystemFolders[] = {"/usr",   "/opt",   "/bin",    "/sbin", "/lib",
                                          "/lib32", "/lib64", "/libx32", "/etc",  "/boot",
                                          "/var",   "/snap",  "/nix",    "/gnu",  "/app"};

} // namespace

bool PortableCopy(const userfolders::FolderFacts &folder, uid_t user) {
    if (!folder.found || folder.owner != user || !folder.writable)
        return false;
    // Judged where the folder really is, so a link to a system folder counts as that folder.
    QString path = folder.realPath.isEmpty() ? folder.path : folder.realPath;
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    if (path == u"/")
        return false;
    for (const char *system : kSystemFolders) {
        const QLatin1String prefix(system);
        if (path == prefix || (path.startsWith(prefix) && path.at(prefix.size()) == u'/'))
            return false;
    }
    return true;
}

QString ChooseSettingsFolder(const userfolders::FolderFacts &folder, uid_t user,
                             const QByteArray &configHome, const QByteArray &home) {
    if (PortableCopy(folder, user))
        return folder.path;
    const QByteArray settings = userfolders::baseFolder(configHome, home, ".config") + "/tolvex";
    userfolders::makePrivateFolders(settings);
    return QFile::decodeName(settings);
}

QString ChooseSettingsFolder(const QString &programFolder, const QByteArray &configHome,
                             const QByteArray &home) {
    return ChooseSettingsFolder(userfolders::readFolderFacts(programFolder), ::geteuid(),
                                configHome, home);
}

QString SettingsFolder(const QString &programFolder) {
    static std::mutex lock;
    static std::map<QString, QString> decided;
    const std::lock_guard hold(lock);
    if (const auto it = decided.find(programFolder); it != decided.end())
        return it->second;
    const QString folder =
        ChooseSettingsFolder(programFolder, qgetenv("XDG_CONFIG_HOME"), qgetenv("HOME"));
    decided.emplace(programFolder, folder);
    return folder;
}

QString IniPath(const QString &programFolder) {
    return programFolder.endsWith(u'/') ? programFolder : programFolder + u'/';
}

int WriteIni(const QString &file, const QString &section, const QString &key,
             const QString &value) {
    // A file marked read-only stays as it is, even for a user whom the system would let write.
    const QByteArray path = QFile::encodeName(file);
    struct stat st;
    if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR))
        return 0;
    QList<Line> lines = readLines(file);
    const QByteArray entry = key.toLatin1() + '=' + value.toLatin1();
    const SectionSpan span = findSection(lines, section);
    bool written = false;
    if (span.header >= 0) {
        qsizetype lastContent = span.header;
        for (qsizetype i = span.header + 1; i < span.end; ++i) {
            if (!lines[i].text.trimmed().isEmpty())
                lastContent = i;
            const auto k = keyOf(lines[i].text);
            if (k && sameName(*k, key)) {
                lines[i].text = entry;
                written = true;
                break;
            }
        }
        if (!written) {
            if (lines[lastContent].ending.isEmpty())
                lines[lastContent].ending = "\r\n";
            lines.insert(lastContent + 1, {entry, "\r\n"});
        }
    } else {
        if (!lines.isEmpty() && lines.last().ending.isEmpty())
            lines.last().ending = "\r\n";
        lines.append({'[' + section.toLatin1() + ']', "\r\n"});
        lines.append({entry, "\r\n"});
    }

    QByteArray text;
    for (const Line &line : lines)
        text += line.text + line.ending;
    switch (replaceFile(path, text)) {
    case Replaced::Yes:
        return 1;
    case Replaced::FolderRefused:
        return overwriteInPlace(path, text) ? 1 : 0;
    case Replaced::No:
        break;
    }
    return 0;
}

QString ReadIni(const QString &file, const QString &section, const QString &key) {
    const QList<Line> lines = readLines(file);
    const SectionSpan span = findSection(lines, section);
    if (span.header < 0)
        return {};
    for (qsizetype i = span.header + 1; i < span.end; ++i) {
        const auto k = keyOf(lines[i].text);
        if (k && sameName(*k, key)) {
            const QByteArray t = lines[i].text.trimmed();
            return QString::fromLatin1(t.mid(t.indexOf('=') + 1).trimmed().left(254));
        }
    }
    return {};
}

} // namespace ini
