// The window's rules as plain functions, table by table.
#include "rules.h"
#include "texts.h"

#include <QTest>

class RulesTest : public QObject {
    Q_OBJECT
  private slots:
    void keyCode_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<quint32>("code");
        QTest::newRow("zero") << "0" << true << 0u;
        QTest::newRow("7FFF keeps its upper half zero") << "7FFF" << true << 0x7FFFu;
        QTest::newRow("8000 widens with its sign") << "8000" << true << 0xFFFF8000u;
        QTest::newRow("FFFF widens") << "FFFF" << true << 0xFFFFFFFFu;
        QTest::newRow("leading zeros change nothing") << "0000abcd" << true << 0xFFFFABCDu;
        QTest::newRow("same as four F digits before it") << "FFFFABCD" << true << 0xFFFFABCDu;
        QTest::newRow("five digits pass") << "10000" << true << 0x10000u;
        QTest::newRow("top bit set passes as pattern") << "80000000" << true << 0x80000000u;
        QTest::newRow("lower case") << "deadbeef" << true << 0xDEADBEEFu;
        QTest::newRow("mixed case") << "DeAdBeEf" << true << 0xDEADBEEFu;
        QTest::newRow("empty") << "" << false << 0u;
        QTest::newRow("nine digits") << "123456789" << false << 0u;
        QTest::newRow("not hex") << "12G4" << false << 0u;
        QTest::newRow("blank") << "12 4" << false << 0u;
    }
    void keyCode() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(quint32, code);
        const auto key = rules::keyCodeFromText(text);
        QCOMPARE(key.has_value(), valid);
        if (valid)
            QCOMPARE(quint32(*key), code);
    }

    void keyCharacters() {
        for (char16_t c : u"0123456789ABCDEFabcdef\b")
            if (c)
                QVERIFY2(rules::keyCharacterPasses(c), qPrintable(QString(QChar(c))));
        for (char16_t c : u"GgZz-+ \r\n\t/:@`[{\x7f")
            if (c)
                QVERIFY2(!rules::keyCharacterPasses(c), qPrintable(QString::number(c)));
        QCOMPARE(rules::keepKeyCharacters("x1-2 aF\ng"), QString("12aF"));
        QCOMPARE(rules::keepKeyCharacters("0123456789abcdef"), QString("01234567"));
    }

    void finishText_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("shown");
        QTest::newRow("small") << 0.05 << "0.05";
        QTest::newRow("one decimal") << 12.3 << "12.30";
        QTest::newRow("rounded, no grouping") << 1234.567 << "1234.57";
        QTest::newRow("zero") << 0.0 << "0.00";
        QTest::newRow("past midnight gains a day") << -86399.5 << "0.50";
    }
    void finishText() {
        QFETCH(double, seconds);
        QFETCH(QString, shown);
        QCOMPARE(rules::formatElapsed(seconds), shown);
        QCOMPARE(rules::finishText(seconds).source(),
                 QString("処理が終了しました。\r所要時間：%1秒").arg(shown));
    }

    void resultMessages_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<rules::Mode>("mode");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("text");
        const QString finish = "処理が終了しました。\r所要時間：1.50秒";
        QTest::newRow("1") << 1 << rules::Mode::Encrypt << "エラー" << 33
                           << "既に存在しているファイルに書き込もうとしました。\r上書きしますか？";
        QTest::newRow("-1") << -1 << rules::Mode::Encrypt << "エラー" << 48
                            << "ファイルが見つかりませんでした。";
        QTest::newRow("-2") << -2 << rules::Mode::Decrypt << "エラー" << 48
                            << "ファイルの作成に失敗しました。";
        QTest::newRow("-3") << -3 << rules::Mode::Encrypt << "エラー" << 48
                            << "モード指定が不正です。";
        QTest::newRow("-4") << -4 << rules::Mode::Decrypt << "エラー" << 48
                            << "Tolvexファイルでは無いか、またはコードが間違っています。";
        QTest::newRow("-5") << -5 << rules::Mode::Encrypt << "エラー" << 48
                            << "設定ファイルがみつかりません。";
        QTest::newRow("-6") << -6 << rules::Mode::Encrypt << "エラー" << 48
                            << "変換元と出力先とが同じファイルです。";
        QTest::newRow("2") << 2 << rules::Mode::Decrypt << "報告" << 48
                           << finish + "\r ファイルチェック:BAD";
        QTest::newRow("0 encrypt") << 0 << rules::Mode::Encrypt << "報告" << 64 << finish;
        QTest::newRow("0 decrypt")
            << 0 << rules::Mode::Decrypt << "報告" << 64 << finish + "\r ファイルチェック:GOOD";
    }
    void resultMessages() {
        QFETCH(int, result);
        QFETCH(rules::Mode, mode);
        QFETCH(QString, title);
        QFETCH(int, style);
        QFETCH(QString, text);
        const auto message = rules::resultMessage(tolvex::resultOf(result), mode, 1.5);
        QVERIFY(message);
        QCOMPARE(message->title.source(), title);
        QCOMPARE(message->style, style);
        QCOMPARE(message->text.source(), text);
    }
    void resultsWithoutMessage() {
        for (int result : {-7, 3, 100, -8})
            QVERIFY(!rules::resultMessage(tolvex::resultOf(result), rules::Mode::Encrypt, 1.0));
        QVERIFY(
            !rules::resultMessage(rules::WindowResult::StoppedSilently, rules::Mode::Encrypt, 1.0));
        const auto wrong =
            rules::resultMessage(rules::WindowResult::WrongPassphrase, rules::Mode::Decrypt, 1.0);
        QVERIFY(wrong);
        QCOMPARE(wrong->text.source(), texts::kWrongPassphrase.source());
    }

    void captions() {
        QCOMPARE(texts::kIdleCaption, QString("Tolvex v3.10"));
        QCOMPARE(rules::busyCaption(rules::Mode::Encrypt).source(),
                 QString("Tolvex v3.10  <暗号化中>"));
        QCOMPARE(rules::busyCaption(rules::Mode::Decrypt).source(),
                 QString("Tolvex v3.10  <復号化中>"));
        QCOMPARE(rules::inputLabel(true).source(),
                 QString("↓に変換するファイル or フォルダを入れてください"));
        QCOMPARE(rules::inputLabel(false).source(), QString("↓に変換するファイルを入れてください"));
        QCOMPARE(rules::outputLabel(rules::Mode::Decrypt).source(),
                 QString("↓として復号化したファイルを保存します"));
    }

    void bufferSize_data() {
        QTest::addColumn<qint64>("available");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<int>("size");
        QTest::newRow("small file") << qint64(50000000) << qint64(1000) << 1000;
        QTest::newRow("half to even, up") << qint64(123456785) << qint64(100000000) << 12345678;
        QTest::newRow("25 gives 2") << qint64(25) << qint64(1000) << 2;
        QTest::newRow("35 gives 4") << qint64(35) << qint64(1000) << 4;
        QTest::newRow("empty file") << qint64(1000) << qint64(0) << 0;
        QTest::newRow("memory beyond 31 bits is held")
            << qint64(4000000000) << qint64(3000000000) << 214748365;
        QTest::newRow("file beyond 31 bits") << qint64(100) << qint64(5000000000) << 10;
    }
    void bufferSize() {
        QFETCH(qint64, available);
        QFETCH(qint64, length);
        QFETCH(int, size);
        QCOMPARE(rules::bufferSizeFor(available, length), size);
    }

    void splitPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("file") << "/data/report.doc"
                              << "/data/"
                              << "report.doc";
        QTest::newRow("repeated element") << "/data/data"
                                          << "/data/"
                                          << "data";
        QTest::newRow("root") << "/x"
                              << "/"
                              << "x";
        QTest::newRow("blanks and Japanese") << "/my docs/写真 1"
                                             << "/my docs/"
                                             << "写真 1";
        QTest::newRow("no separator") << "name"
                                      << ""
                                      << "name";
    }
    void splitPath() {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        const auto parts = rules::splitPath(path);
        QCOMPARE(parts.folder, folder);
        QCOMPARE(parts.name, name);
    }

    void commandLines() {
        QCOMPARE(
            rules::packCommandLine("/run/user/1000/tolvex/job-Ab3xZ9/temp.lzh", "/data/report.doc")
                .value(),
            QString(R"(a -d -r2 "/run/user/1000/tolvex/job-Ab3xZ9/temp.lzh" "/data/" )"
                    R"("report.doc")"));
        QCOMPARE(rules::packCommandLine("/o/t.lzh", "/my data/photos 2").value(),
                 QString(R"(a -d -r2 "/o/t.lzh" "/my data/" "photos 2")"));
        QCOMPARE(rules::extractCommandLine("/out/letter.lzh", "/out/").value(),
                 QString(R"(e -d -r2 -jyo0 "/out/letter.lzh" "/out/" "*")"));
        // A dropped folder given with its trailing separator is still stored under its name.
        QCOMPARE(rules::packCommandLine("/o/t.lzh", "/data/写真/").value(),
                 QString(R"(a -d -r2 "/o/t.lzh" "/data/" "写真")"));
        // A double quote would end the argument early: no command line at all.
        QVERIFY(!rules::packCommandLine("/o/t.lzh", "/data/x\" \"y"));
        QVERIFY(!rules::extractCommandLine("/out\"q/letter.lzh", "/out\"q/"));
    }
};

QTEST_APPLESS_MAIN(RulesTest)
#include "app_rules_test.moc"
