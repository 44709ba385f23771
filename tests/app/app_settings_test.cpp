// The settings file: the profile semantics of the ini module, and what start-up and shutdown
// read and write.
#include "form_controls.h"
#include "ini.h"
#include "platform.h"
#include "program_folder.h"
#include "scripted_presenter.h"

#include <QCheckBox>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeAll(const QString &path, const QByteArray &content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

bool isLink(const QString &path) {
    return QFileInfo(path).isSymLink();
}

int modeOf(const QString &path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : 0;
}

// Guards a step that must not wait for a FIFO's other end: should the step still be running
// after a minute, the FIFO is given a writer again and again until it ends, so a regression
// fails the test instead of hanging it.
class FifoWatchdog {
  public:
    explicit FifoWatchdog(const QString &fifo)
        : m_fifo(QFile::encodeName(fifo)), m_thread([this] { run(); }) {}
    ~FifoWatchdog() { finish(); }
    // Ends the guard; true when the step had to be released.
    bool finish() {
        {
            const std::lock_guard hold(m_lock);
            m_done = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        return m_released;
    }

  private:
    void run() {
        std::unique_lock hold(m_lock);
        if (m_wake.wait_for(hold, std::chrono::seconds(60), [this] { return m_done; }))
            return;
        while (!m_done) {
            m_released = true;
            const int fd = ::open(m_fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0)
                ::close(fd);
            m_wake.wait_for(hold, std::chrono::milliseconds(100), [this] { return m_done; });
        }
    }

    QByteArray m_fifo;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_done = false;
    std::atomic<bool> m_released = false;
    std::thread m_thread;
};

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<Form1> form;

    // Starts a window in a fresh program folder, optionally with a settings file already there.
    void start(const QByteArray &settings = {}, int parts = ProgramFolder::All) {
        form.reset();
        folder.reset();
        folder = std::make_unique<ProgramFolder>(parts);
        if (!settings.isNull())
            writeAll(folder->path("Save.ini"), settings);
        form = folder->makeWindow(std::make_shared<ScriptedPresenter>());
        QVERIFY(form->Load(false));
    }
    // Starts a window whose settings file is whatever `prepare` puts at its name.
    void startWith(const std::function<void(const QString &ini)> &prepare) {
        form.reset();
        folder.reset();
        folder = std::make_unique<ProgramFolder>();
        prepare(ini());
        form = folder->makeWindow(std::make_shared<ScriptedPresenter>());
        QVERIFY(form->Load(false));
    }
    QString ini() const { return folder->path("Save.ini"); }
    QString value(const char *section, const char *key) const {
        return ini::ReadIni(ini(), section, key);
    }

  private slots:
    void cleanup() {
        form.reset();
        folder.reset();
    }

    // --- the ini module ---------------------------------------------------------------------

    void writeCreatesFileAndSection() {
        QTemporaryDir dir;
        const QString file = dir.filePath("Save.ini");
        QVERIFY(ini::WriteIni(file, "Save", "Save", "1"));
        QVERIFY(ini::WriteIni(file, "Pos", "Top", "-45"));
        QVERIFY(ini::WriteIni(file, "Save", "Lzh", "0"));
        QCOMPARE(readAll(file), QByteArray("[Save]\r\nSave=1\r\nLzh=0\r\n[Pos]\r\nTop=-45\r\n"));
        QCOMPARE(ini::ReadIni(file, "save", "LZH"), QString("0"));
        QCOMPARE(ini::ReadIni(file, "Pos", "Top"), QString("-45"));
        QCOMPARE(ini::ReadIni(file, "Pos", "Left"), QString());
        QCOMPARE(ini::ReadIni(file, "Nowhere", "Top"), QString());
        QCOMPARE(ini::ReadIni(dir.filePath("missing.ini"), "Save", "Save"), QString());
        QCOMPARE(ini::IniPath("/opt/tolvex"), QString("/opt/tolvex/"));
        QCOMPARE(ini::IniPath("/"), QString("/"));
    }

    void handEditedFileKeepsEveryOtherLine() {
        QTemporaryDir dir;
        const QString file = dir.filePath("Save.ini");
        const QByteArray edited = "; my settings\n[other]\nSave=9\n\n[SAVE]\n  save = 0 \n"
                                  "; keep this\nextra=yes\n\n[Pos]\nTop=1\n";
        writeAll(file, edited);
        QCOMPARE(ini::ReadIni(file, "Save", "Save"), QString("0"));
        QVERIFY(ini::WriteIni(file, "Save", "Save", "1"));
        QVERIFY(ini::WriteIni(file, "Save", "TOPMOST", "0"));
        QCOMPARE(readAll(file),
                 QByteArray("; my settings\n[other]\nSave=9\n\n[SAVE]\nSave=1\n"
                            "; keep this\nextra=yes\nTOPMOST=0\r\n\n[Pos]\nTop=1\n"));
        QCOMPARE(ini::ReadIni(file, "other", "save"), QString("9"));
    }

