// The START button: checks, the job with the window hidden, the report, the overwrite rerun.
#include "form1.h"
#include "platform.h"
#include "results.h"
#include "rules.h"
#include "texts.h"

#include <QCheckBox>
#include <chrono>

namespace {

// Seconds on a clock that never jumps, so an elapsed time is never negative.
double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The engine's modes: the first run never replaces an output, the rerun after the user's OK does.
enum EngineMode : int { kEncode = 0, kDecode = 1, kEncodeReplacing = 2, kDecodeReplacing = 3 };

} // namespace

int Form1::runJob(const QString &input, const QString &outputBase, int32_t keyCode, int mode,
                  int16_t kind) {
    return m_mode == rules::Mode::Encrypt ? EncryptFile(input, outputBase, keyCode, mode, kind)
                                          : DecryptFile(input, outputBase, keyCode, mode, kind);
}

void Form1::StartCommand() {
    if (Text3->text().isEmpty()) {
        ShowMessage(texts::kNoKey, rules::kIconExclamation, texts::kError);
        return;
    }
    if (Text1->text().isEmpty() || Text4->text().isEmpty()) {
        ShowMessage(texts::kNoFileName, rules::kIconExclamation, texts::kError);
        return;
    }
    if (Text2->text().isEmpty()) {
        ShowMessage(texts::kNoOutputName, rules::kIconExclamation, texts::kError);
        return;
    }
    QString input = Text1->text();
    const QString outputBase = Text4->text();
    // The key box holds only hexadecimal digits; anything else reads as nothing typed.
    const auto keyCode = rules::keyCodeFromText(Text3->text());
    if (!keyCode) {
        ShowMessage(texts::kNoKey, rules::kIconExclamation, texts::kError);
        return;
    }
    const auto kind = int16_t(selectedKind());
    const bool encrypting = m_mode == rules::Mode::Encrypt;

    setWindowTitle(rules::busyCaption(m_mode));
    hide();
    double started = monotonicSeconds();
    int result = runJob(input, outputBase, *keyCode, encrypting ? kEncode : kDecode, kind);
    LastAnswer = result;
    while (result != rules::kSilentStop) {
        const double elapsed = monotonicSeconds() - started;
        const auto message = rules::resultMessage(result, m_mode, elapsed);
        if (!message)
            break;
        const int answer = ShowMessage(message->text, message->style, message->title);
        if (tolvex::resultOf(result) != tolvex::Result::OutputExists || answer != rules::kAnswerOk)
            break;
        // Overwrite: the same job again in the replacing mode, timed on its own.
        hide();
        input = Text1->text();
        started = monotonicSeconds();
        result = runJob(input, outputBase, *keyCode,
                        encrypting ? kEncodeReplacing : kDecodeReplacing, kind);
        LastAnswer = result;
    }
    finishStart();
}

void Form1::finishStart() {
    show();
    if (Check1->isChecked())
        platform::putOnTop(this);
    setWindowTitle(texts::kIdleCaption);
}
