// What START does, without a window: the workflow with the real codec and archiver libraries,
// a scripted message box and a view that records what the window would be asked to do.
#include "kind_names.h"
#include "layout.h"
#include "program_folder.h"
#include "rules.h"
#include "scripted_presenter.h"
#include "text_compare.h"
#include "texts.h"
#include "workflow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <sys/stat.h>

namespace {

// Records the window's side: its caption (as the message box's parent shows it), whether it is
// hidden for a job, and how often it was brought back for a message.
class RecordingView : public WorkflowView {
  public:
    QWidget parent; // never shown: no window is involved
    bool hidden = false;
    int messages = 0;
    QWidget *beforeMessage() override {
        hidden = false;
        ++messages;
        return &parent;
    }
    void afterMessage() override {}
    void showCaption(const texts::Text &caption) override {
        parent.setWindowTitle(caption.source());
    }
    void hideForJob() override { hidden = true; }
    void showAfterJob() override { hidden = false; }
};

void writeFile(const QString &path, const QByteArray &content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList entriesOf(const QString &folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}

} // namespace

class WorkflowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder;
    std::shared_ptr<ScriptedPresenter> presenter;
    std::unique_ptr<Libraries> libraries;
    std::unique_ptr<RecordingView> view;
    std::unique_ptr<Workflow> workflow;
    QTemporaryDir runtime;

    // START as the window hands it over: the output beside the input, named "Tolvex".
    StartRequest request(const QString &input, const QString &key,
                         rules::Mode mode = rules::Mode::Encrypt, bool compress = false,
                         int16_t kind = 0) const {
        return {key, input, folder->path("Tolvex"), "Tolvex", kind, mode, compress};
    }

    QList<ShownMessage> start(const StartRequest &r) {
        const qsizetype before = presenter->shown.size();
        workflow->StartCommand(r);
        // Whatever happened, the window is back and idle afterwards.
        [&] {
            QVERIFY(!view->hidden);
            QCOMPARE(view->parent.windowTitle(), texts::kIdleCaption);
        }();
        return presenter->shown.mid(before);
    }

