// The platform plugin chosen before the window exists, as a plain function of the environment
// and of whether an X server answers.
#include "platform_choice.h"

#include <QTest>

class PlatformChoiceTest : public QObject {
    Q_OBJECT

  private slots:
    void choosesFromEnvironment_data() {
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<bool>("xReachable");
        QTest::addColumn<QString>("forced");

        const QString qt = QString();
        const QStringList bothDisplays = {QStringLiteral("DISPLAY=:0"),
                                          QStringLiteral("WAYLAND_DISPLAY=wayland-0")};
        QTest::newRow("unset, X answers") << bothDisplays << true << QStringLiteral("xcb");
        QTest::newRow("unset, only an X display")
            << QStringList{QStringLiteral("DISPLAY=:1")} << true << QStringLiteral("xcb");
        QTest::newRow("empty counts as unset")
            << (bothDisplays + QStringList{QStringLiteral("QT_QPA_PLATFORM=")}) << true
            << QStringLiteral("xcb");
        QTest::newRow("unset, only Wayland")
            << QStringList{QStringLiteral("WAYLAND_DISPLAY=wayland-0")} << false << qt;
        QTest::newRow("DISPLAY set, X does not answer") << bothDisplays << false << qt;
        QTest::newRow("DISPLAY empty") << QStringList{QStringLiteral("DISPLAY=")} << true << qt;
        for (const char *platform : {"wayland", "offscreen", "xcb", "wayland;xcb"})
            QTest::newRow(platform)
                << (bothDisplays +
                    QStringList{QStringLiteral("QT_QPA_PLATFORM=") + QLatin1String(platform)})
                << true << qt;
    }

    void choosesFromEnvironment() {
        QFETCH(QStringList, variables);
        QFETCH(bool, xReachable);
        QFETCH(QString, forced);
        QProcessEnvironment environment;
        for (const QString &variable : variables)
            environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        QCOMPARE(platform_choice::choosePlatform(environment, xReachable), forced);
    }

    // No X server to ask: not reachable, and no wait.
    void probeWithoutServer() {
        QProcessEnvironment environment;
        QVERIFY(!platform_choice::xServerReachable(environment));
        environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":64999"));
        QVERIFY(!platform_choice::xServerReachable(environment));
    }
};

QTEST_GUILESS_MAIN(PlatformChoiceTest)
#include "app_platform_choice_test.moc"
