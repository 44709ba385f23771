// The English interface: the window, its messages and its message boxes in English when the
// program's catalogue is loaded; the program's state and what it records stay in the Japanese
// source texts. In both languages no caption is cut off in the fixed-size window.
#include "form_controls.h"
#include "language.h"
#include "message.h"
#include "program_folder.h"
#include "rules.h"
#include "scripted_presenter.h"
#include "texts.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QWindow>

namespace {

bool hasJapanese(const QString &text) {
    for (QChar c : text)
        if (c.unicode() >= 0x3000)
            return true;
    return false;
}

QString accessibleName(QWidget *control) {
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
    return accessible ? accessible->text(QAccessible::Name) : QString();
}

} // namespace

class EnglishTest : public QObject {
    Q_OBJECT

    QTranslator english;
    std::unique_ptr<ProgramFolder> folder;
    std::shared_ptr<ScriptedPresenter> presenter;
    std::unique_ptr<Form1> form;

    void start(int parts = ProgramFolder::All) {
        form.reset();
        folder.reset();
        folder = std::make_unique<ProgramFolder>(parts);
        presenter = std::make_shared<ScriptedPresenter>();
        form = folder->makeWindow(presenter);
        QVERIFY(form->Load(false));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }

    // The top row's controls stand side by side, none over another, inside the main area.
    void checkTopRowApart() {
        const int mainArea = form->twipsToPixels(Form1::kCollapsedWidth);
        QList<QWidget *> row;
        for (QWidget *widget : form->findChildren<QWidget *>())
            if (widget->parentWidget() == form.get() && widget->isVisibleTo(form.get()) &&
                widget->y() == control<QRadioButton>(*form, "Option1_0")->y() &&
                widget->x() < mainArea)
                row << widget;
        std::sort(row.begin(), row.end(), [](QWidget *a, QWidget *b) { return a->x() < b->x(); });
        QVERIFY(row.size() >= 5);
        for (qsizetype i = 1; i < row.size(); ++i)
            QVERIFY2(row[i - 1]->geometry().right() < row[i]->x(),
                     qPrintable(row[i - 1]->objectName() + " overlaps " + row[i]->objectName()));
        QVERIFY2(row.last()->geometry().right() < mainArea,
                 qPrintable(QStringLiteral("%1 ends at %2, the main area at %3")
                                .arg(row.last()->objectName())
                                .arg(row.last()->geometry().right())
                                .arg(mainArea)));
    }

    // Every caption that is shown, with its control: none may be wider than its place.
    void checkNothingIsCut() {
        checkTopRowApart();
        for (QWidget *control : form->findChildren<QWidget *>()) {
            if (!control->isVisibleTo(form.get()))
                continue;
            int needed = 0;
            if (auto *button = qobject_cast<QPushButton *>(control))
                // A push button's own hint has a least width of the style's; the text counts.
                needed = button->fontMetrics().horizontalAdvance(button->text()) +
                         form->twipsToPixels(120);
            else if (qobject_cast<QLabel *>(control) || qobject_cast<QAbstractButton *>(control))
                needed = control->sizeHint().width();
            else if (auto *frame = qobject_cast<QGroupBox *>(control))
                needed = frame->fontMetrics().horizontalAdvance(frame->title()) +
                         form->twipsToPixels(300);
            QVERIFY2(needed <= control->width(),
                     qPrintable(QStringLiteral("%1 \"%2\" needs %3 px, has %4")
                                    .arg(control->objectName(), accessibleName(control))
                                    .arg(needed)
                                    .arg(control->width())));
        }
    }

  private slots:
    void initTestCase() { QVERIFY(english.load(QStringLiteral(":/i18n/tolvex_en.qm"))); }

    void cleanup() {
        QCoreApplication::removeTranslator(&english);
        form.reset();
        folder.reset();
    }

    void englishIsOffered() {
        QVERIFY(language::interfaceLanguages().contains("en"));
        const QStringList offered = language::interfaceLanguages();
        QCOMPARE(language::chooseLanguage(QProcessEnvironment(), offered), QString("ja"));
        QProcessEnvironment env;
        env.insert("LANG", "en_US.UTF-8");
        QCOMPARE(language::chooseLanguage(env, offered), QString("en"));
        env.insert("TOLVEX_LANGUAGE", "ja");
        QCOMPARE(language::chooseLanguage(env, offered), QString("ja")); // the explicit choice
        env.insert("LANG", "C.UTF-8");
        env.insert("TOLVEX_LANGUAGE", "en");
        QCOMPARE(language::chooseLanguage(env, offered), QString("en"));
    }

