// What the window does, without the window: start-up's checks, the START command with its
// report and overwrite rerun, the encryption and decryption jobs and the bridge to the
// archiver. It talks to the user only through its ShowMessage (the message presenter) and to
// the libraries through the loader; the window hands it what its controls hold and shows what
// it asks for through WorkflowView.
#pragma once

#include "fd.h"
#include "libraries.h"
#include "message.h"
#include "private_folder.h"
#include "rules.h"
#include "secret.h"
#include "texts.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QWidget;

// What the workflow asks of the window.
class WorkflowView {
  public:
    virtual ~WorkflowView() = default;
    // The window brought back and off the top while a message is up; the message's parent.
    virtual QWidget *beforeMessage() = 0;
    // After the answer: back on top when the user keeps it there.
    virtual void afterMessage() = 0;
    virtual void showCaption(const texts::Text &caption) = 0;
    // The window is hidden while a job runs and shown again afterwards.
    virtual void hideForJob() = 0;
    virtual void showAfterJob() = 0;
};

// What START reads from the controls.
struct StartRequest {
    QString keyText; // the key, or the passphrase of a strong file
    QString input;
    QString outputBase; // the output's folder and name, without extension
    QString outputName; // the name box alone
    int16_t kind = 0;
    rules::Mode mode = rules::Mode::Encrypt;
    bool compress = false;
    bool strong =
        false; // encrypting: the strong format; decrypting: the key box holds a passphrase
};

class Workflow {
  public:
    Workflow(WorkflowView &view, std::shared_ptr<MessagePresenter> presenter, Libraries &libraries);

    // The only way a message box is shown.
    int ShowMessage(const texts::Text &prompt, int style, const texts::Text &title);
    // A passphrase asked for in a box of its own, through the same presenter.
    std::optional<QString> AskPassphrase(const texts::Text &prompt, const texts::Text &title);

    // Start-up: the codec library beside the program or in the working folder (the one found is
    // the one loaded), Tolvex.dat in the working folder, and the codec library usable. Whether
    // the archiver library is there, or nothing when the program must end.
    std::optional<bool> CheckLibraries(const QString &workingFolder);

    void StartCommand(const StartRequest &request);

    int32_t GetBufferSize(const QString &path);

    bool WaitUnlhaFree(); // false when the user cancelled
    int16_t PackLzh(const QString &input, const QString &archive);
    // Extracts everything in `archive` into `folder`.
    int16_t UnpackLzh(const QString &archive, const QString &folder);

  private:
    // One run of the job into the open output folder `folder`; `replacing` after the user
    // agreed to overwrite.
    rules::JobResult runJob(const StartRequest &request, int folder, int32_t keyCode,
                            std::string_view passphrase, bool replacing);
    // The jobs write into the open folder `folder`, under `name` with the extension the kind or
    // the recorded name gives. An output that would be the input itself is refused as SameFile.
    rules::JobResult EncryptFile(const QString &input, int folder, const QString &name,
                                 int32_t keyCode, int mode, int16_t kind, bool compress);
    rules::JobResult DecryptFile(const QString &input, int folder, const QString &name,
                                 int32_t keyCode, int mode);
    // Strong files: encrypted under a key derived from `passphrase` (the default, moderate cost),
    // and decrypted, each published whole.
    rules::JobResult EncryptStrong(const QString &input, int folder, const QString &name,
                                   std::string_view passphrase, bool replacing, int16_t kind,
                                   bool compress);
    rules::JobResult DecryptStrong(const QString &input, int folder, const QString &name,
                                   std::string_view passphrase, bool replacing);
    // Decryption with the passphrase box: a version 1 file, else classic when the text is also
    // a key and opens the file as one, else version 2.
    rules::JobResult decryptWithPassphrase(const StartRequest &request, int folder,
                                           const QString &name, std::string_view passphrase,
                                           bool replacing);
    rules::JobResult codecMissing();
    // The typed passphrase held to the rule, confirmed a second time when encrypting; nothing
    // when the start ends here (and the user was told why).
    std::optional<strong::Secret> strongPassphrase(const StartRequest &request);
    // The temporary archive of a compressed input, made in a job folder of its own; nothing
    // when the user cancelled or packing failed (and was said so).
    std::optional<QString> packInput(const QString &input,
                                     std::optional<privatefolder::JobFolder> &job);
    // After a decryption: the file this job wrote (`written`, named `outputName` in `folder`),
    // when its recorded name says it is an archive, is offered for extraction into that folder.
    rules::JobResult afterDecryption(tolvex::Result result, int folder,
                                     const tolvex::files::Fd &written,
                                     const std::string &outputName);

    WorkflowView &m_view;
    std::shared_ptr<MessagePresenter> m_presenter;
    Libraries &m_libraries;
};
