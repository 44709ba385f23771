// What START does, without a window: the workflow with the real codec and archiver libraries,
// a scripted message box and a view that records what the window would be asked to do.
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
        QCOMPARE(workflow->LastAnswer().toInt(), int(rules::kAnswerOk));
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

    void missingFilesEndStartUp() {
        QFile::remove(folder->path("Tolvex.dat"));
        QCOMPARE(workflow->CheckLibraries(folder->path()), std::nullopt);
        QCOMPARE(presenter->texts(), QStringList{texts::missingFile("Tolvex.dat")});
        QCOMPARE(presenter->shown[0].title, QString("Tolvex.dat"));
    }
};

QTEST_MAIN(WorkflowTest)
#include "app_workflow_test.moc"
