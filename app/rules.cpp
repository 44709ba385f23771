#include "rules.h"

#include "archiver_commands.h"
#include "key_code.h"
#include "naming.h"
#include "texts.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <limits>

namespace rules {
namespace {

int64_t clampToInt32(int64_t v) {
    return std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                               std::numeric_limits<int32_t>::max());
}

} // namespace

std::optional<int32_t> keyCodeFromText(const QString &text) {
    // Anything outside Latin-1 is no key digit; within it, the bytes are the characters.
    for (QChar c : text)
        if (!tolvex::isKeyDigit(c.unicode()))
            return std::nullopt;
    const auto code = tolvex::keyCodeFromText(text.toLatin1().toStdString());
    if (!code)
        return std::nullopt;
    return int32_t(*code);
}

bool keyCharacterPasses(char16_t c) {
    return tolvex::isKeyDigit(c) || c == 8;
}

QString keepKeyCharacters(const QString &text) {
    QString kept;
    for (QChar c : text)
        if (tolvex::isKeyDigit(c.unicode()) && size_t(kept.size()) < tolvex::kMaxKeyDigits)
            kept += c;
    return kept;
}

texts::Text busyCaption(Mode mode) {
    return mode == Mode::Encrypt ? texts::kEncryptingCaption : texts::kDecryptingCaption;
}

QString formatElapsed(double seconds) {
    if (seconds < 0)
        seconds += 86400;
    return QString::number(seconds, 'f', 2);
}

texts::Text finishText(double seconds) {
    return texts::kFinished.arg(formatElapsed(seconds));
}

std::optional<Message> resultMessage(const JobResult &result, Mode mode, double seconds) {
    const int error = kOk | kIconExclamation;
    using tolvex::Result;
    if (const auto *own = std::get_if<WindowResult>(&result)) {
        if (*own == WindowResult::WrongPassphrase)
            return Message{texts::kWrongPassphrase, error, texts::kError};
        if (*own == WindowResult::NotOpened)
            return Message{texts::kNotOursOrPassphrase, error, texts::kError};
        return std::nullopt;
    }
    switch (std::get<Result>(result)) {
    case Result::OutputExists:
        return Message{texts::kOverwrite, kOkCancel | kIconQuestion, texts::kError};
    case Result::SourceMissing:
        return Message{texts::kSourceMissing, error, texts::kError};
    case Result::CannotOpen:
        return Message{texts::kCannotCreate, error, texts::kError};
    case Result::BadMode:
        return Message{texts::kBadMode, error, texts::kError};
    case Result::WrongKey:
        return Message{texts::kWrongKey, error, texts::kError};
    case Result::TemplateMissing:
        return Message{texts::kTemplateMissing, error, texts::kError};
    case Result::SameFile:
        return Message{texts::kSameFile, error, texts::kError};
    case Result::Damaged:
        return Message{texts::kFinishedBad.arg(formatElapsed(seconds)), error, texts::kReport};
    case Result::Done:
        if (mode == Mode::Encrypt)
            return Message{finishText(seconds), kIconInformation, texts::kReport};
        return Message{texts::kFinishedGood.arg(formatElapsed(seconds)), kIconInformation,
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

texts::Text inputLabel(bool withFolderClause) {
    return withFolderClause ? texts::kInputLabelWithFolders : texts::kInputLabel;
}

texts::Text outputLabel(Mode mode) {
    return mode == Mode::Encrypt ? texts::kEncryptedOutputLabel : texts::kDecryptedOutputLabel;
}

SplitPath splitPath(const QString &path) {
    const auto split = tolvex::splitPath(QFile::encodeName(path).toStdString());
    return {QFile::decodeName(QByteArray::fromStdString(split.folder)),
            QFile::decodeName(QByteArray::fromStdString(split.name))};
}

namespace {

std::optional<QString> asText(const std::optional<std::string> &commandLine) {
    if (!commandLine)
        return std::nullopt;
    return QFile::decodeName(QByteArray::fromStdString(*commandLine));
}

std::string bytes(const QString &path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

std::optional<QString> packCommandLine(const QString &archive, const QString &input) {
    return asText(archiver_commands::packCommandLine(bytes(archive), bytes(input)));
}

std::optional<QString> extractCommandLine(const QString &archive, const QString &folder) {
    return asText(archiver_commands::extractCommandLine(bytes(archive), bytes(folder)));
}

} // namespace rules
