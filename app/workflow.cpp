#include "workflow.h"

#include "fd.h"
#include "folders.h"
#include "layout.h"
#include "names.h"
#include "naming.h"
#include "passphrase_rule.h"
#include "publish.h"
#include "results.h"
#include "secret.h"
#include "strong_jobs.h"
#include "temporaries.h"
#include "transfers.h"

#include <QFile>
#include <QFileInfo>
#include <array>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Seconds on a clock that never jumps, so an elapsed time is never negative.
double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The engine's modes: the first run never replaces an output, the rerun after the user's OK does.
enum EngineMode : int { kEncode = 0, kDecode = 1, kEncodeReplacing = 2, kDecodeReplacing = 3 };

using rules::JobResult;
using rules::WindowResult;
using tolvex::Result;

} // namespace

Workflow::Workflow(WorkflowView &view, std::shared_ptr<MessagePresenter> presenter,
                   Libraries &libraries)
    : m_view(view), m_presenter(std::move(presenter)), m_libraries(libraries) {}

int Workflow::ShowMessage(const texts::Text &prompt, int style, const texts::Text &title) {
    QWidget *parent = m_view.beforeMessage();
    const int answer = m_presenter->present(parent, prompt, style, title);
    m_view.afterMessage();
    return answer;
}

std::optional<QString> Workflow::AskPassphrase(const texts::Text &prompt,
                                               const texts::Text &title) {
    QWidget *parent = m_view.beforeMessage();
    std::optional<QString> answer = m_presenter->askPassphrase(parent, prompt, title);
    m_view.afterMessage();
    return answer;
}

std::optional<bool> Workflow::CheckLibraries(const QString &workingFolder) {
    const auto missing = [&](const QString &name) {
        ShowMessage(texts::missingFile(name), rules::kIconStop, texts::Text::verbatim(name));
    };
    // Both files are looked for in the working folder, where the engine opens Tolvex.dat. The
    // codec library checked is then the file loaded: the program's own copy when it has one,
    // else exactly the one found here, never another one that a search would come upon.
    for (const QString &name : {texts::kCodecLibraryFile, texts::kTemplateFile}) {
        if (!QFileInfo(workingFolder + u'/' + name).isFile()) {
            missing(name);
            return std::nullopt;
        }
    }
    if (!m_libraries.chooseCodecFile(workingFolder)) {
        missing(texts::kCodecLibraryFile);
        return std::nullopt;
    }
    // The first call into the codec library: one that is there but cannot be loaded (damaged,
    // made for another system) is as good as missing, and is said so now rather than at START.
    const auto archiverVersion = m_libraries.FindLzh();
    if (!archiverVersion) {
        missing(texts::kCodecLibraryFile);
        return std::nullopt;
    }
    return *archiverVersion != 0;
}

