// The real window driven as a user would: drops, typing, START, the answers to every question,
// with the real codec library and Tolvex.dat and a scripted message box.
#include "form_controls.h"
#include "platform.h"
#include "program_folder.h"
#include "rules.h"
#include "scripted_presenter.h"
#include "text_compare.h"
#include "texts.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDirIterator>
#include <QDropEvent>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <sys/stat.h>

namespace {

void dropOn(QWidget *target, const QStringList &paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls << QUrl::fromLocalFile(p);
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

void writeFile(const QString &path, const QByteArray &content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QByteArray someContent(int length) {
    QByteArray b(length, 0);
    for (int i = 0; i < length; ++i)
        b[i] = char((i * 131 + 7) % 251);
    return b;
}

// The permission bits of the path itself (a link's own, not its target's); 0 when missing.
int modeOf(const QString &path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : 0;
}

QStringList entriesOf(const QString &folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

// The job folders the window's packing left in a private folder.
QStringList jobFoldersIn(const QString &folder) {
    return QDir(folder).entryList({QStringLiteral("job-*")}, QDir::AllEntries | QDir::Hidden);
}

// Every path below the folder, relative to it, sorted.
QStringList treeOf(const QString &folder) {
    QStringList paths;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << QDir(folder).relativeFilePath(it.next());
    paths.sort();
    return paths;
}

// The mode as the window shows it: the label over the output box names it.
QString modeShown(const Form1 &form) {
    return control<QLabel>(form, "label_2")->text();
}

// What a screen reader announces for the control.
QString accessibleName(QWidget *control) {
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
    return accessible ? accessible->text(QAccessible::Name) : QString();
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ProgramFolder> folder;
    std::shared_ptr<ScriptedPresenter> presenter;
    std::unique_ptr<Form1> form;
    // This run's user folders: the runtime folder, where the temporary archive goes while it is
    // sound, and the cache folder that serves otherwise.
    QTemporaryDir runtime;
    QTemporaryDir cache;

    QString privateFolder() const { return runtime.path() + "/tolvex"; }

    // A started window in a folder of its own; `parts` chooses which files lie there.
    void start(int parts = ProgramFolder::All) {
        form.reset();
        folder.reset(); // gives the working directory back before the next folder takes it
        folder = std::make_unique<ProgramFolder>(parts);
        presenter = std::make_shared<ScriptedPresenter>();
        form = folder->makeWindow(presenter);
        QVERIFY(form->Load(false));
        form->show();
    }

    // Drop, key, START; returns the messages shown during START.
    QList<ShownMessage> runStart(const QString &input, const QString &key) {
        dropOn(control<QLineEdit>(*form, "Text1"), {input});
        control<QLineEdit>(*form, "Text3")->setText(key);
        const qsizetype before = presenter->shown.size();
        control<QPushButton>(*form, "Command1")->click();
        return presenter->shown.mid(before);
    }

  private slots:
    void initTestCase() {
        QVERIFY(runtime.isValid() && cache.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    }
    void init() { start(); }
    void cleanup() {
        QCOMPARE(presenter ? presenter->unscriptedQuestions : 0, 0);
        form.reset();
        folder.reset();
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }

    void initialState() {
        QCOMPARE(form->windowTitle(), texts::kIdleCaption);
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(),
                 QString("ここにドラッグ＆ドロップして下さい。"));
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), QString("保存場所を決めてください"));
        QCOMPARE(control<QLineEdit>(*form, "Text2")->text(), QString("Tolvex"));
        QCOMPARE(control<QLineEdit>(*form, "Text3")->text(), QString());
        QCOMPARE(control<QLineEdit>(*form, "Text3")->maxLength(), 8);
        QVERIFY(control<QRadioButton>(*form, "Option1_0")->isChecked());
        QVERIFY(control<QRadioButton>(*form, "inpmode_0")->isChecked());
        QCOMPARE(control<QRadioButton>(*form, "inpmode_0")->text(), QString("偽装なし(.tvx)"));
        QCOMPARE(control<QRadioButton>(*form, "inpmode_15")->text(), QString(".zip"));
        QVERIFY(control<QCheckBox>(*form, "lzh_ch")->isChecked());
        QVERIFY(!control<QCheckBox>(*form, "lzh_ch")->isHidden());
        QVERIFY(control<QLabel>(*form, "lzh_lb")->isHidden());
        QVERIFY(control<QLabel>(*form, "label_7")->isHidden());
        QVERIFY(control<QCheckBox>(*form, "Check1")->isChecked() &&
                control<QCheckBox>(*form, "Check2")->isChecked());
        QVERIFY(platform::isOnTop(form.get()));
        QCOMPARE(form->height(), form->twipsToPixels(3390));
        QCOMPARE(form->width(), form->twipsToPixels(Form1::kCollapsedWidth));
        // Only the program sizes the window: no window manager may offer to resize it.
        QCOMPARE(form->minimumSize(), form->size());
        QCOMPARE(form->maximumSize(), form->size());
        QVERIFY(!form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        // Every control answers to its object name.
        for (const char *name :
             {"Text1",    "Text2",   "Text3",   "Text4",     "Command1",  "Command2",
              "Command3", "OK_BOT",  "Can_BOT", "Option1_0", "Option1_1", "lzh_ch",
              "lzh_lb",   "Check1",  "Check2",  "Frame1",    "inpmode_0", "inpmode_15",
              "label_7",  "label_0", "Drive1",  "Dir1",      "Line6"})
            QVERIFY2(form->findChild<QWidget *>(name), name);
        QCOMPARE(accessibleName(control<QLineEdit>(*form, "Text3")),
                 QString("←にキーを入れてください。"));
        // No drag is on: the pointer moving over the window leaves it where it is.
        const QPoint at = form->pos();
        QMouseEvent moved(QEvent::MouseMove, QPointF(40, 40), form->mapToGlobal(QPointF(40, 40)),
                          Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.get(), &moved);
        QCOMPARE(form->pos(), at);
        // The panel starts at the program's folder: OK puts the output there.
        control<QPushButton>(*form, "Command2")->click();
        control<QPushButton>(*form, "OK_BOT")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("Tolvex"));
    }

    void showMessageBringsWindowBackAndLeavesTopWhileOpen() {
        form->hide();
        presenter->answers = {rules::kAnswerCancel};
        QCOMPARE(form->ShowMessage("a\rb", 65, "t"), int(rules::kAnswerCancel));
        QCOMPARE(presenter->shown.size(), 1);
        QVERIFY(presenter->shown[0].windowVisible);
        QVERIFY(!presenter->shown[0].windowOnTop);
        QVERIFY(platform::isOnTop(form.get()));

        control<QCheckBox>(*form, "Check1")->setChecked(false);
        platform::takeOffTop(form.get());
        QCOMPARE(form->ShowMessage("x", 0, "t"), int(rules::kAnswerOk));
        QVERIFY(!platform::isOnTop(form.get()));
    }

    void keyBoxTakesOnlyHexDigits() {
        QTest::keyClicks(control<QLineEdit>(*form, "Text3"), "1g-Z aF");
        QTest::keyClick(control<QLineEdit>(*form, "Text3"), Qt::Key_Return);
        QCOMPARE(control<QLineEdit>(*form, "Text3")->text(), QString("1aF"));
        QTest::keyClick(control<QLineEdit>(*form, "Text3"), Qt::Key_Backspace);
        QCOMPARE(control<QLineEdit>(*form, "Text3")->text(), QString("1a"));
        QTest::keyClicks(control<QLineEdit>(*form, "Text3"), "bcdef0123");
        QCOMPARE(control<QLineEdit>(*form, "Text3")->text(),
                 QString("1abcdef0")); // a ninth character is refused

        control<QLineEdit>(*form, "Text3")->clear();
        QGuiApplication::clipboard()->setText("x1 y2-z3");
        QTest::keySequence(control<QLineEdit>(*form, "Text3"), QKeySequence::Paste);
        QCOMPARE(control<QLineEdit>(*form, "Text3")->text(), QString("123"));

        // Text from an input method is held to the same alphabet.
        QInputMethodEvent composed;
        composed.setCommitString("4z5");
        QCoreApplication::sendEvent(control<QLineEdit>(*form, "Text3"), &composed);
        QCOMPARE(control<QLineEdit>(*form, "Text3")->text(), QString("123"));
        QVERIFY(!control<QLineEdit>(*form, "Text3")->acceptDrops());
    }

    void startBeforeAnyDropFindsNoFile() {
        control<QCheckBox>(*form, "lzh_ch")->setChecked(false);
        control<QLineEdit>(*form, "Text3")->setText("1234");
        control<QPushButton>(*form, "Command1")->click();
        QCOMPARE(presenter->texts(), QStringList{texts::kSourceMissing});
        QCOMPARE(presenter->shown[0].windowTitle, rules::busyCaption(rules::Mode::Encrypt));
        QVERIFY(form->isVisible());
        QCOMPARE(form->windowTitle(), texts::kIdleCaption);
    }

    void dropsFollowTheAcceptanceRules() {
        QDir(folder->path()).mkpath("in/sub.d");
        writeFile(folder->path("in/a.txt"), "a");
        writeFile(folder->path("in/.hidden"), "h");
        control<QCheckBox>(*form, "lzh_ch")->setChecked(false);

        dropOn(control<QLineEdit>(*form, "Text1"),
               {folder->path("in/a.txt"), folder->path("in/.hidden")});
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(),
                 folder->path("in/a.txt")); // the first item counts
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("in/Tolvex"));
        // The folder beside the input is the box's text without the dropped file's name.
        control<QLineEdit>(*form, "Text2")->setText("other");
        control<QPushButton>(*form, "Command3")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("in/other"));
        control<QLineEdit>(*form, "Text2")->setText("Tolvex");

