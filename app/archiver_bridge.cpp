// The bridge to the archiver library: waiting until it is free, packing and extracting.
#include "form1.h"
#include "rules.h"
#include "texts.h"

#include <QFileInfo>

bool Form1::WaitUnlhaFree() {
    for (;;) {
        // Only the low sixteen bits count; all of them set means busy.
        const int32_t running = libraries().UnlhaGetRunning().value_or(0);
        if ((running & 0xFFFF) != 0xFFFF)
            return true;
        if (ShowMessage(texts::kArchiverBusy, rules::kOkCancel | rules::kIconInformation,
                        texts::kRunError) == rules::kAnswerCancel)
            return false;
    }
}

int16_t Form1::PackLzh(const QString &input, const QString &archive) {
    // Hidden files are packed like any other: the user chose them.
    const QFileInfo info(input);
    if (!info.exists()) {
        ShowMessage(texts::kFileNotFound, rules::kIconExclamation, texts::kFileError);
        return -1;
    }
    // A name the command line cannot carry would be split into other names: nothing runs.
    const auto command = rules::packCommandLine(archive, input);
    if (!command)
        return -1;
    return int16_t(libraries().Unlha(*command).value_or(-1));
}

int16_t Form1::UnpackLzh(const QString &archive) {
    const auto command = rules::extractCommandLine(archive);
    if (!command)
        return -1;
    return int16_t(libraries().Unlha(*command).value_or(-1));
}
