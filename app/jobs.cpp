// The encryption and decryption jobs and the buffer-size rule they share.
#include "form1.h"
#include "private_folder.h"
#include "rules.h"
#include "texts.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>

namespace {

// The codec library could not be bound although start-up found it: say so, as start-up would.
int codecMissing(Form1 &form) {
    const QString name = QFileInfo(form.libraries().codecFile()).fileName();
    form.ShowMessage(texts::missingFile(name), rules::kIconStop, name);
    return rules::kSilentStop;
}

} // namespace

int32_t Form1::GetBufferSize(const QString &path) {
    const int64_t available = libraries().GetMemDat(2).value_or(0);
    const QFileInfo file(path);
    // A missing file is no failure here: the engine answers for it before it uses the size.
    const int64_t length = file.isFile() ? file.size() : 0;
    return rules::bufferSizeFor(available, length);
}

int Form1::EncryptFile(const QString &input, const QString &outputBase, int32_t keyCode, int mode,
                       int16_t kind) {
    const bool compress = lzh_ch->isChecked();
    QString source = input;
    // The archive holds the plaintext: it is made in a fresh folder of this job inside the
    // user's private folder, never beside the output, and goes with the folder at any return.
    std::optional<privatefolder::JobFolder> job;
    if (compress) {
        if (!WaitUnlhaFree())
            return rules::kSilentStop;
        job = privatefolder::JobFolder::make();
        if (!job || PackLzh(input, job->archive()) != 0) {
            ShowMessage(texts::kPackFailed, rules::kIconExclamation, texts::kError);
            return rules::kSilentStop;
        }
        source = job->archive();
        if (!QFileInfo::exists(source)) {
            ShowMessage(texts::kNoArchive, rules::kIconExclamation, texts::kError);
            return rules::kSilentStop;
        }
    }
    const int32_t bufferSize = GetBufferSize(source);
    const auto result = libraries().MakeCode(source, outputBase, keyCode, mode, kind, bufferSize);
    job.reset();
    if (!result)
        return codecMissing(*this);
    LastAnswer = *result;
    return *result;
}

int Form1::DecryptFile(const QString &input, const QString &outputBase, int32_t keyCode, int mode,
                       int16_t /*kind: the engine recognises the disguise itself*/) {
    const int32_t bufferSize = GetBufferSize(input);
    const auto result = libraries().MakeCode(input, outputBase, keyCode, mode, 0, bufferSize);
    if (!result)
        return codecMissing(*this);
    LastAnswer = *result;
    const QString lzh = outputBase + QStringLiteral(".lzh");
    if (*result != 0 || !QFileInfo(lzh).isFile())
        return *result;

    if (libraries().FindLzh().value_or(0) == 0) {
        ShowMessage(texts::kLzhWithoutArchiver, rules::kIconExclamation, texts::kCannotProcessLzh);
        return rules::kSilentStop;
    }
    if (ShowMessage(texts::kOfferExtract, rules::kYesNo | rules::kIconQuestion, texts::kConfirm) ==
        rules::kAnswerNo)
        return rules::kSilentStop;
    if (!WaitUnlhaFree())
        return rules::kSilentStop;
    if (UnpackLzh(lzh) != 0) {
        ShowMessage(texts::kExtractFailed, rules::kIconExclamation, texts::kError);
        return rules::kSilentStop;
    }
    if (ShowMessage(texts::kOfferDelete, rules::kYesNo | rules::kIconQuestion, texts::kConfirm) ==
        rules::kAnswerYes)
        QFile::remove(lzh);
    return rules::kSilentStop;
}