    // Every text has its English in the catalogue (scripts/translations.sh --check, the
    // app_catalogue test); here the compiled catalogue fills composed texts as the window shows
    // them, and without it the texts stay in their Japanese source.
    void composedTextsAreTranslatedWhole() {
        const texts::Text missing = texts::missingFile("libHalvet_Tolvex.so");
        const texts::Text report =
            rules::resultMessage(tolvex::Result::Done, rules::Mode::Decrypt, 1.5)->text;
        QCOMPARE(missing.shown(), missing.source());
        QCOMPARE(report.shown(), report.source());
        QCOMPARE(texts::kArchiverBusy.shown(), texts::kArchiverBusy.source());

        QCoreApplication::installTranslator(&english);
        QCOMPARE(
            missing.shown(),
            QString(
                "libHalvet_Tolvex.so was not found.\rCheck the file, or install Tolvex again."));
        QCOMPARE(report.shown(), QString("Done.\rTime taken: 1.50 s\r File check: GOOD"));
        QCOMPARE(texts::kArchiverBusy.shown(),
                 QString("libunlha32.so is in use.\r Close the program that uses it."));
        QCOMPARE(texts::kRunError.shown(), QString("Run-time error"));
        QVERIFY(texts::kRunError.shown() != texts::kError.shown());
        QCOMPARE(texts::kWrongKey.shown(),
                 QString("This is not a Tolvex file, or the key is wrong."));
        QCOMPARE(texts::kTemplateMissing.shown(),
                 QString("The settings file (Tolvex.dat) was not found."));
        for (const texts::Text &text : {missing, report, texts::kOverwrite, texts::kOfferDelete})
            QVERIFY2(!hasJapanese(text.shown()), qPrintable(text.source()));
    }

    void theWindowSpeaksEnglish() {
        QCoreApplication::installTranslator(&english);
        start();
        QCOMPARE(control<QRadioButton>(*form, "Option1_0")->text(), QString("Encrypt"));
        QCOMPARE(control<QPushButton>(*form, "Command1")->text(), QString("START"));
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(), QString("Drag and drop here."));
        QCOMPARE(control<QLabel>(*form, "label_1")->text(),
                 QString("↓ Put the file or folder to convert below"));
        QCOMPARE(accessibleName(control<QLineEdit>(*form, "Text1")),
                 QString("↓ Put the file or folder to convert below"));
        QCOMPARE(control<QGroupBox>(*form, "Frame1")->title(), QString("Disguise"));

        control<QRadioButton>(*form, "Option1_1")->click();
        QCOMPARE(control<QLabel>(*form, "label_2")->text(),
                 QString("↓ Save the decrypted file as"));
        QCOMPARE(accessibleName(control<QLineEdit>(*form, "Text4")),
                 QString("↓ Save the decrypted file as"));
        QCOMPARE(control<QLineEdit>(*form, "Text1")->text(), QString("Drag and drop here."));

        // The title bar shows the caption in English; the procedures keep the source.
        form->showCaption(rules::busyCaption(rules::Mode::Decrypt));
        QCOMPARE(form->windowHandle()->title(), QString("Tolvex v3.10  <decrypting>"));
        QCOMPARE(form->windowTitle(), rules::busyCaption(rules::Mode::Decrypt).source());
    }

    void messageBoxesSpeakEnglish() {
        QCoreApplication::installTranslator(&english);
        QWidget window;
        window.show();
        QString title, text;
        QStringList buttons;
        QTimer::singleShot(0, [&] {
            auto *box = window.findChild<QMessageBox *>();
            if (!box)
                return;
            title = box->windowTitle();
            text = box->text();
            for (QAbstractButton *button : box->buttons())
                buttons << button->text();
            box->close(); // the close box of the title bar: the answer is Cancel
        });
        DialogPresenter dialog;
        const int answer = dialog.present(&window, texts::kOverwrite, 33, texts::kError);
        QCOMPARE(answer, int(rules::kAnswerCancel));
        QCOMPARE(title, QString("Error"));
        QCOMPARE(text, QString("The file to write exists already.\nOverwrite it?"));
        buttons.sort();
        QCOMPARE(buttons, (QStringList{"Cancel", "OK"}));
    }

    void nothingIsCut_data() {
        QTest::addColumn<bool>("inEnglish");
        QTest::newRow("Japanese") << false;
        QTest::newRow("English") << true;
    }
    void nothingIsCut() {
        QFETCH(bool, inEnglish);
        if (inEnglish)
            QCoreApplication::installTranslator(&english);
        start();
        checkNothingIsCut();
        control<QRadioButton>(*form, "Option1_1")->click(); // decrypt: other labels, AUTO
        checkNothingIsCut();
        control<QPushButton>(*form, "Command2")->click(); // the panel
        checkNothingIsCut();
        start(ProgramFolder::Codec | ProgramFolder::Template); // no archiver: its label
        checkNothingIsCut();
    }
};

QTEST_MAIN(EnglishTest)
#include "app_english_test.moc"