namespace {

std::string bytes(const QString &path) {
    return QFile::encodeName(path).toStdString();
}

// A strong job's result as the engine's, so the reports and the overwrite question are the
// same as for classic files.
JobResult strongResult(strong::Status status) {
    switch (status) {
    case strong::Status::Ok:
        return Result::Done;
    case strong::Status::OutputExists:
        return Result::OutputExists;
    case strong::Status::ReadFailed:
        return Result::SourceMissing;
    case strong::Status::NotOpened:
        return WindowResult::NotOpened;
    case strong::Status::NotStrong:
    case strong::Status::Unsupported:
    case strong::Status::Damaged:
        return WindowResult::WrongPassphrase;
    case strong::Status::WriteFailed:
    case strong::Status::TooLarge:
    case strong::Status::NameTooLong:
    case strong::Status::BadName:
    case strong::Status::NoMemory:
    case strong::Status::Cancelled:
        break;
    }
    return Result::CannotOpen;
}

// Whether the result is the engine's `said`.
bool engineSaid(const JobResult &result, Result said) {
    const auto *engine = std::get_if<Result>(&result);
    return engine && *engine == said;
}

// The output's folder, opened once: the job writes and names its output only through it.
tolvex::files::Fd outputFolder(const QString &outputBase) {
    const QString folder = rules::splitPath(outputBase).folder;
    return tolvex::files::openFolder(folder.isEmpty() ? std::string(".") : bytes(folder));
}

// A path to `name` inside the open folder, for the codec's interface, which takes paths: it
// reaches that very folder, whatever its own path names meanwhile.
QString inFolder(int folder, const QString &name) {
    return QFile::decodeName(tolvex::files::descriptorPath(folder).c_str()) + u'/' + name;
}

bool isArchiveName(const std::string &extension) {
    return extension.size() == 3 && (extension[0] | 0x20) == 'l' && (extension[1] | 0x20) == 'z' &&
           (extension[2] | 0x20) == 'h';
}

// The extension a classic file records for its content, read from its control record (it
// stands there in clear); nothing for a file that is none of ours.
std::optional<std::string> recordedExtension(const std::string &input) {
    tolvex::files::OpenResult opened;
    const tolvex::files::Fd in = tolvex::files::openRegular(AT_FDCWD, input, true, opened);
    uint8_t leading[8];
    const int64_t got =
        in.valid() ? tolvex::files::readAt(in.get(), 0, leading, sizeof leading) : -1;
    if (got <= 0)
        return std::nullopt;
    const auto header = tolvex::headerLengthFor({leading, size_t(got)});
    std::array<uint8_t, tolvex::kControlRecordSize> record;
    if (!header || tolvex::files::readAt(in.get(), *header, record.data(), record.size()) !=
                       int64_t(record.size()))
        return std::nullopt;
    const auto fields = tolvex::readControlRecord(record);
    if (!fields)
        return std::nullopt;
    return std::string(fields->extension);
}

// Whether `name` in the open folder would be the input itself, the same file by device and
// inode: every job asks this before it writes.
bool wouldBeInput(int folder, const std::string &name, const QString &input) {
    return tolvex::files::sameFileAt(folder, name, bytes(input));
}

} // namespace

JobResult Workflow::runJob(const StartRequest &request, int folder, int32_t keyCode,
                           std::string_view passphrase, bool replacing) {
    const bool strong = !passphrase.empty();
    const QString name = rules::splitPath(request.outputBase).name;
    if (strong && request.mode == rules::Mode::Encrypt)
        return EncryptStrong(request.input, folder, name, passphrase, replacing, request.kind,
                             request.compress);
    if (strong)
        return decryptWithPassphrase(request, folder, name, passphrase, replacing);
    if (request.mode == rules::Mode::Encrypt)
        return EncryptFile(request.input, folder, name, keyCode,
                           replacing ? kEncodeReplacing : kEncode, request.kind, request.compress);
    return DecryptFile(request.input, folder, name, keyCode,
                       replacing ? kDecodeReplacing : kDecode);
}

namespace {

// Whether a file is a strong file of version 1, which says so by its marker.
bool isStrongVersion1(const QString &input) {
    strong::Preamble preamble;
    return strong::probeStrongFile(bytes(input), preamble) == strong::Status::Ok;
}

} // namespace

JobResult Workflow::decryptWithPassphrase(const StartRequest &request, int folder,
                                          const QString &name, std::string_view passphrase,
                                          bool replacing) {
    if (isStrongVersion1(request.input))
        return DecryptStrong(request.input, folder, name, passphrase, replacing);
    // Text that is also a key may be one: a classic file opens with it at once, and only a
    // file it does not open costs the key derivations.
    const auto keyCode = rules::keyCodeFromText(request.keyText);
    if (keyCode) {
        const JobResult classic = DecryptFile(request.input, folder, name, *keyCode,
                                              replacing ? kDecodeReplacing : kDecode);
        if (!engineSaid(classic, Result::WrongKey))
            return classic;
    }
    const JobResult opened = DecryptStrong(request.input, folder, name, passphrase, replacing);
    const auto *own = std::get_if<WindowResult>(&opened);
    if (keyCode && own && *own == WindowResult::NotOpened)
        return Result::WrongKey; // the classic message, which names the code
    return opened;
}

