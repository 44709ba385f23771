// Where the settings file lives: beside the program when its folder is writable, else in the
// user's configuration folder. Read-only cases run in a child process under the unprivileged
// identity 65534 when the suite runs as root, since root may write anywhere.
#include "ini.h"

#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using test_files::asOrdinaryUser;
using test_files::kNobody;

// Hands a path to the identity the child will take (nothing to do when not root).
void giveAway(const QString &path) {
    if (::geteuid() == 0)
        QVERIFY(::chown(QFile::encodeName(path).constData(), kNobody, kNobody) == 0);
}

int modeOf(const QString &path) {
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

} // namespace

class SettingsLocationTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> base;
    QString program, config, home;

  private slots:
    // A tree the child identity can use: a program folder, a home and a configuration base.
    void init() {
        base = std::make_unique<QTemporaryDir>();
        QVERIFY(base->isValid());
        QVERIFY(QFile::setPermissions(base->path(), QFile::ReadOwner | QFile::WriteOwner |
                                                        QFile::ExeOwner | QFile::ReadOther |
                                                        QFile::ExeOther));
        program = base->filePath("program");
        config = base->filePath("config");
        home = base->filePath("home");
        for (const QString &dir : {program, config, home}) {
            QVERIFY(QDir().mkpath(dir));
            giveAway(dir);
        }
    }
    void cleanup() {
        // Make everything removable again, whatever a test did to it.
        for (const QString &dir : {program, config, home})
            QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        base.reset();
    }

    void writableFolderKeepsTheSettingsBeside() {
        QCOMPARE(
            ini::ChooseSettingsFolder(program, QFile::encodeName(config), QFile::encodeName(home)),
            program);
        QVERIFY(!QFileInfo::exists(config + "/tolvex"));
        QCOMPARE(ini::SettingsFolder(program), program);
    }

    void readOnlyFolderUsesTheConfigHome() {
        const QString expected = config + "/tolvex";
        const int result = asOrdinaryUser([&] {
            if (!QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner))
                return 1;
            // Private even where the umask would let others in.
            ::umask(0);
            if (ini::ChooseSettingsFolder(program, QFile::encodeName(config),
                                          QFile::encodeName(home)) != expected)
                return 2;
            if (modeOf(expected) != 0700)
                return 3;
            return QFileInfo::exists(home + "/.config") ? 4 : 0;
        });
        QCOMPARE(result, 0);
    }

    void configHomeDefaultsToDotConfigInTheHome() {
        const QString expected = home + "/.config/tolvex";
        const int result = asOrdinaryUser([&] {
            QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
            ::umask(0);
            if (ini::ChooseSettingsFolder(program, {}, QFile::encodeName(home)) != expected)
                return 1;
            if (modeOf(home + "/.config") != 0700 || modeOf(expected) != 0700)
                return 2;
            // A relative XDG_CONFIG_HOME is no valid base: the default holds.
            if (ini::ChooseSettingsFolder(program, "relative/config", QFile::encodeName(home)) !=
                expected)
                return 3;
            return QFileInfo::exists(program + "/relative") ? 4 : 0;
        });
        QCOMPARE(result, 0);
    }

    void theDecisionHoldsForTheWholeRun() {
        const int result = asOrdinaryUser([&] {
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
            qputenv("HOME", QFile::encodeName(home));
            if (ini::SettingsFolder(program) != program)
                return 1;
            // The folder turns read-only while the program runs: reading and writing still
            // meet in the file start-up chose.
            QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
            if (ini::SettingsFolder(program) != program)
                return 2;
            return ini::ChooseSettingsFolder(program, QFile::encodeName(config), {}) ==
                           config + "/tolvex"
                       ? 0
                       : 3;
        });
        QCOMPARE(result, 0);
    }

    void unwritableConfigHomeLosesNothingElse() {
        // The per-user folder cannot be made: the choice stands and writes fail quietly,
        // creating nothing beside the program.
        const int result = asOrdinaryUser([&] {
            QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
            QFile::setPermissions(config, QFile::ReadOwner | QFile::ExeOwner);
            const QString folder = ini::ChooseSettingsFolder(program, QFile::encodeName(config),
                                                             QFile::encodeName(home));
            if (folder != config + "/tolvex")
                return 1;
            if (ini::WriteIni(ini::IniPath(folder) + "Save.ini", "Save", "Save", "1") != 0)
                return 2;
            return QDir(program).isEmpty() ? 0 : 3;
        });
        QCOMPARE(result, 0);
    }
};

QTEST_MAIN(SettingsLocationTest)
#include "settings_location_test.moc"
