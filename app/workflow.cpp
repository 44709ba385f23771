#include "workflow.h"

#include "ini.h"
#include "private_folder.h"
#include "results.h"

#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <cmath>

namespace {

// Seconds on a clock that never jumps, so an elapsed time is never negative.
double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The engine's modes: the first run never replaces an output, the rerun after the user's OK does.
enum EngineMode : int { kEncode = 0, kDecode = 1, kEncodeReplacing = 2, kDecodeReplacing = 3 };

// A setting as a number; nothing when the text is empty or no number (a hand-edited file).
std::optional<double> number(const QString &text) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

// A check box's saved value: outside 0 to 1 counts as 1.
std::optional<bool> checkValue(const QString &text) {
    const auto v = number(text);
    if (!v)
        return std::nullopt;
    if (*v < 0 || *v > 1)
        return true;
    return std::nearbyint(*v) == 1;
}

} // namespace

Workflow::Workflow(WorkflowView &view, std::shared_ptr<MessagePresenter> presenter,
                   Libraries &libraries)
    : m_view(view), m_presenter(std::move(presenter)), m_libraries(libraries) {}

int Workflow::ShowMessage(const texts::Text &prompt, int style, const texts::Text &title) {
    QWidget *parent = m_view.beforeMessage();
    const int answer = m_presenter->present(parent, prompt, style, title);
    m_lastAnswer = answer;
    m_view.afterMessage();
    return answer;
}

std::optional<bool> Workflow::CheckLibraries(const QString &workingFolder) {
    // Both files are looked for where the engine will open them: the working directory.
    for (const QString &name : {texts::kCodecLibraryFile, texts::kTemplateFile}) {
        if (!QFileInfo(workingFolder + u'/' + name).isFile()) {
            ShowMessage(texts::missingFile(name), rules::kIconStop, texts::Text::verbatim(name));
            return std::nullopt;
        }
    }
    // The first call into the codec library: one that is there but cannot be loaded (damaged,
    // made for another system) is as good as missing, and is said so now rather than at START.
    const auto archiverVersion = m_libraries.FindLzh();
    if (!archiverVersion) {
        ShowMessage(texts::missingFile(texts::kCodecLibraryFile), rules::kIconStop,
                    texts::Text::verbatim(texts::kCodecLibraryFile));
        return std::nullopt;
    }
    return *archiverVersion != 0;
}

int Workflow::runJob(const StartRequest &request, int32_t keyCode, bool replacing) {
    if (request.mode == rules::Mode::Encrypt)
        return EncryptFile(request.input, request.outputBase, keyCode,
                           replacing ? kEncodeReplacing : kEncode, request.kind, request.compress);
    return DecryptFile(request.input, request.outputBase, keyCode,
                       replacing ? kDecodeReplacing : kDecode);
}

void Workflow::StartCommand(const StartRequest &request) {
    if (request.keyText.isEmpty()) {
        ShowMessage(texts::kNoKey, rules::kIconExclamation, texts::kError);
        return;
    }
    if (request.input.isEmpty() || request.outputBase.isEmpty()) {
        ShowMessage(texts::kNoFileName, rules::kIconExclamation, texts::kError);
        return;
    }
    if (request.outputName.isEmpty()) {
        ShowMessage(texts::kNoOutputName, rules::kIconExclamation, texts::kError);
        return;
    }
    // The key box holds only hexadecimal digits; anything else reads as nothing typed.
    const auto keyCode = rules::keyCodeFromText(request.keyText);
    if (!keyCode) {
        ShowMessage(texts::kNoKey, rules::kIconExclamation, texts::kError);
        return;
    }

    m_view.showCaption(rules::busyCaption(request.mode));
    m_view.hideForJob();
    double started = monotonicSeconds();
    int result = runJob(request, *keyCode, false);
    m_lastAnswer = result;
    while (result != rules::kSilentStop) {
        const double elapsed = monotonicSeconds() - started;
        const auto message = rules::resultMessage(result, request.mode, elapsed);
        if (!message)
            break;
        const int answer = ShowMessage(message->text, message->style, message->title);
        if (tolvex::resultOf(result) != tolvex::Result::OutputExists || answer != rules::kAnswerOk)
            break;
        // Overwrite: the same job again in the replacing mode, timed on its own.
        m_view.hideForJob();
        started = monotonicSeconds();
        result = runJob(request, *keyCode, true);
        m_lastAnswer = result;
    }
    m_view.showAfterJob();
    m_view.showCaption(texts::Text::verbatim(texts::kIdleCaption));
}

