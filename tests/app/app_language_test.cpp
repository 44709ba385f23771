// The interface language and the message box as the user sees it: Qt's own standard buttons in
// the window's language, the lines of a message apart, the answer of the button pressed.
#include "language.h"
#include "message.h"
#include "rules.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace {

QProcessEnvironment environment(const QStringList &assignments) {
    QProcessEnvironment env;
    for (const QString &a : assignments)
        env.insert(a.section(u'=', 0, 0), a.section(u'=', 1));
    return env;
}

// The buttons' texts as a person reads them: without the keyboard accelerator mark.
QString readable(QString text) {
    static const QRegularExpression accelerator(QStringLiteral("\\(&.\\)$"));
    return text.remove(accelerator).remove(u'&');
}

} // namespace

class LanguageTest : public QObject {
    Q_OBJECT

  private slots:
    void chooseLanguage_data() {
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<QStringList>("available");
        QTest::addColumn<QString>("expected");
        const QStringList ja{"ja"}, both{"ja", "en"};
        QTest::newRow("nothing set") << QStringList{} << both << "ja";
        QTest::newRow("C") << QStringList{"LANG=C"} << both << "ja";
        QTest::newRow("POSIX") << QStringList{"LC_ALL=POSIX"} << both << "ja";
        QTest::newRow("C.UTF-8") << QStringList{"LANG=C.UTF-8"} << both << "ja";
        QTest::newRow("Japanese") << QStringList{"LANG=ja_JP.UTF-8"} << both << "ja";
        QTest::newRow("English, when there is no English")
            << QStringList{"LANG=en_US.UTF-8"} << ja << "ja";
        QTest::newRow("English") << QStringList{"LANG=en_US.UTF-8"} << both << "en";
        QTest::newRow("English with a modifier") << QStringList{"LANG=en_IE@euro"} << both << "en";
        QTest::newRow("LANGUAGE before the locale")
            << QStringList{"LANG=ja_JP.UTF-8", "LANGUAGE=en_GB:ja"} << both << "en";
        QTest::newRow("LANGUAGE entries not offered are passed over")
            << QStringList{"LANG=de_DE.UTF-8", "LANGUAGE=fr:de:en"} << both << "en";
        QTest::newRow("LANGUAGE is not heeded under C")
            << QStringList{"LANG=C", "LANGUAGE=en"} << both << "ja";
        QTest::newRow("LC_ALL before LC_MESSAGES and LANG")
            << QStringList{"LC_ALL=en_US.UTF-8", "LC_MESSAGES=ja_JP.UTF-8", "LANG=ja_JP.UTF-8"}
            << both << "en";
        QTest::newRow("LC_MESSAGES before LANG")
            << QStringList{"LC_MESSAGES=ja_JP.UTF-8", "LANG=en_US.UTF-8"} << both << "ja";
        QTest::newRow("another language") << QStringList{"LANG=fr_FR.UTF-8"} << both << "ja";
    }
    void chooseLanguage() {
        QFETCH(QStringList, env);
        QFETCH(QStringList, available);
        QFETCH(QString, expected);
        QCOMPARE(language::chooseLanguage(environment(env), available), expected);
    }

    void theWindowSpeaksJapanese() { QVERIFY(language::interfaceLanguages().contains("ja")); }

    void messageBoxButtons_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("press");
        QTest::addColumn<int>("answer");
        QTest::newRow("OK") << 0 << QStringList{"OK"} << "OK" << int(rules::kAnswerOk);
        QTest::newRow("OK, stop") << 16 << QStringList{"OK"} << "OK" << int(rules::kAnswerOk);
        QTest::newRow("OK and Cancel: OK")
            << 33 << QStringList{"OK", "キャンセル"} << "OK" << int(rules::kAnswerOk);
        QTest::newRow("OK and Cancel: Cancel")
            << 65 << QStringList{"OK", "キャンセル"} << "キャンセル" << int(rules::kAnswerCancel);
        QTest::newRow("Yes and No: Yes")
            << 36 << QStringList{"はい", "いいえ"} << "はい" << int(rules::kAnswerYes);
        QTest::newRow("Yes and No: No")
            << 36 << QStringList{"はい", "いいえ"} << "いいえ" << int(rules::kAnswerNo);
    }
    void messageBoxButtons() {
        QFETCH(int, style);
        QFETCH(QStringList, buttons);
        QFETCH(QString, press);
        QFETCH(int, answer);
        static bool installed = false;
        if (!installed)
            QVERIFY(language::installToolkitTranslation(*qApp, "ja"));
        installed = true;

        QWidget window;
        window.show();
        QStringList seen;
        QString text;
        QTimer::singleShot(0, [&] {
            auto *box = window.findChild<QMessageBox *>();
            if (!box)
                return;
            text = box->text();
            QAbstractButton *chosen = nullptr;
            for (QAbstractButton *button : box->buttons()) {
                seen << readable(button->text());
                if (readable(button->text()) == press)
                    chosen = button;
            }
            if (chosen)
                chosen->click();
            else
                box->reject();
        });
        DialogPresenter presenter;
        const int result = presenter.present(&window, "一行目\r二行目", style, "確認");
        seen.sort();
        buttons.sort();
        QCOMPARE(seen, buttons);
        QCOMPARE(text, QString("一行目\n二行目"));
        QCOMPARE(result, answer);
    }
};

QTEST_MAIN(LanguageTest)
#include "app_language_test.moc"