        dropOn(control<QLineEdit>(*form, "Text1"), {folder->path("in/sub.d")});
        QCOMPARE(presenter->texts().last(), texts::kDropAFileUncompressed);
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(),
                 folder->path("in/a.txt")); // the previous input stays
        QCOMPARE(control<QLabel>(*form, "label_1")->text(), rules::inputLabel(false));

        dropOn(control<QLineEdit>(*form, "Text1"), {folder->path("in/.hidden")});
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(), folder->path("in/.hidden"));

        control<QCheckBox>(*form, "lzh_ch")->setChecked(true);
        dropOn(control<QLineEdit>(*form, "Text1"), {folder->path("in/sub.d")});
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(), folder->path("in/sub.d"));
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("in/Tolvex"));
        // A folder leaves no dropped name: a file typed in afterwards is cut by nothing.
        control<QLineEdit>(*form, "Text1")->setText(folder->path("in/a.txt"));
        control<QPushButton>(*form, "Command3")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), folder->path("in/a.txtTolvex"));

        control<QRadioButton>(*form, "Option1_1")->click();
        dropOn(control<QLineEdit>(*form, "Text1"), {folder->path("in/sub.d")});
        QCOMPARE(presenter->texts().last(), texts::kDropAFile);
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(), texts::kDropPrompt);

        control<QPushButton>(*form, "Command2")->click(); // the location is the user's own now
        control<QLineEdit>(*form, "Text4")->setText("/chosen/base");
        dropOn(control<QLineEdit>(*form, "Text1"), {folder->path("in/a.txt")});
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(), folder->path("in/a.txt"));
        QCOMPARE(control<QLineEdit>(*form, "Text4")->text(), QString("/chosen/base"));
        QCOMPARE(presenter->shown.size(), 2);
    }

    void modeSwitchKeepsChoices() {
        control<QRadioButton>(*form, "inpmode_6")->setChecked(true);
        control<QLineEdit>(*form, "Text1")->setText("/some/file");
        control<QRadioButton>(*form, "Option1_1")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(), texts::kDropPrompt);
        QVERIFY(!control<QLabel>(*form, "label_7")->isHidden());
        QVERIFY(!control<QGroupBox>(*form, "Frame1")->isEnabled() &&
                !control<QCheckBox>(*form, "lzh_ch")->isEnabled());
        QVERIFY(!control<QRadioButton>(*form, "inpmode_3")->isEnabled());
        QCOMPARE(control<QLabel>(*form, "label_1")->text(), rules::inputLabel(false));
        QCOMPARE(control<QLabel>(*form, "label_2")->text(),
                 QString("↓として復号化したファイルを保存します"));

        control<QRadioButton>(*form, "Option1_0")->click();
        QVERIFY(control<QLabel>(*form, "label_7")->isHidden());
        QVERIFY(control<QGroupBox>(*form, "Frame1")->isEnabled() &&
                control<QCheckBox>(*form, "lzh_ch")->isEnabled() &&
                control<QRadioButton>(*form, "inpmode_3")->isEnabled());
        QVERIFY(control<QRadioButton>(*form, "inpmode_6")->isChecked() &&
                control<QCheckBox>(*form, "lzh_ch")->isChecked());
        QCOMPARE(control<QLabel>(*form, "label_1")->text(), rules::inputLabel(true));
        QCOMPARE(control<QLabel>(*form, "label_2")->text(),
                 QString("↓として暗号化したファイルを保存します"));

        control<QLineEdit>(*form, "Text1")->setText("/x");
        control<QCheckBox>(*form, "lzh_ch")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(), texts::kDropPrompt);
        QCOMPARE(control<QLabel>(*form, "label_1")->text(), rules::inputLabel(false));
    }

    // --- the two groups of option buttons ---------------------------------------------------

    void clickingTheSelectedModeKeepsIt() {
        control<QRadioButton>(*form, "inpmode_6")->setChecked(true);
        const QString shownBefore = modeShown(*form);
        QTest::mouseClick(control<QRadioButton>(*form, "Option1_0"), Qt::LeftButton);
        QVERIFY(control<QRadioButton>(*form, "Option1_0")->isChecked());
        QVERIFY(!control<QRadioButton>(*form, "Option1_1")->isChecked());
        QVERIFY(control<QRadioButton>(*form, "inpmode_6")->isChecked());
        QCOMPARE(modeShown(*form), shownBefore); // the mode handler did not run

        QTest::mouseClick(control<QRadioButton>(*form, "Option1_1"), Qt::LeftButton);
        QTest::mouseClick(control<QRadioButton>(*form, "Option1_1"), Qt::LeftButton);
        QVERIFY(control<QRadioButton>(*form, "Option1_1")->isChecked());
        QVERIFY(!control<QRadioButton>(*form, "Option1_0")->isChecked());
        QCOMPARE(modeShown(*form), rules::outputLabel(rules::Mode::Decrypt));
        QVERIFY(control<QRadioButton>(*form, "inpmode_6")->isChecked());

        // A disguise click leaves the mode alone, and the other way round.
        control<QRadioButton>(*form, "Option1_0")->click();
        QTest::mouseClick(control<QRadioButton>(*form, "inpmode_15"), Qt::LeftButton);
        QVERIFY(control<QRadioButton>(*form, "inpmode_15")->isChecked() &&
                !control<QRadioButton>(*form, "inpmode_6")->isChecked());
        QVERIFY(control<QRadioButton>(*form, "Option1_0")->isChecked());
    }

    void arrowKeysStayInsideTheirGroup() {
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        control<QRadioButton>(*form, "inpmode_6")->setChecked(true);

        control<QRadioButton>(*form, "Option1_0")->setFocus();
        QTest::keyClick(control<QRadioButton>(*form, "Option1_0"), Qt::Key_Down);
        QVERIFY(
            control<QRadioButton>(*form, "inpmode_6")->isChecked()); // the disguise is not replaced
        QVERIFY(control<QRadioButton>(*form, "Option1_0")->isChecked());
        QCOMPARE(QApplication::focusWidget(), control<QRadioButton>(*form, "Option1_0"));

        // Moving to the other mode by key runs the mode handler.
        QTest::keyClick(control<QRadioButton>(*form, "Option1_0"), Qt::Key_Right);
        QVERIFY(control<QRadioButton>(*form, "Option1_1")->isChecked());
        QCOMPARE(modeShown(*form), rules::outputLabel(rules::Mode::Decrypt));
        QVERIFY(!control<QLabel>(*form, "label_7")->isHidden());
        QVERIFY(!control<QRadioButton>(*form, "inpmode_6")->isEnabled());
        QTest::keyClick(control<QRadioButton>(*form, "Option1_1"), Qt::Key_Left);
        QVERIFY(control<QRadioButton>(*form, "Option1_0")->isChecked());
        QCOMPARE(modeShown(*form), rules::outputLabel(rules::Mode::Encrypt));
        QVERIFY(control<QRadioButton>(*form, "inpmode_6")->isEnabled() &&
                control<QRadioButton>(*form, "inpmode_6")->isChecked());

        // From the disguises, no key reaches the mode buttons.
        control<QRadioButton>(*form, "inpmode_6")->setFocus();
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        QVERIFY(control<QRadioButton>(*form, "Option1_0")->isChecked());
        QVERIFY(qobject_cast<QRadioButton *>(QApplication::focusWidget()));
        QCOMPARE(QApplication::focusWidget()->parentWidget(), control<QGroupBox>(*form, "Frame1"));
        QVERIFY(!control<QRadioButton>(*form, "inpmode_6")->isChecked());
        QCOMPARE(QApplication::focusWidget(), form->findChild<QRadioButton *>("inpmode_0"));
        QVERIFY(control<QRadioButton>(*form, "inpmode_0")->isChecked());
    }

    void aModeSelectedByCodeOrScreenReaderRunsTheHandler() {
        control<QLineEdit>(*form, "Text1")->setText("/some/file");
        control<QRadioButton>(*form, "Option1_1")->setChecked(true);
        QCOMPARE(modeShown(*form), rules::outputLabel(rules::Mode::Decrypt));
        QVERIFY(!control<QLabel>(*form, "label_7")->isHidden());
        QVERIFY(!control<QGroupBox>(*form, "Frame1")->isEnabled() &&
                !control<QCheckBox>(*form, "lzh_ch")->isEnabled());
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(), texts::kDropPrompt);

        // The toggle action a screen reader offers on an option button.
        QAccessibleInterface *encrypt =
            QAccessible::queryAccessibleInterface(control<QRadioButton>(*form, "Option1_0"));
        QVERIFY(encrypt && encrypt->actionInterface());
        QVERIFY(encrypt->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::toggleAction()));
        encrypt->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(control<QRadioButton>(*form, "Option1_0")->isChecked() &&
                !control<QRadioButton>(*form, "Option1_1")->isChecked());
        QCOMPARE(modeShown(*form), rules::outputLabel(rules::Mode::Encrypt));
        QVERIFY(control<QLabel>(*form, "label_7")->isHidden());
        QVERIFY(control<QGroupBox>(*form, "Frame1")->isEnabled() &&
                control<QRadioButton>(*form, "inpmode_3")->isEnabled());

        // Toggling the selected mode cannot leave the window with none.
        encrypt->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QVERIFY(control<QRadioButton>(*form, "Option1_0")->isChecked());
        QCOMPARE(modeShown(*form), rules::outputLabel(rules::Mode::Encrypt));

        // A decryption chosen through the screen reader decrypts at START.
        control<QCheckBox>(*form, "lzh_ch")->setChecked(false);
        writeFile(folder->path("plain.txt"), "plain");
        runStart(folder->path("plain.txt"), "42");
        QAccessible::queryAccessibleInterface(control<QRadioButton>(*form, "Option1_1"))
            ->actionInterface()
            ->doAction(QAccessibleActionInterface::toggleAction());
        control<QLineEdit>(*form, "Text2")->setText("back");
        const auto shown = runStart(folder->path("Tolvex.tvx"), "42");
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.endsWith("\r ファイルチェック:GOOD"));
        QCOMPARE(readFile(folder->path("back.txt")), QByteArray("plain"));
    }

    // --- what screen readers announce -------------------------------------------------------

    void accessibleNamesFollowTheCaptions() {
        QCOMPARE(accessibleName(control<QLineEdit>(*form, "Text1")),
                 QString("↓に変換するファイル or フォルダを入れてください"));
        QCOMPARE(accessibleName(control<QLineEdit>(*form, "Text4")),
                 QString("↓作成するファイル名(拡張子は自動で付きます)"));
        QCOMPARE(accessibleName(control<QLineEdit>(*form, "Text2")), QString("↓ファイル名"));
        QCOMPARE(accessibleName(control<QRadioButton>(*form, "Option1_1")), QString("復号化"));
        QCOMPARE(accessibleName(control<QGroupBox>(*form, "Frame1")), QString("偽装モード設定"));

        control<QRadioButton>(*form, "Option1_1")->click();
        QCOMPARE(accessibleName(control<QLineEdit>(*form, "Text1")),
                 QString("↓に変換するファイルを入れてください"));
        QCOMPARE(accessibleName(control<QLineEdit>(*form, "Text4")),
                 QString("↓として復号化したファイルを保存します"));

        control<QRadioButton>(*form, "Option1_0")->click();
        QCOMPARE(accessibleName(control<QLineEdit>(*form, "Text4")),
                 QString("↓として暗号化したファイルを保存します"));
        control<QCheckBox>(*form, "lzh_ch")->click();
        QCOMPARE(accessibleName(control<QLineEdit>(*form, "Text1")),
                 QString("↓に変換するファイルを入れてください"));
    }

    // --- drops, the native window, the size -------------------------------------------------

    void onlyTheInputBoxTakesDrops() {
        QLineEdit *input = control<QLineEdit>(*form, "Text1");
        for (QWidget *widget : form->findChildren<QWidget *>())
            QVERIFY2(widget->acceptDrops() == (widget == input), qPrintable(widget->objectName()));
        QVERIFY(!form->acceptDrops());
    }

    void theNativeWindowStaysTheSame() {
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const WId id = form->winId();
        const QWindow *handle = form->windowHandle();
        const int collapsed = form->twipsToPixels(Form1::kCollapsedWidth);

        control<QCheckBox>(*form, "Check1")->click();
        QVERIFY(!platform::isOnTop(form.get()));
        control<QCheckBox>(*form, "Check1")->click();
        QVERIFY(platform::isOnTop(form.get()));
        form->ShowMessage("x", 0, "t");
        control<QCheckBox>(*form, "lzh_ch")->setChecked(false);
        writeFile(folder->path("in.txt"), "x");
        QCOMPARE(runStart(folder->path("in.txt"), "1").size(), 1);
        QCOMPARE(form->winId(), id);
        QCOMPARE(form->windowHandle(), handle);
        QCOMPARE(form->width(), collapsed);

        control<QPushButton>(*form, "Command2")->click();
        presenter->answers = {rules::kAnswerCancel};
        QCOMPARE(runStart(folder->path("in.txt"), "1").size(), 1); // the overwrite question
        QCOMPARE(form->width(), form->twipsToPixels(Form1::kExpandedWidth));
        QCOMPARE(form->maximumWidth(), form->width());
        control<QPushButton>(*form, "Can_BOT")->click();
        QCOMPARE(form->width(), collapsed);
        QCOMPARE(form->winId(), id);
    }

    // The strong option: the key box takes a passphrase and its labels say so; decrypting, the
    // input tells whether it is strong, and the user's choice comes back for encryption.
    void strongOptionSwitchesTheKeyBox() {
        control<QCheckBox>(*form, "lzh_ch")->setChecked(false);
        QVERIFY(!control<QCheckBox>(*form, "strong_ch")->isChecked() &&
                control<QCheckBox>(*form, "strong_ch")->isEnabled());
        QCOMPARE(control<QCheckBox>(*form, "strong_ch")->text(), QString("強力"));
        QVERIFY(!control<QCheckBox>(*form, "strong_ch")->toolTip().isEmpty());
        QVERIFY(!control<QCheckBox>(*form, "strong_ch")->accessibleDescription().isEmpty());
        control<QLineEdit>(*form, "Text3")->setFocus();
        QTest::keyClicks(control<QLineEdit>(*form, "Text3"), "12g4");
        QCOMPARE(control<QLineEdit>(*form, "Text3")->text(), QString("124"));

        control<QCheckBox>(*form, "strong_ch")->click();
        QVERIFY(control<QLineEdit>(*form, "Text3")->text().isEmpty()); // a key is no passphrase
        QTest::keyClicks(control<QLineEdit>(*form, "Text3"), "Green tea #123456789");
        QCOMPARE(control<QLineEdit>(*form, "Text3")->text(), QString("Green tea #123456789"));
        QCOMPARE(control<QLineEdit>(*form, "Text3")->echoMode(), QLineEdit::Password);
        QCOMPARE(control<QLabel>(*form, "label_5")->text(),
                 QString("←にパスフレーズを入れてください。"));
        QCOMPARE(control<QLabel>(*form, "label_4")->text(), texts::kPassphraseHint);
        QCOMPARE(accessibleName(control<QLineEdit>(*form, "Text3")),
                 QString("←にパスフレーズを入れてください。"));

        writeFile(folder->path("plain.txt"), "plain");
        runStart(folder->path("plain.txt"), "1"); // keeps the strong choice: it asks again
        QCOMPARE(presenter->asked, QStringList{texts::kConfirmPassphrase});
        control<QCheckBox>(*form, "strong_ch")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text3")->echoMode(), QLineEdit::Normal);
        QCOMPARE(control<QLabel>(*form, "label_5")->text(), texts::kKeyLabel);
        QCOMPARE(control<QLabel>(*form, "label_4")->text(), texts::kKeyHint);

        // A classic and a strong file of the same content, then decryption.
        writeFile(folder->path("other.txt"), "other");
        runStart(folder->path("other.txt"), "5");
        QVERIFY(QFileInfo::exists(folder->path("Tolvex.tvx")));
        QVERIFY(QFile::rename(folder->path("Tolvex.tvx"), folder->path("classic.tvx")));
        control<QCheckBox>(*form, "strong_ch")->click();
        presenter->passphrases = {QString("pw")};
        runStart(folder->path("other.txt"), "pw");
        QVERIFY(QFile::rename(folder->path("Tolvex.tvx"), folder->path("strong.tvx")));

        // Decrypting, the box says what the key box holds: a file of version 2 tells nothing of
        // itself, one of version 1 sets the box while it is the input.
        control<QRadioButton>(*form, "Option1_1")->click();
        QVERIFY(control<QCheckBox>(*form, "strong_ch")->isEnabled());
        QVERIFY(!control<QCheckBox>(*form, "strong_ch")->isChecked());
        control<QLineEdit>(*form, "Text2")->setText("back"); // the output path follows the drop
        dropOn(control<QLineEdit>(*form, "Text1"), {folder->path("strong.tvx")});
        QVERIFY(!control<QCheckBox>(*form, "strong_ch")->isChecked());
        control<QCheckBox>(*form, "strong_ch")->click();
        QCOMPARE(control<QLineEdit>(*form, "Text3")->echoMode(), QLineEdit::Password);
        control<QLineEdit>(*form, "Text3")->setText("pw");
        control<QPushButton>(*form, "Command1")->click();
        QCOMPARE(presenter->shown.last().text.left(9), QString("処理が終了しました"));
        QCOMPARE(readFile(folder->path("back.txt")), QByteArray("other"));

        // The choice stays for the next file; a classic one still opens with its key in it.
        control<QLineEdit>(*form, "Text2")->setText("classic-back");
        dropOn(control<QLineEdit>(*form, "Text1"), {folder->path("classic.tvx")});
        QVERIFY(control<QCheckBox>(*form, "strong_ch")->isChecked());
        control<QLineEdit>(*form, "Text3")->setText("5");
        control<QPushButton>(*form, "Command1")->click();
        QCOMPARE(readFile(folder->path("classic-back.txt")), QByteArray("other"));

        control<QCheckBox>(*form, "strong_ch")->click(); // the key box takes a key again
        QCOMPARE(control<QLineEdit>(*form, "Text3")->echoMode(), QLineEdit::Normal);
        QVERIFY(QFile::copy(QStringLiteral(TOLVEX_STRONG_VECTORS "/vector-none.tvx"),
                            folder->path("version1.tvx")));
        dropOn(control<QLineEdit>(*form, "Text1"), {folder->path("version1.tvx")});
        QVERIFY(control<QCheckBox>(*form, "strong_ch")->isChecked());
        dropOn(control<QLineEdit>(*form, "Text1"), {folder->path("classic.tvx")});
        QVERIFY(!control<QCheckBox>(*form, "strong_ch")->isChecked()); // the user's choice again

        control<QRadioButton>(*form, "Option1_0")->click();
        QVERIFY(control<QCheckBox>(*form, "strong_ch")->isEnabled() &&
                control<QCheckBox>(*form, "strong_ch")->isChecked()); // the user's choice
    }

    void encryptThenDecrypt_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("extension");
        QTest::newRow("no disguise") << 0 << ".tvx";
        QTest::newRow("png") << 6 << ".png";
        QTest::newRow("avi") << 14 << ".avi";
        QTest::newRow("zip") << 15 << ".zip";
    }
    void encryptThenDecrypt() {
        QFETCH(int, kind);
        QFETCH(QString, extension);
        control<QCheckBox>(*form, "lzh_ch")->setChecked(false);
        QDir(folder->path()).mkpath("work");
        const QByteArray content = someContent(5000 + kind);
        writeFile(folder->path("work/report.doc"), content);
        control<QRadioButton>(*form, QStringLiteral("inpmode_%1").arg(kind))->setChecked(true);

        auto shown = runStart(folder->path("work/report.doc"), "8a5c");
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QString("報告"));
        QCOMPARE(shown[0].style, 64);
        QVERIFY(shown[0].text.startsWith("処理が終了しました。\r所要時間："));
        QCOMPARE(shown[0].windowTitle, rules::busyCaption(rules::Mode::Encrypt));
        const QString encoded = folder->path("work/Tolvex") + extension;
        QVERIFY(QFileInfo::exists(encoded));
        QCOMPARE(form->windowTitle(), texts::kIdleCaption);
        QVERIFY(form->isVisible() && platform::isOnTop(form.get()));

        control<QRadioButton>(*form, "Option1_1")->click();
        control<QLineEdit>(*form, "Text2")->setText("back");
        shown = runStart(encoded, "8A5C");
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text.endsWith("\r ファイルチェック:GOOD"));
        QCOMPARE(shown[0].windowTitle, rules::busyCaption(rules::Mode::Decrypt));
        QCOMPARE(readFile(folder->path("work/back.doc")), content);
    }

    void compressedFolderRoundTrip() {
        const QString tree = folder->path("photos 写真");
        QDir(tree).mkpath("nested/deeper");
        QDir(tree).mkpath("empty");
        writeFile(tree + "/a.txt", "alpha");
        writeFile(tree + "/nested/deeper/b.bin", someContent(70000));
        writeFile(tree + "/nested/empty file", "");
        // A real archive left by an earlier run in the private folder: the archiver adds to an
        // archive it finds, and none of its members may end up in this one.
        QTemporaryDir earlier;
        writeFile(earlier.filePath("leaked.txt"), "from an earlier run");
        QVERIFY(QDir().mkpath(privateFolder()));
        const QString stale = privateFolder() + "/temp.lzh";
        Libraries archiver("libHalvet_Tolvex.so", "libunlha32.so", folder->path());
        QCOMPARE(
            archiver.Unlha(rules::packCommandLine(stale, earlier.filePath("leaked.txt")).value())
                .value_or(-1),
            0);
        const QByteArray staleBytes = readFile(stale);

        control<QRadioButton>(*form, "inpmode_4")->setChecked(true);
        auto shown = runStart(tree, "77");
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QString("報告"));
        QVERIFY(QFileInfo::exists(folder->path("Tolvex.lzh")));
        // Nothing staged beside the output; the job's own folder gone, the earlier file untouched.
        QVERIFY(!QFileInfo::exists(folder->path("temp")));
        QCOMPARE(entriesOf(privateFolder()), QStringList{"temp.lzh"});
        QCOMPARE(readFile(stale), staleBytes);
        QVERIFY(QFile::remove(stale));

        QDir(folder->path()).mkpath("restore");
        QFile::rename(folder->path("Tolvex.lzh"), folder->path("restore/enc.lzh"));
        control<QRadioButton>(*form, "Option1_1")->click();
        control<QLineEdit>(*form, "Text2")->setText("back");
        presenter->answers = {rules::kAnswerYes, rules::kAnswerYes};
        shown = runStart(folder->path("restore/enc.lzh"), "77");
        QCOMPARE(presenter->texts().mid(presenter->shown.size() - 2),
                 (QStringList{texts::kOfferExtract, texts::kOfferDelete}));
        QCOMPARE(shown.size(), 2); // no finish text after the archive was handled
        QVERIFY(!QFileInfo::exists(folder->path("restore/back.lzh")));
        const QString restored = folder->path("restore/photos 写真");
        QCOMPARE(readFile(restored + "/a.txt"), QByteArray("alpha"));
        QCOMPARE(readFile(restored + "/nested/deeper/b.bin"), someContent(70000));
        QCOMPARE(readFile(restored + "/nested/empty file"), QByteArray());
        QVERIFY(QFileInfo(restored + "/empty").isDir());
        QCOMPARE(treeOf(folder->path("restore")),
                 (QStringList{"enc.lzh", "photos 写真", "photos 写真/a.txt", "photos 写真/empty",
                              "photos 写真/nested", "photos 写真/nested/deeper",
                              "photos 写真/nested/deeper/b.bin", "photos 写真/nested/empty file"}));
    }

    // The archive holds the plaintext: while it exists it is in a folder of this job, 0700,
    // inside the user's private folder (0700), whatever the umask; afterwards none of it is left.
    void temporaryArchiveIsPrivate_data() {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 022") << 022;
        QTest::newRow("umask 077") << 077;
    }
    void temporaryArchiveIsPrivate() {
        QFETCH(int, mask);
        QVERIFY(QDir(privateFolder()).removeRecursively()); // made afresh under this umask
        QStringList during;
        QList<int> modesDuring;
        int privateModeDuring = 0;
        presenter->whileShown = [&](const QString &prompt) {
            // The missing input is found with the job's folder already made.
            if (prompt != texts::kFileNotFound)
                return;
            privateModeDuring = modeOf(privateFolder());
            during = entriesOf(privateFolder());
            for (const QString &name : during)
                modesDuring << modeOf(privateFolder() + "/" + name);
        };
        writeFile(folder->path("in.txt"), "plaintext");
        const mode_t before = ::umask(mode_t(mask));
        control<QLineEdit>(*form, "Text3")->setText("5");
        control<QPushButton>(*form, "Command1")->click(); // no input dropped: nothing to pack
        const auto shown = runStart(folder->path("in.txt"), "5");
        ::umask(before);

        QCOMPARE(presenter->texts().mid(0, 2),
                 (QStringList{texts::kFileNotFound, texts::kPackFailed}));
        QCOMPARE(privateModeDuring, 0700);
        QCOMPARE(during.size(), 1);
        QVERIFY(during[0].startsWith("job-"));
        QCOMPARE(modesDuring, QList<int>{0700});

        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QString("報告"));
        QVERIFY(QFileInfo::exists(folder->path("Tolvex.tvx")));
        QCOMPARE(modeOf(privateFolder()), 0700);
        QCOMPARE(entriesOf(privateFolder()), QStringList());
        QVERIFY(!QFileInfo::exists(folder->path("temp")));
        // The cache may hold the engine's records of its temporaries, never a job's folder.
        QCOMPARE(jobFoldersIn(cache.filePath("tolvex")), QStringList());
    }

    // The packed and encrypted output is as readable as its input, and no more.
    void compressedOutputKeepsTheInputsPermissions_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("private") << 0600;
        QTest::newRow("readable") << 0644;
    }
    void compressedOutputKeepsTheInputsPermissions() {
        QFETCH(int, mode);
        writeFile(folder->path("in.txt"), "plaintext");
        QVERIFY(::chmod(QFile::encodeName(folder->path("in.txt")).constData(), mode_t(mode)) == 0);
        const mode_t before = ::umask(022);
        const auto shown = runStart(folder->path("in.txt"), "5");
        ::umask(before);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QString("報告"));
        QCOMPARE(modeOf(folder->path("Tolvex.tvx")), mode);
    }

    // A runtime folder others may write is no place for the archive: the cache folder serves.
    void insecureRuntimeFolderFallsBackToTheCache() {
        QTemporaryDir shared;
        QVERIFY(QFile::setPermissions(shared.path(), QFile::Permissions(0x7777)));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(shared.path()));
        writeFile(folder->path("in.txt"), "plaintext");
        const auto shown = runStart(folder->path("in.txt"), "5");
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].title, QString("報告"));
        QCOMPARE(entriesOf(shared.path()), QStringList());
        QCOMPARE(modeOf(cache.filePath("tolvex")), 0700);
        QCOMPARE(jobFoldersIn(cache.filePath("tolvex")), QStringList());
        QVERIFY(QDir(cache.filePath("tolvex")).removeRecursively());
    }

    // A private folder that is a link to elsewhere is neither followed nor used: nothing is
    // packed, and the link's target gains nothing.
    void privateFolderThatIsALinkIsRefused() {
        QTemporaryDir elsewhere;
        QVERIFY(QFile::setPermissions(elsewhere.path(), QFile::Permissions(0x7755)));
        QVERIFY(QDir(privateFolder()).removeRecursively());
        QVERIFY(QFile::link(elsewhere.path(), privateFolder()));
        writeFile(folder->path("in.txt"), "plaintext");
        const auto shown = runStart(folder->path("in.txt"), "5");
        const bool wasLink = QFileInfo(privateFolder()).isSymLink();
        QFile::remove(privateFolder());
        QVERIFY(wasLink);
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, texts::kPackFailed);
        QCOMPARE(entriesOf(elsewhere.path()), QStringList());
        QCOMPARE(modeOf(elsewhere.path()), 0755);
        QVERIFY(!QFileInfo::exists(folder->path("Tolvex.tvx")));
        QVERIFY(!QFileInfo::exists(folder->path("temp")));
    }

    void withoutArchiverCompressionIsHidden() {
        start(ProgramFolder::Codec | ProgramFolder::Template);
        QVERIFY(control<QCheckBox>(*form, "lzh_ch")->isHidden());
        QVERIFY(!control<QCheckBox>(*form, "lzh_ch")->isChecked());
        QVERIFY(!control<QLabel>(*form, "lzh_lb")->isHidden());
        QCOMPARE(control<QLabel>(*form, "lzh_lb")->text(), QString("libunlha32.so 未導入"));
        QCOMPARE(control<QLabel>(*form, "label_1")->text(), rules::inputLabel(false));

        // A decrypted archive can then only be reported.
        writeFile(folder->path("packed.lzh"), "not really an archive");
        runStart(folder->path("packed.lzh"), "9");
        control<QRadioButton>(*form, "Option1_1")->click();
        control<QLineEdit>(*form, "Text2")->setText("out");
        const auto shown = runStart(folder->path("Tolvex.tvx"), "9");
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].text, texts::kLzhWithoutArchiver);
        QCOMPARE(shown[0].title, QString("lzhの処理ができません。"));
        QVERIFY(QFileInfo::exists(folder->path("out.lzh")));
    }
};

QTEST_MAIN(WindowTest)
#include "app_window_test.moc"