// The codec library could not be bound although start-up found it: say so, as start-up would.
int Workflow::codecMissing() {
    const QString name = QFileInfo(m_libraries.codecFile()).fileName();
    ShowMessage(texts::missingFile(name), rules::kIconStop, texts::Text::verbatim(name));
    return rules::kSilentStop;
}

int32_t Workflow::GetBufferSize(const QString &path) {
    const int64_t available = m_libraries.GetMemDat(2).value_or(0);
    const QFileInfo file(path);
    // A missing file is no failure here: the engine answers for it before it uses the size.
    const int64_t length = file.isFile() ? file.size() : 0;
    return rules::bufferSizeFor(available, length);
}

int Workflow::EncryptFile(const QString &input, const QString &outputBase, int32_t keyCode,
                          int mode, int16_t kind, bool compress) {
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
    const auto result = m_libraries.MakeCode(source, outputBase, keyCode, mode, kind, bufferSize);
    job.reset();
    if (!result)
        return codecMissing();
    m_lastAnswer = *result;
    return *result;
}

// The engine recognises the disguise itself: decryption takes no kind.
int Workflow::DecryptFile(const QString &input, const QString &outputBase, int32_t keyCode,
                          int mode) {
    const int32_t bufferSize = GetBufferSize(input);
    const auto result = m_libraries.MakeCode(input, outputBase, keyCode, mode, 0, bufferSize);
    if (!result)
        return codecMissing();
    m_lastAnswer = *result;
    const QString lzh = outputBase + QStringLiteral(".lzh");
    if (*result != 0 || !QFileInfo(lzh).isFile())
        return *result;

    if (m_libraries.FindLzh().value_or(0) == 0) {
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

bool Workflow::WaitUnlhaFree() {
    for (;;) {
        // Only the low sixteen bits count; all of them set means busy.
        const int32_t running = m_libraries.UnlhaGetRunning().value_or(0);
        if ((running & 0xFFFF) != 0xFFFF)
            return true;
        if (ShowMessage(texts::kArchiverBusy, rules::kOkCancel | rules::kIconInformation,
                        texts::kRunError) == rules::kAnswerCancel)
            return false;
    }
}

int16_t Workflow::PackLzh(const QString &input, const QString &archive) {
    // Hidden files are packed like any other: the user chose them.
    if (!QFileInfo::exists(input)) {
        ShowMessage(texts::kFileNotFound, rules::kIconExclamation, texts::kFileError);
        return -1;
    }
    // A name the command line cannot carry would be split into other names: nothing runs.
    const auto command = rules::packCommandLine(archive, input);
    if (!command)
        return -1;
    return static_cast<int16_t>(m_libraries.Unlha(*command).value_or(-1));
}

int16_t Workflow::UnpackLzh(const QString &archive) {
    const auto command = rules::extractCommandLine(archive);
    if (!command)
        return -1;
    return static_cast<int16_t>(m_libraries.Unlha(*command).value_or(-1));
}

SavedSettings Workflow::ReadSettings(const QString &file) {
    const auto read = [&](const char *section, const char *key) {
        return ini::ReadIni(file, QLatin1String(section), QLatin1String(key));
    };
    SavedSettings settings;
    settings.save = checkValue(read("Save", "Save"));
    settings.top = number(read("Pos", "Top"));
    settings.left = number(read("Pos", "Left"));
    settings.lzh = checkValue(read("Save", "Lzh"));
    settings.topmost = checkValue(read("Save", "TOPMOST"));
    for (const auto &value : {settings.save, settings.lzh, settings.topmost})
        if (value)
            m_lastAnswer = static_cast<int>(*value);
    return settings;
}

void Workflow::WriteSetting(const QString &file, const char *section, const char *key,
                            const QString &value) {
    m_lastAnswer = ini::WriteIni(file, QLatin1String(section), QLatin1String(key), value);
}