    void longValuesAreCut() {
        QTemporaryDir dir;
        const QString file = dir.filePath("Save.ini");
        writeAll(file, "[Save]\nSave=" + QByteArray(400, '7') + "\n");
        QCOMPARE(ini::ReadIni(file, "Save", "Save").size(), 254);
    }

    void readOnlyFileIsLeftAlone() {
        QTemporaryDir dir;
        const QString file = dir.filePath("Save.ini");
        writeAll(file, "[Save]\nSave=0\n");
        QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        QCOMPARE(ini::WriteIni(file, "Save", "Save", "1"), 0);
        QCOMPARE(readAll(file), QByteArray("[Save]\nSave=0\n"));
    }

    void readOnlyFolderLosesNothing() {
        QTemporaryDir dir;
        const QString file = dir.filePath("Save.ini");
        writeAll(file, "[Save]\nSave=0\nLzh=1\n");
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        ini::WriteIni(file, "Save", "Save", "1");
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // Written in place or not at all; never half, never lost.
        const QByteArray after = readAll(file);
        QVERIFY(after == "[Save]\nSave=0\nLzh=1\n" || after == "[Save]\nSave=1\nLzh=1\n");
    }

    void writeKeepsTheFilesPermissions() {
        QTemporaryDir dir;
        const QString file = dir.filePath("Save.ini");
        writeAll(file, "[Save]\nSave=0\n");
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0640) == 0);
        QVERIFY(ini::WriteIni(file, "Save", "Save", "1"));
        QCOMPARE(modeOf(file), 0640);
        QCOMPARE(readAll(file), QByteArray("[Save]\nSave=1\n"));
        // Nothing but the file itself is left in the folder.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"Save.ini"});
    }

    // A FIFO in the file's place would hold the reader until someone writes to it: it counts
    // as a missing file, and writing replaces it with a file.
    void fifoCountsAsMissingWithoutWaiting() {
        QTemporaryDir dir;
        const QString file = dir.filePath("Save.ini");
        QVERIFY(::mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
        FifoWatchdog watchdog(file);
        const QString read = ini::ReadIni(file, "Save", "Save");
        const int written = ini::WriteIni(file, "Save", "Save", "1");
        QVERIFY2(!watchdog.finish(), "blocked on the FIFO");
        QCOMPARE(read, QString());
        QCOMPARE(written, 1);
        QVERIFY(QFileInfo(file).isFile());
        QCOMPARE(readAll(file), QByteArray("[Save]\r\nSave=1\r\n"));
    }

    // A link to a device that never ends: reading it would take memory without bound.
    void linkToADeviceCountsAsMissing() {
        QTemporaryDir dir;
        const QString file = dir.filePath("Save.ini");
        QVERIFY(QFile::link("/dev/zero", file));
        QCOMPARE(ini::ReadIni(file, "Save", "Save"), QString());
        QVERIFY(ini::WriteIni(file, "Save", "Save", "1"));
        QVERIFY(!isLink(file));
        QCOMPARE(readAll(file), QByteArray("[Save]\r\nSave=1\r\n"));
    }

    // No settings file of ours is larger than 64 KiB; a larger one is taken for missing, not
    // read in part.
    void fileOver64KiBCountsAsMissing() {
        QTemporaryDir dir;
        const QString file = dir.filePath("Save.ini");
        QByteArray content = "[Save]\nSave=7\n;";
        content += QByteArray(64 * 1024 - content.size() - 1, 'x') + '\n';
        QCOMPARE(content.size(), 64 * 1024);
        writeAll(file, content);
        QCOMPARE(ini::ReadIni(file, "Save", "Save"), QString("7"));
        writeAll(file, content + '\n');
        QCOMPARE(ini::ReadIni(file, "Save", "Save"), QString());
    }

    // Writing replaces the name; the file a link there points at keeps its content, also where
    // the folder allows no new file and the file would be written in place.
    void linkToAnotherFileIsNeverWrittenThrough() {
        QTemporaryDir dir, elsewhere;
        const QString file = dir.filePath("Save.ini");
        const QString other = elsewhere.filePath("other.ini");
        writeAll(other, "[Save]\nSave=0\n");
        QVERIFY(QFile::link(other, file));

        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner);
        const int inReadOnlyFolder = ini::WriteIni(file, "Save", "Save", "1");
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // Refused, or (for a user the folder's mode does not bind) the link itself replaced.
        QVERIFY(inReadOnlyFolder == 0 || !isLink(file));
        QCOMPARE(readAll(other), QByteArray("[Save]\nSave=0\n"));

        QCOMPARE(ini::WriteIni(file, "Save", "Save", "1"), 1);
        QCOMPARE(readAll(other), QByteArray("[Save]\nSave=0\n"));
        QVERIFY(!isLink(file));
        QCOMPARE(ini::ReadIni(file, "Save", "Save"), QString("1"));
    }

    // --- what the window reads and writes ---------------------------------------------------

    void fifoSettingsFileDoesNotHoldUpStartUp() {
        std::unique_ptr<FifoWatchdog> watchdog;
        startWith([&](const QString &file) {
            QVERIFY(::mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
            watchdog = std::make_unique<FifoWatchdog>(file);
        });
        QVERIFY2(!watchdog->finish(), "start-up blocked on the FIFO");
        // Started as with no file, and the file made.
        QVERIFY(control<QCheckBox>(*form, "lzh_ch")->isChecked() &&
                control<QCheckBox>(*form, "Check2")->isChecked());
        QVERIFY(QFileInfo(ini()).isFile());
        QCOMPARE(value("Save", "Save"), QString("1"));
    }

    void settingsLinkedToADeviceStartAsMissing() {
        startWith([](const QString &file) { QVERIFY(QFile::link("/dev/zero", file)); });
        QVERIFY(control<QCheckBox>(*form, "lzh_ch")->isChecked());
        QVERIFY(!isLink(ini()));
        QCOMPARE(value("Save", "Save"), QString("1"));
    }

    void savingLeavesTheFileALinkPointsAtAlone() {
        QTemporaryDir elsewhere;
        const QString other = elsewhere.filePath("other.ini");
        const QByteArray otherContent = "[Save]\nSave=1\nLzh=1\nTOPMOST=1\n";
        writeAll(other, otherContent);
        startWith([&](const QString &file) { QVERIFY(QFile::link(other, file)); });
        control<QCheckBox>(*form, "lzh_ch")->setChecked(false);
        form->close();
        QCOMPARE(readAll(other), otherContent);
        QVERIFY(!isLink(ini()));
        QCOMPARE(value("Save", "Lzh"), QString("0"));
    }

    void firstStartCreatesTheFile() {
        start();
        QCOMPARE(value("Save", "Save"), QString("1"));
        QCOMPARE(value("Save", "Lzh"), QString("1"));
        QCOMPARE(value("Save", "TOPMOST"), QString("1"));
        QVERIFY(platform::isOnTop(form.get()));
        QVERIFY(control<QCheckBox>(*form, "lzh_ch")->isChecked());
    }

    void firstStartLeavesThePlaceToTheWindowSystem() {
        folder = std::make_unique<ProgramFolder>();
        form = folder->makeWindow(std::make_shared<ScriptedPresenter>());
        QVERIFY(form->Load(false));
        // Not moved to the top left corner, and no made-up position in the file.
        QVERIFY(!form->testAttribute(Qt::WA_Moved));
        QCOMPARE(value("Pos", "Top"), QString());
        QCOMPARE(value("Pos", "Left"), QString());

        // Where the window system puts the shown window is what the file gets.
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const QPoint placed(form->twipsToPixels(2250), form->twipsToPixels(1800));
        form->move(placed);
        QTRY_COMPARE(value("Pos", "Left"), QString::number(std::lround(
                                               form->pixelsToTwips(form->frameGeometry().left()))));
        QCOMPARE(value("Pos", "Top"),
                 QString::number(std::lround(form->pixelsToTwips(form->frameGeometry().top()))));

        // Later moves are the user's: saved at shutdown, not on the way.
        const QString left = value("Pos", "Left");
        form->move(placed + QPoint(30, 0));
        QCoreApplication::processEvents();
        QCOMPARE(value("Pos", "Left"), left);
    }

    void firstStartWithoutArchiverSavesCompressionOff() {
        start({}, ProgramFolder::Codec | ProgramFolder::Template);
        QCOMPARE(value("Save", "Lzh"), QString("0"));
    }

    void savedPositionAndChoicesAreApplied() {
        start("[Save]\nSave=1\nLzh=0\nTOPMOST=0\n[Pos]\nTop=1500\nLeft=-30000\n");
        QCOMPARE(form->pos(), QPoint(form->twipsToPixels(-30000), form->twipsToPixels(1500)));
        QVERIFY(!control<QCheckBox>(*form, "lzh_ch")->isChecked());
        QVERIFY(!control<QCheckBox>(*form, "Check1")->isChecked());
        QVERIFY(!platform::isOnTop(form.get())); // start-up put it on top first
    }

    void outOfRangeCountsAsOne() {
        start("[Save]\nSave=5\nLzh=-1\nTOPMOST=7\n[Pos]\nTop=0\nLeft=0\n");
        QVERIFY(control<QCheckBox>(*form, "Check2")->isChecked() &&
                control<QCheckBox>(*form, "lzh_ch")->isChecked() &&
                control<QCheckBox>(*form, "Check1")->isChecked());
        start("[Save]\nSave=-1\nLzh=0\nTOPMOST=0\n");
        QVERIFY(control<QCheckBox>(*form, "Check2")->isChecked() &&
                !control<QCheckBox>(*form, "lzh_ch")->isChecked());
    }

    void missingOrNonNumericValuesKeepStartUpValues() {
        start("[Save]\nSave=1\nLzh=yes\nTOPMOST=\n[Pos]\nTop=abc\n");
        QVERIFY(control<QCheckBox>(*form, "lzh_ch")->isChecked());
        QVERIFY(control<QCheckBox>(*form, "Check1")->isChecked());
        QVERIFY(platform::isOnTop(form.get()));
    }

    void compressionStaysOffWithoutArchiver() {
        start("[Save]\nSave=1\nLzh=1\nTOPMOST=1\n", ProgramFolder::Codec | ProgramFolder::Template);
        QVERIFY(!control<QCheckBox>(*form, "lzh_ch")->isChecked());
        QVERIFY(control<QCheckBox>(*form, "lzh_ch")->isHidden());
    }

    void uncheckedSaveWritesOnlySave() {
        start("[Save]\nSave=1\nLzh=1\nTOPMOST=1\n[Pos]\nTop=300\nLeft=450\n");
        control<QCheckBox>(*form, "Check2")->setChecked(false);
        control<QCheckBox>(*form, "Check1")->setChecked(false);
        form->move(form->pos() + QPoint(50, 50));
        form->close();
        QCOMPARE(value("Save", "Save"), QString("0"));
        QCOMPARE(value("Save", "TOPMOST"), QString("1"));
        QCOMPARE(value("Pos", "Top"), QString("300"));

        // The next start applies nothing but Save.
        form.reset();
        form = folder->makeWindow(std::make_shared<ScriptedPresenter>());
        const QPoint systemChosen = form->pos();
        QVERIFY(form->Load(false));
        QVERIFY(!control<QCheckBox>(*form, "Check2")->isChecked());
        QCOMPARE(form->pos(), systemChosen);
        QVERIFY(control<QCheckBox>(*form, "Check1")->isChecked() && platform::isOnTop(form.get()));
    }

    // The strong choice is saved and read as compression is; a file without it reads as off.
    void strongChoiceIsSavedLikeCompression() {
        start("[Save]\nSave=1\nLzh=1\nTOPMOST=1\n");
        QVERIFY(!control<QCheckBox>(*form, "strong_ch")->isChecked());
        control<QCheckBox>(*form, "strong_ch")->setChecked(true);
        form->close();
        QCOMPARE(value("Save", "Strong"), QString("1"));
        QCOMPARE(value("Save", "Lzh"), QString("1"));

        start("[Save]\nSave=1\nLzh=0\nTOPMOST=1\nStrong=1\n");
        QVERIFY(control<QCheckBox>(*form, "strong_ch")->isChecked());
        QVERIFY(control<QLineEdit>(*form, "Text3")->echoMode() == QLineEdit::Password);
        start("[Save]\nSave=0\nStrong=1\n"); // not applied when settings are not kept
        QVERIFY(!control<QCheckBox>(*form, "strong_ch")->isChecked());
    }

    void closingSavesTheCurrentChoices() {
        start();
        control<QCheckBox>(*form, "Check1")->setChecked(false);
        control<QCheckBox>(*form, "lzh_ch")->setChecked(false);
        form->move(form->twipsToPixels(3000), form->twipsToPixels(1200));
        form->close();
        QCOMPARE(value("Save", "TOPMOST"), QString("0"));
        QCOMPARE(value("Save", "Lzh"), QString("0"));
        QCOMPARE(value("Pos", "Left"), QString("3000"));
        QCOMPARE(value("Pos", "Top"), QString("1200"));
    }
};

QTEST_MAIN(SettingsTest)
#include "app_settings_test.moc"
