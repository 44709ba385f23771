// The window's rules as plain functions: key-code conversion, captions, the finish text and
// result messages, the buffer size, the input filter and labels, path splitting and the
// archiver's command lines. The window's handlers call these; tests call them directly.
#pragma once

#include "results.h"
#include "texts.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <variant>

namespace rules {

// Message-box styles (button set plus icon) and answers, as the platform's message box has them.
enum Style : int {
    kOk = 0,
    kOkCancel = 1,
    kYesNo = 4,
    kIconStop = 16,
    kIconQuestion = 32,
    kIconExclamation = 48,
    kIconInformation = 64,
};
enum Answer : int { kAnswerOk = 1, kAnswerCancel = 2, kAnswerYes = 6, kAnswerNo = 7 };

// How a job ends where the engine's results have no word for it.
enum class WindowResult {
    StoppedSilently, // nothing to report: the user cancelled, or was already told why
    WrongPassphrase, // a strong file that did not open: the wrong passphrase, or a damaged file
                     // (which cannot be told apart)
    NotOpened,       // neither a classic file nor one the passphrase opens: which, none can tell
};
// A job's result: the engine's, or one of the window's own.
using JobResult = std::variant<tolvex::Result, WindowResult>;

// What START does: the two mode buttons.
enum class Mode { Encrypt, Decrypt };

// The key text (hexadecimal, at most eight digits, either case) as the key code: values 8000
// to FFFF widen with their sign, everything else passes as its bit pattern. Nothing for an
// empty text or one that is not hexadecimal.
std::optional<int32_t> keyCodeFromText(const QString &text);

// Whether a typed character may enter the key box: hexadecimal digits and backspace.
bool keyCharacterPasses(char16_t c);
// Pasted text held to the same alphabet (and to eight characters).
QString keepKeyCharacters(const QString &text);

texts::Text busyCaption(Mode mode);

// Elapsed seconds as "###0.00"; a negative time (the job ran past midnight) gains a day.
QString formatElapsed(double seconds);
texts::Text finishText(double seconds);

struct Message {
    texts::Text text;
    int style;
    texts::Text title;
};
// The report for a job's result, or nothing for the silent stop and results without one.
std::optional<Message> resultMessage(const JobResult &result, Mode mode, double seconds);

// The engine's staging buffer: the file's length, but at most a tenth of the available
// memory (rounded half to even). Both figures are held to the signed 32-bit range first.
int32_t bufferSizeFor(int64_t availableMemory, int64_t fileLength);

texts::Text inputLabel(bool withFolderClause);
texts::Text outputLabel(Mode mode);

// A path's last element and the folder part before it, separator included.
struct SplitPath {
    QString folder;
    QString name;
};
SplitPath splitPath(const QString &path);

// The archiver's command lines (built by the shared archiver_commands); nothing for a path
// the quoted command line cannot carry.
std::optional<QString> packCommandLine(const QString &archive, const QString &input);
// Extracts everything in `archive` into `folder`.
std::optional<QString> extractCommandLine(const QString &archive, const QString &folder);

} // namespace rules
