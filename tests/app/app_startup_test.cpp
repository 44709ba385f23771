// Start-up: a second copy, a missing codec library or Tolvex.dat end the program with their
// message, before anything is set up or written.
#include "form1.h"
#include "form_controls.h"
#include "program_folder.h"
#include "scripted_presenter.h"
#include "text_compare.h"
#include "texts.h"

#include <QTemporaryDir>
#include <QTest>

// What a folder holds under the codec library's name.
enum Copy { None, Good, Damaged };

class StartupTest : public QObject {
    Q_OBJECT

    // Starts a window in a folder holding `parts`; returns whether it may go on.
    bool startWith(int parts, std::shared_ptr<ScriptedPresenter> presenter,
                   bool anotherCopy = false) {
        ProgramFolder folder(parts);
        const auto listing = [&] {
            return QDir(folder.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        };
        const QStringList before = listing();
        auto form = folder.makeWindow(presenter);
        const bool ok = form->Load(anotherCopy);
        lastVisible = form->isVisible();
        form.reset();
        // A refused start writes nothing into the program's folder.
        lastFolderClean = listing() == before;
        return ok;
    }
    bool lastFolderClean = false;
    bool lastVisible = true;

  private slots:
    void missingCodecLibrary() {
        auto presenter = std::make_shared<ScriptedPresenter>();
        QVERIFY(!startWith(ProgramFolder::Template | ProgramFolder::Archiver, presenter));
        QCOMPARE(presenter->shown.size(), 1);
        QCOMPARE(
            presenter->shown[0].text,
            QString("libHalvet_Tolvex."
                    "soが見つかりません。\rファイルを確認するか、再インストールしてください。"));
        QCOMPARE(presenter->shown[0].title, QString("libHalvet_Tolvex.so"));
        QCOMPARE(presenter->shown[0].style, 16);
        QVERIFY(lastFolderClean);
        QVERIFY(!lastVisible); // the window is closed
    }

    void missingTemplateFile() {
        auto presenter = std::make_shared<ScriptedPresenter>();
        QVERIFY(!startWith(ProgramFolder::Codec | ProgramFolder::Archiver, presenter));
        QCOMPARE(presenter->shown.size(), 1);
        QCOMPARE(presenter->shown[0].text, texts::missingFile("Tolvex.dat"));
        QCOMPARE(presenter->shown[0].title, QString("Tolvex.dat"));
        QVERIFY(lastFolderClean);
    }

    void bothMissingNamesTheLibraryOnly() {
        auto presenter = std::make_shared<ScriptedPresenter>();
        QVERIFY(!startWith(ProgramFolder::Archiver, presenter));
        QCOMPARE(presenter->shown.size(), 1);
        QCOMPARE(presenter->shown[0].title, QString("libHalvet_Tolvex.so"));
    }

    void aFolderNamedLikeTheLibraryDoesNotCount() {
        ProgramFolder folder(ProgramFolder::Template);
        QDir(folder.path()).mkdir("libHalvet_Tolvex.so");
        auto presenter = std::make_shared<ScriptedPresenter>();
        auto form = folder.makeWindow(presenter);
        QVERIFY(!form->Load(false));
        QCOMPARE(presenter->shown.size(), 1);
    }

    void codecLibraryThatCannotBeLoadedIsReportedAtOnce() {
        // A damaged copy, and one made for another machine: both there, neither loadable.
        for (const QByteArray &content : {QByteArray("\x7f"
                                                     "ELF\2\1\1",
                                                     7) +
                                              QByteArray(200, '\0'),
                                          QByteArray("\x7f"
                                                     "ELF\1\1\1",
                                                     7) +
                                              QByteArray(64, 'x')}) {
            ProgramFolder folder(ProgramFolder::Template | ProgramFolder::Archiver);
            QFile library(folder.path("libHalvet_Tolvex.so"));
            QVERIFY(library.open(QIODevice::WriteOnly));
            library.write(content);
            library.close();
            const QStringList before = QDir(folder.path()).entryList(QDir::Files);
            auto presenter = std::make_shared<ScriptedPresenter>();
            auto form = folder.makeWindow(presenter);
            QVERIFY(!form->Load(false));
            QCOMPARE(presenter->shown.size(), 1);
            QCOMPARE(presenter->shown[0].text, texts::missingFile("libHalvet_Tolvex.so"));
            QCOMPARE(presenter->shown[0].title, QString("libHalvet_Tolvex.so"));
            QCOMPARE(presenter->shown[0].style, 16);
            QVERIFY(!form->isVisible());
            QCOMPARE(QDir(folder.path()).entryList(QDir::Files), before); // no settings written
        }
    }

    // The codec library start-up checks is the one that runs: beside the program, else in the
    // working folder. The program's own copy comes first, as it was installed with the program,
    // while the working folder is wherever the program was started from and must not put
    // another library in its place; so a damaged copy beside the program is not passed over.
    void codecLibraryCheckedIsTheOneLoaded_data() {
        QTest::addColumn<int>("besideProgram");
        QTest::addColumn<int>("inWorkingFolder");
        QTest::addColumn<bool>("starts");
        QTest::newRow("only in the working folder") << int{None} << int{Good} << true;
        // Start-up looks in the working folder, as it always has: missing there is missing.
        QTest::newRow("only beside the program") << int{Good} << int{None} << false;
        QTest::newRow("both: the program's copy runs") << int{Good} << int{Damaged} << true;
        QTest::newRow("both: the program's damaged copy") << int{Damaged} << int{Good} << false;
    }
    void codecLibraryCheckedIsTheOneLoaded() {
        QFETCH(int, besideProgram);
        QFETCH(int, inWorkingFolder);
        QFETCH(bool, starts);
        const auto place = [](int copy, const QString &path) {
            if (copy == Good)
                return QFile::copy(QStringLiteral(TOLVEX_BIN_DIR) + "/libHalvet_Tolvex.so", path);
            const QByteArray damaged = QByteArray("\x7f"
                                                  "ELF\2\1\1",
                                                  7) +
                                       QByteArray(200, '\0');
            QFile library(path);
            return copy == None ||
                   (library.open(QIODevice::WriteOnly) && library.write(damaged) == damaged.size());
        };
        QTemporaryDir program;
        ProgramFolder working(ProgramFolder::Template | ProgramFolder::Archiver);
        QVERIFY(place(besideProgram, program.filePath("libHalvet_Tolvex.so")));
        QVERIFY(place(inWorkingFolder, working.path("libHalvet_Tolvex.so")));
        auto presenter = std::make_shared<ScriptedPresenter>();
        auto form = working.makeWindow(presenter, program.path());
        QCOMPARE(form->Load(false), starts);
        if (!starts) {
            QCOMPARE(presenter->shown.size(), 1);
            QCOMPARE(presenter->shown[0].text, texts::missingFile("libHalvet_Tolvex.so"));
            return;
        }
        control<QCheckBox>(*form, "lzh_ch")->setChecked(false);
        QFile input(working.path("in.txt"));
        QVERIFY(input.open(QIODevice::WriteOnly) && input.write("plain") == 5);
        input.close();
        form->Text1Drop({input.fileName()});
        control<QLineEdit>(*form, "Text3")->setText(QStringLiteral("5a"));
        control<QPushButton>(*form, "Command1")->click();
        QCOMPARE(presenter->shown.size(), 1);
        QVERIFY(presenter->shown[0].text.startsWith("処理が終了しました。"));
        QVERIFY(QFileInfo(working.path("Tolvex.tvx")).size() > 5);
    }

    void secondCopyIsRefused() {
        auto presenter = std::make_shared<ScriptedPresenter>();
        QVERIFY(!startWith(ProgramFolder::All, presenter, true));
        QCOMPARE(presenter->shown.size(), 1);
        QCOMPARE(presenter->shown[0].text, QString("既に起動しています。"));
        QCOMPARE(presenter->shown[0].title, QString("エラー"));
        QCOMPARE(presenter->shown[0].style, 0);
        QVERIFY(lastFolderClean);
    }

    void completeFolderStarts() {
        auto presenter = std::make_shared<ScriptedPresenter>();
        QVERIFY(startWith(ProgramFolder::All, presenter));
        QVERIFY(presenter->shown.isEmpty());
    }
};

QTEST_MAIN(StartupTest)
#include "app_startup_test.moc"