void Workflow::StartCommand(const StartRequest &request) {
    // Encrypting, the window's choice says strong; decrypting, it says the key box holds a
    // passphrase, and a file of version 1 says so itself.
    const bool strongJob =
        request.strong || (request.mode == rules::Mode::Decrypt && isStrongVersion1(request.input));
    if (request.keyText.isEmpty()) {
        ShowMessage(strongJob ? texts::kNoPassphrase : texts::kNoKey, rules::kIconExclamation,
                    texts::kError);
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
    std::optional<int32_t> keyCode;
    strong::Secret passphrase;
    if (strongJob) {
        const auto held = strongPassphrase(request);
        if (!held)
            return;
        passphrase = *held;
    } else {
        // The key box holds only hexadecimal digits; anything else reads as nothing typed.
        keyCode = rules::keyCodeFromText(request.keyText);
        if (!keyCode) {
            ShowMessage(texts::kNoKey, rules::kIconExclamation, texts::kError);
            return;
        }
    }

    // The output's folder is opened once: the job, and its rerun after the overwrite question,
    // write and name the output only through it, whatever its path names meanwhile.
    const tolvex::files::Fd folder = outputFolder(request.outputBase);
    m_view.showCaption(rules::busyCaption(request.mode));
    m_view.hideForJob();
    double started = monotonicSeconds();
    JobResult result = folder.valid() ? runJob(request, folder.get(), keyCode.value_or(0),
                                               passphrase.view(), false)
                                      : Result::CannotOpen;
    for (;;) {
        const double elapsed = monotonicSeconds() - started;
        const auto message = rules::resultMessage(result, request.mode, elapsed);
        if (!message)
            break;
        const int answer = ShowMessage(message->text, message->style, message->title);
        if (!engineSaid(result, Result::OutputExists) || answer != rules::kAnswerOk)
            break;
        // Overwrite: the same job again in the replacing mode, timed on its own.
        m_view.hideForJob();
        started = monotonicSeconds();
        result = runJob(request, folder.get(), keyCode.value_or(0), passphrase.view(), true);
    }
    m_view.showAfterJob();
    m_view.showCaption(texts::Text::verbatim(texts::kIdleCaption));
}

std::optional<strong::Secret> Workflow::strongPassphrase(const StartRequest &request) {
    std::string typed = request.keyText.toStdString(); // UTF-8, as the passphrase rule takes it
    std::optional<strong::Secret> held;
    switch (strong::checkPassphrase(typed)) {
    case strong::PassphraseCheck::Empty:
        ShowMessage(texts::kNoPassphrase, rules::kIconExclamation, texts::kError);
        break;
    case strong::PassphraseCheck::TooLong:
        ShowMessage(texts::kPassphraseTooLong, rules::kIconExclamation, texts::kError);
        break;
    case strong::PassphraseCheck::Ok:
        held = strong::Secret::from(strong::trimmed(typed));
        if (!held)
            ShowMessage(texts::kCannotCreate, rules::kIconExclamation, texts::kError);
        break;
    }
    strong::wipe(typed);
    if (!held || request.mode != rules::Mode::Encrypt)
        return held;
    // A passphrase typed wrong when encrypting would lock the file away for good: once more.
    const auto again = AskPassphrase(texts::kConfirmPassphrase, texts::kConfirm);
    if (!again)
        return std::nullopt;
    std::string second = again->toStdString();
    const bool same = strong::trimmed(second) == held->view();
    strong::wipe(second);
    if (!same) {
        ShowMessage(texts::kPassphraseMismatch, rules::kIconExclamation, texts::kError);
        return std::nullopt;
    }
    return held;
}

JobResult Workflow::EncryptStrong(const QString &input, int folder, const QString &name,
                                  std::string_view passphrase, bool replacing, int16_t kind,
                                  bool compress) {
    const std::string output = tolvex::encodedName(bytes(name), kind);
    if (wouldBeInput(folder, output, input))
        return Result::SameFile;
    std::optional<privatefolder::JobFolder> job;
    const auto source = compress ? packInput(input, job) : std::optional<QString>(input);
    if (!source)
        return WindowResult::StoppedSilently;
    strong::StrongEncryption how;
    how.kind = kind;
    how.kdf = strong::defaultKdf();
    how.passphrase = passphrase;
    // A packed input is recorded as an archive, so its decryption offers the extraction.
    const QString recorded =
        compress ? name + QStringLiteral(".lzh") : rules::splitPath(input).name;
    return strongResult(strong::encryptStrongInto(bytes(*source), bytes(recorded), folder, output,
                                                  replacing, how, {}));
}

JobResult Workflow::DecryptStrong(const QString &input, int folder, const QString &name,
                                  std::string_view passphrase, bool replacing) {
    // The output's name comes with the content: it is held to the same-file rule once it is
    // known, before any content is decrypted, and again when it is found taken, so the user is
    // never offered to overwrite the input with its own decryption.
    bool isInput = false;
    strong::Hooks hooks;
    hooks.acceptName = [&](const std::string &recorded) {
        isInput = wouldBeInput(folder, strong::decryptedName(recorded, bytes(name)), input);
        return isInput ? strong::Status::Cancelled : strong::Status::Ok;
    };
    std::string outputName;
    tolvex::files::Fd written;
    const strong::Status status = strong::decryptStrongInto(
        bytes(input), folder, bytes(name), replacing, passphrase, outputName, hooks, &written);
    if (isInput ||
        (status == strong::Status::OutputExists && wouldBeInput(folder, outputName, input)))
        return Result::SameFile;
    const JobResult result = strongResult(status);
    if (const auto *engine = std::get_if<Result>(&result))
        return afterDecryption(*engine, folder, written, outputName);
    return result;
}

// The codec library could not be bound although start-up found it: say so, as start-up would.
JobResult Workflow::codecMissing() {
    const QString name = QFileInfo(m_libraries.codecFile()).fileName();
    ShowMessage(texts::missingFile(name), rules::kIconStop, texts::Text::verbatim(name));
    return WindowResult::StoppedSilently;
}

int32_t Workflow::GetBufferSize(const QString &path) {
    const int64_t available = m_libraries.GetMemDat(2).value_or(0);
    const QFileInfo file(path);
    // A missing file is no failure here: the engine answers for it before it uses the size.
    const int64_t length = file.isFile() ? file.size() : 0;
    return rules::bufferSizeFor(available, length);
}

std::optional<QString> Workflow::packInput(const QString &input,
                                           std::optional<privatefolder::JobFolder> &job) {
    // The archive holds the plaintext: it is made in a fresh folder of this job inside the
    // user's private folder, never beside the output, and goes with the folder at any return.
    if (!WaitUnlhaFree())
        return std::nullopt;
    job = privatefolder::JobFolder::make();
    if (!job || PackLzh(input, job->archive()) != 0) {
        ShowMessage(texts::kPackFailed, rules::kIconExclamation, texts::kError);
        return std::nullopt;
    }
    if (!QFileInfo::exists(job->archive())) {
        ShowMessage(texts::kNoArchive, rules::kIconExclamation, texts::kError);
        return std::nullopt;
    }
    return job->archive();
}

JobResult Workflow::EncryptFile(const QString &input, int folder, const QString &name,
                                int32_t keyCode, int mode, int16_t kind, bool compress) {
    if (wouldBeInput(folder, tolvex::encodedName(bytes(name), kind), input))
        return Result::SameFile;
    std::optional<privatefolder::JobFolder> job;
    const auto source = compress ? packInput(input, job) : std::optional<QString>(input);
    if (!source)
        return WindowResult::StoppedSilently;
    const int32_t bufferSize = GetBufferSize(*source);
    const auto result =
        m_libraries.MakeCode(*source, inFolder(folder, name), keyCode, mode, kind, bufferSize);
    job.reset();
    if (!result)
        return codecMissing();
    return tolvex::resultOf(*result);
}

// The engine recognises the disguise itself: decryption takes no kind. An archive, which the
// user is offered to extract, is decrypted into a private staging folder first and moved into
// place from there, so that what is offered is the very file this job wrote.
JobResult Workflow::DecryptFile(const QString &input, int folder, const QString &name,
                                int32_t keyCode, int mode) {
    const int32_t bufferSize = GetBufferSize(input);
    const auto extension = recordedExtension(bytes(input));
    const std::string outputName = tolvex::decodedName(bytes(name), extension.value_or(""));
    if (extension && wouldBeInput(folder, outputName, input))
        return Result::SameFile;
    if (!extension || !isArchiveName(*extension)) {
        const auto result =
            m_libraries.MakeCode(input, inFolder(folder, name), keyCode, mode, 0, bufferSize);
        if (!result)
            return codecMissing();
        return tolvex::resultOf(*result);
    }
    const bool replacing = mode == kDecodeReplacing;
    if (tolvex::files::statusAt(folder, outputName, false) && !replacing)
        return Result::OutputExists;
    tolvex::files::StagingFolder staging(folder, tolvex::files::kCodecPrefix);
    if (!staging.valid() || staging.path().empty())
        return Result::CannotOpen;
    const auto code =
        m_libraries.MakeCode(input, QFile::decodeName(staging.path().c_str()) + u'/' + name,
                             keyCode, kDecode, 0, bufferSize);
    if (!code)
        return codecMissing();
    const Result result = tolvex::resultOf(*code);
    if (!tolvex::leftOutput(result))
        return result;
    tolvex::files::OpenResult opened;
    tolvex::files::Fd written = tolvex::files::openRegular(staging.fd(), outputName, false, opened);
    if (!written.valid())
        return Result::CannotOpen;
    switch (
        tolvex::files::publishStaged(staging.fd(), outputName, written.get(), folder, replacing)) {
    case tolvex::files::Published::Done:
        break;
    case tolvex::files::Published::Exists:
        return Result::OutputExists; // taken while it was decrypted
    case tolvex::files::Published::IsFolder:
    case tolvex::files::Published::Failed:
        return Result::CannotOpen;
    }
    return afterDecryption(result, folder, written, outputName);
}

JobResult Workflow::afterDecryption(Result result, int folder, const tolvex::files::Fd &written,
                                    const std::string &outputName) {
    if (result != Result::Done || !written.valid() ||
        !isArchiveName(strong::recordedExtension(outputName, {})))
        return result;

    if (m_libraries.FindLzh().value_or(0) == 0) {
        ShowMessage(texts::kLzhWithoutArchiver, rules::kIconExclamation, texts::kCannotProcessLzh);
        return WindowResult::StoppedSilently;
    }
    if (ShowMessage(texts::kOfferExtract, rules::kYesNo | rules::kIconQuestion, texts::kConfirm) ==
        rules::kAnswerNo)
        return WindowResult::StoppedSilently;
    if (!WaitUnlhaFree())
        return WindowResult::StoppedSilently;
    // The archive and its destination as the descriptors held: whatever has been done to their
    // names while the questions were on screen, this job's file goes into this job's folder.
    const QString archive = QFile::decodeName(tolvex::files::descriptorPath(written.get()).c_str());
    const QString destination = QFile::decodeName(tolvex::files::descriptorPath(folder).c_str());
    if (archive.isEmpty() || destination.isEmpty() || UnpackLzh(archive, destination) != 0) {
        ShowMessage(texts::kExtractFailed, rules::kIconExclamation, texts::kError);
        return WindowResult::StoppedSilently;
    }
    if (ShowMessage(texts::kOfferDelete, rules::kYesNo | rules::kIconQuestion, texts::kConfirm) ==
        rules::kAnswerYes)
        if (const auto held = tolvex::files::status(written.get()))
            tolvex::files::removeIfStill(folder, outputName, *held);
    return WindowResult::StoppedSilently;
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

int16_t Workflow::UnpackLzh(const QString &archive, const QString &folder) {
    const auto command = rules::extractCommandLine(archive, folder);
    if (!command)
        return -1;
    return static_cast<int16_t>(m_libraries.Unlha(*command).value_or(-1));
}
