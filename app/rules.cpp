#include "rules.h"

#include "archiver_commands.h"
#include "texts.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <limits>

namespace rules {
namespace {

constexpr QChar kSeparator = u'/';

bool isHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

int64_t clampToInt32(int64_t v) {
    return std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                               std::numeric_limits<int32_t>::max());
}

} // namespace

std::optional<int32_t> keyCodeFromText(const QString &text) {
    if (text.isEmpty() || text.size() > 8)
        return std::nullopt;
    uint32_t v = 0;
    for (QChar c : text) {
        if (!isHexDigit(c.unicode()))
            return std::nullopt;
        v = v << 4 | uint32_t(QString(c).toUInt(nullptr, 16));
    }
    // A value that fits sixteen bits is read as a signed 16-bit number and widened.
    if (v >= 0x8000 && v <= 0xFFFF)
        v |= 0xFFFF0000u;
    return int32_t(v);
}

bool keyCharacterPasses(char16_t c) { return isHexDigit(c) || c == 8; }

QString keepKeyCharacters(const QString &text) {
    QString kept;
    for (QChar c : text)
        if (isHexDigit(c.unicode()) && kept.size() < 8)
            kept += c;
    return kept;
}

QString modeName(Mode mode) { return mode == Mode::Encrypt ? texts::kEncrypt : texts::kDecrypt; }

QString busyCaption(Mode mode) {
    return texts::kIdleCaption + QStringLiteral("  <") + modeName(mode) + QStringLiteral("中>");
}

QString formatElapsed(double seconds) {
    if (seconds < 0)
        seconds += 86400;
    return QString::number(seconds, 'f', 2);
}

QString finishText(double seconds) {
    return texts::kFinished + texts::CR + texts::kTimeTaken + formatElapsed(seconds) +
           texts::kSeconds;
}

std::optional<Message> resultMessage(int result, Mode mode, double seconds) {
    const int error = kOk | kIconExclamation;
    switch (result) {
    case 1:
        return Message{texts::kOverwrite, kOkCancel | kIconQuestion, texts::kError};
    case -1:
        return Message{texts::kSourceMissing, error, texts::kError};
    case -2:
        return Message{texts::kCannotCreate, error, texts::kError};
    case -3:
        return Message{texts::kBadMode, error, texts::kError};
    case -4:
        return Message{texts::kWrongKey, error, texts::kError};
    case -5:
        return Message{texts::kTemplateMissing, error, texts::kError};
    case -6:
        return Message{texts::kSameFile, error, texts::kError};
    case 2:
        return Message{finishText(seconds) + texts::CR + texts::kCheckBad, error, texts::kReport};
    case 0:
        if (mode == Mode::Encrypt)
            return Message{finishText(seconds), kIconInformation, texts::kReport};
        return Message{finishText(seconds) + texts::CR + texts::kCheckGood, kIconInformation,
                       texts::kReport};
    default:
        return std::nullopt;
    }
}

int32_t bufferSizeFor(int64_t availableMemory, int64_t fileLength) {
    // nearbyint rounds in the default mode: to nearest, a half to the even neighbour.
    const auto tenth = int64_t(std::nearbyint(double(clampToInt32(availableMemory)) / 10.0));
    return int32_t(std::min(clampToInt32(fileLength), tenth));
}

QString inputLabel(bool withFolderClause) {
    return QStringLiteral("↓に変換するファイル") + (withFolderClause ? texts::kFolderClause : QString()) +
           QStringLiteral("を入れてください");
}

QString outputLabel(Mode mode) {
    return QStringLiteral("↓として") + modeName(mode) + QStringLiteral("したファイルを保存します");
}

SplitPath splitPath(const QString &path) {
    const qsizetype cut = path.lastIndexOf(kSeparator) + 1;
    return {path.left(cut), path.mid(cut)};
}

QString temporaryFolder(const QString &currentFolder) {
    return currentFolder + kSeparator + QStringLiteral("temp");
}

QString temporaryArchive(const QString &currentFolder) {
    return temporaryFolder(currentFolder) + kSeparator + QStringLiteral("temp.lzh");
}

namespace {

std::optional<QString> asText(const std::optional<std::string> &commandLine) {
    if (!commandLine)
        return std::nullopt;
    return QFile::decodeName(QByteArray::fromStdString(*commandLine));
}

std::string bytes(const QString &path) { return QFile::encodeName(path).toStdString(); }

} // namespace

std::optional<QString> packCommandLine(const QString &archive, const QString &input) {
    return asText(archiver_commands::packCommandLine(bytes(archive), bytes(input)));
}

std::optional<QString> extractCommandLine(const QString &archive) {
    return asText(
        archiver_commands::extractCommandLine(bytes(archive), bytes(splitPath(archive).folder)));
}

} // namespace rules