  private slots:
    void initTestCase() {
        QVERIFY(runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    }

    void init() {
        folder = std::make_unique<ProgramFolder>();
        presenter = std::make_shared<ScriptedPresenter>();
        libraries =
            std::make_unique<Libraries>("libHalvet_Tolvex.so", "libunlha32.so", folder->path());
        view = std::make_unique<RecordingView>();
        view->showCaption(texts::Text::verbatim(texts::kIdleCaption)); // as start-up leaves it
        workflow = std::make_unique<Workflow>(*view, presenter, *libraries);
        QCOMPARE(workflow->CheckLibraries(folder->path()), std::optional<bool>(true));
    }

    void cleanup() {
        workflow.reset();
        view.reset();
        libraries.reset();
        folder.reset();
    }

    void startChecksComeInOrder() {
        start({"", "", "", "", 0, rules::Mode::Encrypt, false});
        start({"1", "", "", "", 0, rules::Mode::Encrypt, false});
        start({"1", "x", "", "", 0, rules::Mode::Encrypt, false});
        start({"1", "x", "y", "", 0, rules::Mode::Encrypt, false});
        start({"xyz", "x", "y", "z", 0, rules::Mode::Encrypt, false}); // no hexadecimal key
        QCOMPARE(presenter->texts(),
                 (QStringList{texts::kNoKey, texts::kNoFileName, texts::kNoFileName,
                              texts::kNoOutputName, texts::kNoKey}));
        for (const auto &m : presenter->shown) {
            QCOMPARE(m.style, 48);
            QCOMPARE(m.title, QString("エラー"));
            QCOMPARE(m.windowTitle, texts::kIdleCaption); // a refused start is not busy
        }
    }

    void overwriteQuestion() {
        writeFile(folder->path("in.txt"), "first");
        start(request(folder->path("in.txt"), "1"));
        writeFile(folder->path("in.txt"), "second, longer");

        presenter->answers = {rules::kAnswerCancel};
        auto shown = start(request(folder->path("in.txt"), "1"));
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, texts::kOverwrite);
        QCOMPARE(shown[0].style, 33);
        QCOMPARE(shown[0].windowTitle, rules::busyCaption(rules::Mode::Encrypt));
        QCOMPARE(QFileInfo(folder->path("Tolvex.tvx")).size(), qint64(15 + 5));

        presenter->answers = {rules::kAnswerOk};
        shown = start(request(folder->path("in.txt"), "1"));
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[1].title, QString("報告"));
        QCOMPARE(QFileInfo(folder->path("Tolvex.tvx")).size(), qint64(15 + 14));
        QVERIFY(presenter->answers.isEmpty()); // the scripted OK answered the question
    }

    void wrongKeyAndDamagedFile() {
        QByteArray content(300, 0);
        for (int i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>((i * 131 + 7) % 251);
        writeFile(folder->path("in.bin"), content);
        start(request(folder->path("in.bin"), "CAFE", rules::Mode::Encrypt, false, 2));
        StartRequest back = request(folder->path("Tolvex.cab"), "CAFF", rules::Mode::Decrypt);
        back.outputBase = folder->path("out");
        auto shown = start(back);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, texts::kWrongKey);
        QVERIFY(!QFileInfo::exists(folder->path("out.bin")));

        QByteArray encoded = readFile(folder->path("Tolvex.cab"));
        encoded[3819 + 15 + 100] = static_cast<char>(encoded[3819 + 15 + 100] ^ 0x40);
        writeFile(folder->path("Tolvex.cab"), encoded);
        back.keyText = "CAFE";
        shown = start(back);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].style, 48);
        QVERIFY(shown[0].text.endsWith("\r ファイルチェック:BAD"));
    }

    void compressionOfAMissingInput() {
        const auto shown =
            start(request(folder->path("nothing here"), "5", rules::Mode::Encrypt, true));
        QCOMPARE(presenter->texts(), (QStringList{texts::kFileNotFound, texts::kPackFailed}));
        QCOMPARE(shown[0].title, QString("ファイルエラー"));
    }

    // A name with a double quote would be split by the archiver's quoted command line into
    // its neighbours' names: it is refused before anything is packed.
    void nameTheArchiverCannotCarryIsRefused() {
        const QString in = folder->path("quote");
        QDir().mkpath(in);
        writeFile(in + "/x", "left");
        writeFile(in + "/y", "right");
        writeFile(in + "/x\" \"y", "both");
        const QStringList before = entriesOf(folder->path());
        const auto shown = start(request(in + "/x\" \"y", "42", rules::Mode::Encrypt, true));
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, texts::kPackFailed);
        QCOMPARE(entriesOf(folder->path()), before);
    }

    void busyArchiverAsksUntilCancelled() {
        // Another process holds the archiver: the busy lock is held by a child process.
        QProcess holder;
        holder.start(QStringLiteral(TOLVEX_HOLD_ARCHIVER));
        QVERIFY(holder.waitForReadyRead(10000));
        writeFile(folder->path("in.txt"), "x");
        presenter->answers = {rules::kAnswerOk, rules::kAnswerOk, rules::kAnswerCancel};
        const auto shown = start(request(folder->path("in.txt"), "1", rules::Mode::Encrypt, true));
        holder.kill();
        holder.waitForFinished();
        QCOMPARE(shown.size(), 3);
        for (const auto &m : shown) {
            QCOMPARE(m.text, texts::kArchiverBusy);
            QCOMPARE(m.style, 65);
            QCOMPARE(m.title, QString("実行エラー"));
        }
        QVERIFY(!QFileInfo::exists(folder->path("Tolvex.tvx")));
    }

    // Strong files: every part of START as for classic files, the passphrase asked twice.
    void strongRoundTrip_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("extension");
        QTest::newRow("no disguise") << 0 << ".tvx";
        QTest::newRow("png") << 6 << ".png";
        QTest::newRow("zip") << 15 << ".zip";
    }
    void strongRoundTrip() {
        QFETCH(int, kind);
        QFETCH(QString, extension);
        const QByteArray content = "strong content 強力 " + QByteArray::number(kind);
        writeFile(folder->path("report.doc"), content);
        StartRequest there = request(folder->path("report.doc"), "  correct horse 馬  ",
                                     rules::Mode::Encrypt, false, static_cast<int16_t>(kind));
        there.strong = true;
        presenter->passphrases = {QString("correct horse 馬")}; // the rule cuts the blanks
        auto shown = start(there);
        QCOMPARE(presenter->asked, QStringList{texts::kConfirmPassphrase});
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.startsWith("処理が終了しました。\r所要時間："));
        QCOMPARE(shown[0].windowTitle, rules::busyCaption(rules::Mode::Encrypt));
        const QString encoded = folder->path("Tolvex") + extension;
        QVERIFY(readFile(encoded).size() > content.size());
        QVERIFY(!readFile(encoded).contains("strong content"));

        StartRequest back = request(encoded, "correct horse 馬", rules::Mode::Decrypt);
        back.outputBase = folder->path("back");
        back.strong = true; // the key box holds a passphrase
        shown = start(back);
        QCOMPARE(presenter->asked.size(), 1); // decrypting asks once, in the key box
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.endsWith("\r ファイルチェック:GOOD"));
        QCOMPARE(readFile(folder->path("back.doc")), content);
    }

    void strongPassphraseMustBeTypedAlikeTwice() {
        writeFile(folder->path("in.txt"), "x");
        StartRequest there = request(folder->path("in.txt"), "one", rules::Mode::Encrypt);
        there.strong = true;
        const QStringList before = entriesOf(folder->path());
        presenter->passphrases = {QString("two")};
        auto shown = start(there);
        QCOMPARE(presenter->texts(), QStringList{texts::kPassphraseMismatch});
        presenter->passphrases = {std::nullopt}; // cancelled: nothing more is said
        shown = start(there);
        QVERIFY(shown.isEmpty());
        there.keyText = " \t ";
        shown = start(there);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, texts::kNoPassphrase);
        there.keyText = QString(4097, u'p');
        shown = start(there);
        QCOMPARE(shown[0].text, texts::kPassphraseTooLong);
        QCOMPARE(entriesOf(folder->path()), before);
    }

    void wrongPassphraseWritesNothing() {
        writeFile(folder->path("in.txt"), "secret");
        StartRequest there = request(folder->path("in.txt"), "right", rules::Mode::Encrypt);
        there.strong = true;
        presenter->passphrases = {QString("right")};
        start(there);
        StartRequest back = request(folder->path("Tolvex.tvx"), "wrong", rules::Mode::Decrypt);
        back.outputBase = folder->path("out");
        back.strong = true;
        const QStringList before = entriesOf(folder->path());
        auto shown = start(back);
        // Nothing tells a wrong passphrase from a file that is not one of ours.
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, texts::kNotOursOrPassphrase);
        QCOMPARE(shown[0].style, 48);
        QCOMPARE(entriesOf(folder->path()), before);

        // Text that is also a key code gets the classic message, which names the code.
        back.keyText = "1a2b";
        shown = start(back);
        QCOMPARE(shown[0].text, texts::kWrongKey);
        QCOMPARE(entriesOf(folder->path()), before);

        // A damaged file opened with the right passphrase: that message, and nothing either.
        QByteArray encoded = readFile(folder->path("Tolvex.tvx"));
        encoded[encoded.size() - 3] = static_cast<char>(encoded[encoded.size() - 3] ^ 1);
        writeFile(folder->path("Tolvex.tvx"), encoded);
        back.keyText = "right";
        shown = start(back);
        QCOMPARE(shown[0].text, texts::kWrongPassphrase);
        QCOMPARE(entriesOf(folder->path()), before);
    }

    void strongOverwriteAsks() {
        writeFile(folder->path("in.txt"), "first");
        StartRequest there = request(folder->path("in.txt"), "pw", rules::Mode::Encrypt);
        there.strong = true;
        presenter->passphrases = {QString("pw"), QString("pw"), QString("pw")};
        start(there);
        const QByteArray first = readFile(folder->path("Tolvex.tvx"));
        presenter->answers = {rules::kAnswerCancel};
        auto shown = start(there);
        QCOMPARE(shown[0].text, texts::kOverwrite);
        QCOMPARE(readFile(folder->path("Tolvex.tvx")), first);
        writeFile(folder->path("in.txt"), "second");
        presenter->answers = {rules::kAnswerOk};
        shown = start(there);
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[1].title, QString("報告"));
        QVERIFY(readFile(folder->path("Tolvex.tvx")) != first);
        QCOMPARE(entriesOf(folder->path()).filter(".tolvex-"), QStringList());
    }

    // A strong file whose recorded name gives its decryption its own name is never its own
    // output: the same-file message, as for a classic file, and the file as it was.
    void strongFileIsNeverItsOwnOutput() {
        writeFile(folder->path("plain.tvx"), "plain");
        StartRequest there = request(folder->path("plain.tvx"), "pw", rules::Mode::Encrypt);
        there.strong = true;
        presenter->passphrases = {QString("pw")};
        start(there);
        const QByteArray encoded = readFile(folder->path("Tolvex.tvx"));
        StartRequest back = request(folder->path("Tolvex.tvx"), "pw", rules::Mode::Decrypt);
        back.strong = true;
        const auto shown = start(back);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, texts::kSameFile);
        QCOMPARE(shown[0].style, 48);
        QCOMPARE(readFile(folder->path("Tolvex.tvx")), encoded);
    }

    // A folder, packed and encrypted strongly, comes back through the extraction offer.
    void strongCompressedFolder() {
        QDir(folder->path()).mkpath("tree/inner");
        writeFile(folder->path("tree/a.txt"), "alpha");
        writeFile(folder->path("tree/inner/b.txt"), "beta");
        StartRequest there = request(folder->path("tree"), "pw", rules::Mode::Encrypt, true, 4);
        there.strong = true;
        presenter->passphrases = {QString("pw")};
        start(there);
        QDir(folder->path()).mkpath("restore");
        QVERIFY(QFile::rename(folder->path("Tolvex.lzh"), folder->path("restore/enc.lzh")));
        StartRequest back = request(folder->path("restore/enc.lzh"), "pw", rules::Mode::Decrypt);
        back.outputBase = folder->path("restore/back");
        back.strong = true;
        presenter->answers = {rules::kAnswerYes, rules::kAnswerYes};
        const auto shown = start(back);
        QCOMPARE(presenter->texts().mid(presenter->texts().size() - 2),
                 (QStringList{texts::kOfferExtract, texts::kOfferDelete}));
        QCOMPARE(shown.size(), 2);
        QCOMPARE(readFile(folder->path("restore/tree/a.txt")), QByteArray("alpha"));
        QCOMPARE(readFile(folder->path("restore/tree/inner/b.txt")), QByteArray("beta"));
        QVERIFY(!QFileInfo::exists(folder->path("restore/back.lzh")));
    }

    // An encrypted folder "tree" (a.txt, inner/b.txt) as folder->path(name).
    void makeEncryptedTree(const QString &name) {
        QDir(folder->path()).mkpath("tree/inner");
        writeFile(folder->path("tree/a.txt"), "alpha");
        writeFile(folder->path("tree/inner/b.txt"), "beta");
        start(request(folder->path("tree"), "7", rules::Mode::Encrypt, true, 0));
        QVERIFY(QFile::rename(folder->path("Tolvex.tvx"), folder->path(name)));
        QVERIFY(QDir(folder->path("tree")).removeRecursively());
    }

    // A real archive of a folder "evil" holding evil.sh, made by the archiver.
    QString plantedArchive() {
        QDir(folder->path()).mkpath("evil");
        writeFile(folder->path("evil/evil.sh"), "echo owned");
        const QString archive = folder->path("planted.lzh");
        [&] { QCOMPARE(workflow->PackLzh(folder->path("evil"), archive), int16_t(0)); }();
        QDir(folder->path("evil")).removeRecursively();
        return archive;
    }

    // The extraction offer concerns only the file this job wrote, held while the questions are
    // up: an archive planted under the default name, or put in place of this job's one (by a
    // rename or a link) while the question is on screen, is never what gets extracted.
    void extractionOfferConcernsOnlyTheFileThisJobWrote() {
        const QString planted = plantedArchive();
        QVERIFY(QFile::copy(planted, folder->path("Tolvex.lzh")));
        writeFile(folder->path("note.txt"), "just text");
        start(request(folder->path("note.txt"), "7"));
        QVERIFY(QFile::rename(folder->path("Tolvex.tvx"), folder->path("note.tvx")));
        auto shown = start(request(folder->path("note.tvx"), "7", rules::Mode::Decrypt));
        QVERIFY(!presenter->texts().contains(texts::kOfferExtract));
        QVERIFY(!QFileInfo::exists(folder->path("evil")));
        QCOMPARE(readFile(folder->path("Tolvex.txt")), QByteArray("just text"));

        makeEncryptedTree("tree.tvx");
        QVERIFY(QFile::remove(folder->path("Tolvex.lzh")));
        for (const bool byLink : {false, true}) {
            presenter->whileShown = [&](const QString &prompt) {
                if (prompt != texts::kOfferExtract)
                    return;
                QFile::remove(folder->path("Tolvex.lzh"));
                if (byLink)
                    QFile::link(planted, folder->path("Tolvex.lzh"));
                else
                    QFile::copy(planted, folder->path("Tolvex.lzh"));
            };
            presenter->answers = {rules::kAnswerYes, rules::kAnswerYes};
            shown = start(request(folder->path("tree.tvx"), "7", rules::Mode::Decrypt));
            presenter->whileShown = nullptr;
            QCOMPARE(presenter->texts().mid(presenter->texts().size() - 2),
                     (QStringList{texts::kOfferExtract, texts::kOfferDelete}));
            QCOMPARE(readFile(folder->path("tree/inner/b.txt")), QByteArray("beta"));
            QVERIFY(!QFileInfo::exists(folder->path("evil")));
            // What stands under the name now is not the job's file: it is not deleted either.
            QVERIFY(QFileInfo::exists(folder->path("Tolvex.lzh")));
            QVERIFY(QFile::remove(folder->path("Tolvex.lzh")));
            QVERIFY(QDir(folder->path("tree")).removeRecursively());
        }
    }

    // Extraction adds to a folder that is there already and never opens it wider.
    void extractionKeepsAnExistingFoldersPermissions() {
        makeEncryptedTree("tree.tvx");
        QDir(folder->path()).mkpath("tree");
        QVERIFY(QFile::setPermissions(folder->path("tree"), QFileDevice::ReadOwner |
                                                                QFileDevice::WriteOwner |
                                                                QFileDevice::ExeOwner));
        presenter->answers = {rules::kAnswerYes, rules::kAnswerNo};
        start(request(folder->path("tree.tvx"), "7", rules::Mode::Decrypt));
        QCOMPARE(readFile(folder->path("tree/a.txt")), QByteArray("alpha"));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(folder->path("tree")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
    }

    // The rerun after "overwrite?" writes into the folder the first run opened, whatever its
    // path names by then: a folder swapped for a link while the question is up gets nothing.
    void overwriteRerunStaysInTheFolderItOpened() {
        QDir(folder->path()).mkpath("shared/out");
        QDir(folder->path()).mkpath("elsewhere");
        writeFile(folder->path("in.txt"), "the secret");
        writeFile(folder->path("shared/out/Tolvex.tvx"), "old");
        StartRequest r = request(folder->path("in.txt"), "7");
        r.outputBase = folder->path("shared/out/Tolvex");
        presenter->whileShown = [&](const QString &prompt) {
            if (prompt != texts::kOverwrite)
                return;
            QVERIFY(QDir(folder->path("shared")).rename("out", "moved"));
            QVERIFY(QFile::link(folder->path("elsewhere"), folder->path("shared/out")));
        };
        presenter->answers = {rules::kAnswerOk};
        const auto shown = start(r);
        presenter->whileShown = nullptr;
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].text, texts::kOverwrite);
        QVERIFY(entriesOf(folder->path("elsewhere")).isEmpty());
        QCOMPARE(QFileInfo(folder->path("shared/moved/Tolvex.tvx")).size(), qint64(15 + 10));
    }

    // A link inside a folder being packed that leads out of it is refused; the window packs
    // nothing and says so.
    void packingRefusesALinkThatLeadsOutOfTheFolder() {
        QDir(folder->path()).mkpath("project");
        QDir(folder->path()).mkpath("private");
        writeFile(folder->path("project/a.txt"), "alpha");
        writeFile(folder->path("private/key"), "PRIVATE");
        QVERIFY(QFile::link(folder->path("private"), folder->path("project/assets")));
        const auto shown =
            start(request(folder->path("project"), "7", rules::Mode::Encrypt, true, 0));
        QCOMPARE(presenter->texts().last(), texts::kPackFailed);
        QCOMPARE(shown.size(), 1);
        QVERIFY(!QFileInfo::exists(folder->path("Tolvex.tvx")));
    }

    // Files the window makes open with tolvex-cli, and the other way round.
    void strongFilesCrossToTheCommandLine() {
        const QString cli = QStringLiteral(TOLVEX_BIN_DIR) + "/tolvex-cli";
        writeFile(folder->path("mine.txt"), "made by the window");
        StartRequest there =
            request(folder->path("mine.txt"), "shared pw", rules::Mode::Encrypt, false, 3);
        there.strong = true;
        presenter->passphrases = {QString("shared pw")};
        start(there);
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TOLVEX_PASSPHRASE", "shared pw");
        run.setProcessEnvironment(env);
        run.setWorkingDirectory(folder->path());
        run.start(cli, {"decrypt", "--quiet", "--output", folder->path("from-window"),
                        folder->path("Tolvex.jpg")});
        QVERIFY(run.waitForFinished(60000));
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(readFile(folder->path("from-window.txt")), QByteArray("made by the window"));

        writeFile(folder->path("theirs.txt"), "made by tolvex-cli");
        run.start(cli, {"encrypt", "--quiet", "--strong", "--disguise", "wav", "--output",
                        folder->path("cli"), folder->path("theirs.txt")});
        QVERIFY(run.waitForFinished(60000));
        QCOMPARE(run.exitCode(), 0);
        StartRequest back = request(folder->path("cli.wav"), "shared pw", rules::Mode::Decrypt);
        back.outputBase = folder->path("from-cli");
        back.strong = true;
        const auto shown = start(back);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(readFile(folder->path("from-cli.txt")), QByteArray("made by tolvex-cli"));
    }

    // With the passphrase box, a classic file still opens with its key, with its classic
    // results; a key that does not open it leaves the text to be tried as a passphrase.
    void passphraseBoxStillOpensClassicFiles() {
        writeFile(folder->path("plain.txt"), "classic content");
        start(request(folder->path("plain.txt"), "1a2b", rules::Mode::Encrypt));
        StartRequest back = request(folder->path("Tolvex.tvx"), "1a2b", rules::Mode::Decrypt);
        back.outputBase = folder->path("back");
        back.strong = true;
        auto shown = start(back);
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.endsWith("\r ファイルチェック:GOOD"));
        QCOMPARE(readFile(folder->path("back.txt")), QByteArray("classic content"));
        back.keyText = "1a2c";
        back.outputBase = folder->path("again");
        shown = start(back);
        QCOMPARE(shown[0].text, texts::kWrongKey);
        QVERIFY(!QFileInfo::exists(folder->path("again.txt")));
    }

    // Files the window writes, of every kind, read by the independent reader written from the
    // format page alone.
    void windowFilesReadByTheIndependentReader() {
        QString python;
        for (const QString &candidate : {QString("python3"), QString("/usr/bin/python3")}) {
            QProcess probe;
            probe.start(candidate, {"-c", "import nacl.bindings"});
            if (probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit &&
                probe.exitCode() == 0) {
                python = candidate;
                break;
            }
        }
        if (python.isEmpty())
            QSKIP("python3 with PyNaCl (python3-nacl) is not installed");
        for (int kind = 0; kind < tolvex::kKindCount; ++kind) {
            const QByteArray content = "window content " + QByteArray::number(kind);
            writeFile(folder->path("in.txt"), content);
            StartRequest there = request(folder->path("in.txt"), "reader pw", rules::Mode::Encrypt,
                                         false, static_cast<int16_t>(kind));
            there.strong = true;
            there.outputBase = folder->path("k") + QString::number(kind);
            presenter->passphrases = {QString("reader pw")};
            start(there);
            const QString encoded =
                there.outputBase + QString::fromLatin1(tolvex::disguiseFor(kind).extension);
            QProcess read;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("TOLVEX_PASSPHRASE", "reader pw");
            env.insert("PYTHONDONTWRITEBYTECODE", "1");
            read.setProcessEnvironment(env);
            read.start(python, {QStringLiteral(TOLVEX_STRONG_READER), "--output",
                                folder->path("out"), encoded});
            QVERIFY(read.waitForFinished(120000));
            QCOMPARE(QString::fromUtf8(read.readAllStandardError()), QString());
            QCOMPARE(QString::fromUtf8(read.readAllStandardOutput()),
                     "in.txt\n2 " + QString::fromStdString(tolvex::kindName(kind)) + " moderate\n");
            QCOMPARE(readFile(folder->path("out")), content);
        }
    }

    void missingFilesEndStartUp() {
        QFile::remove(folder->path("Tolvex.dat"));
        QCOMPARE(workflow->CheckLibraries(folder->path()), std::nullopt);
        QCOMPARE(presenter->texts(), QStringList{texts::missingFile("Tolvex.dat")});
        QCOMPARE(presenter->shown[0].title, QString("Tolvex.dat"));
    }
};

QTEST_MAIN(WorkflowTest)
#include "app_workflow_test.moc"
