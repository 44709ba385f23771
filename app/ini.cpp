#include "ini.h"

#include "user_folders.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>
#include <map>
#include <mutex>
#include <optional>

namespace ini {
namespace {

struct Line {
    QByteArray text;   // without its line ending
    QByteArray ending; // "\r\n", "\n" or "" for a last line without one
};

QList<Line> readLines(const QString &file) {
    QList<Line> lines;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return lines;
    const QByteArray all = in.readAll();
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

} // namespace

QString ChooseSettingsFolder(const QString &programFolder, const QByteArray &configHome,
                             const QByteArray &home) {
    if (userfolders::writableFolder(programFolder))
        return programFolder;
    const QByteArray folder = userfolders::baseFolder(configHome, home, ".config") + "/tolvex";
    userfolders::makePrivateFolders(folder);
    return QFile::decodeName(folder);
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
    const QFileInfo info(file);
    if (info.exists() && !(info.permissions() & QFile::WriteOwner))
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

    // Replaced whole or not at all; where the folder allows no new file, written in place.
    QSaveFile out(file);
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return 0;
    for (const Line &line : lines)
        out.write(line.text + line.ending);
    return out.commit() ? 1 : 0;
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
