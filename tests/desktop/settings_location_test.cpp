// Where the settings file lives: beside a portable copy (its folder the user's own, writable and
// outside the system's folders), else in the user's configuration folder. Cases that need an
// ordinary user run in a child process under the unprivileged identity 65534 when the suite
// runs as root, since root may write anywhere and the folders here belong to that identity.
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
        const int result = asOrdinaryUser([&] {
            if (ini::ChooseSettingsFolder(program, QFile::encodeName(config),
                                          QFile::encodeName(home)) != program)
                return 1;
            if (QFileInfo::exists(config + "/tolvex"))
                return 2;
            return ini::SettingsFolder(program) == program ? 0 : 3;
        });
        QCOMPARE(result, 0);
    }

    // The rule itself, for users and folders a test cannot make: root, the system's folders.
    void portableCopyRule_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<uint>("owner");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<uint>("user");
        QTest::addColumn<bool>("portable");
        QTest::newRow("own writable folder")
            << "/home/ann/tolvex" << 1000u << true << 1000u << true;
        QTest::newRow("own read-only folder")
            << "/home/ann/tolvex" << 1000u << false << 1000u << false;
        // A folder open to all (as /tmp is) still belongs to someone else.
        QTest::newRow("another user's folder") << "/srv/tolvex" << 0u << true << 1000u << false;
        QTest::newRow("package folder, run by a user")
            << "/usr/lib/x86_64-linux-gnu/tolvex" << 0u << false << 1000u << false;
        // Root owns a package's folder and may write there: the place alone tells.
        QTest::newRow("package folder, run by root")
            << "/usr/lib/x86_64-linux-gnu/tolvex" << 0u << true << 0u << false;
        QTest::newRow("/opt, run by root") << "/opt/tolvex/" << 0u << true << 0u << false;
        QTest::newRow("/usr itself") << "/usr" << 0u << true << 0u << false;
        QTest::newRow("the root folder") << "/" << 0u << true << 0u << false;
        QTest::newRow("/usr/local owned by its user")
            << "/usr/local/lib/tolvex" << 1000u << true << 1000u << false;
        QTest::newRow("root's own copy") << "/root/tolvex" << 0u << true << 0u << true;
        QTest::newRow("root's copy in /tmp") << "/tmp/x/usr/lib/tolvex" << 0u << true << 0u << true;
        QTest::newRow("a name that only starts like /opt")
            << "/optical/tolvex" << 0u << true << 0u << true;
    }
    void portableCopyRule() {
        QFETCH(QString, path);
        QFETCH(uint, owner);
        QFETCH(bool, writable);
        QFETCH(uint, user);
        QFETCH(bool, portable);
        userfolders::FolderFacts facts;
        facts.path = QStringLiteral("/given/by/the/caller");
        facts.realPath = path;
        facts.found = true;
        facts.owner = owner;
        facts.writable = writable;
        QCOMPARE(ini::PortableCopy(facts, user), portable);
        // The folder as given is where a portable copy's settings go; an installed copy's go to
        // the configuration folder.
        QCOMPARE(ini::ChooseSettingsFolder(facts, user, QFile::encodeName(config), {}),
                 portable ? facts.path : config + "/tolvex");
        facts.found = false;
        QVERIFY(!ini::PortableCopy(facts, user));
    }

    // A real folder of another user that this one may write in: /tmp, root's and open to all.
    void anotherUsersWritableFolderIsNotUsed() {
        struct stat st;
        if (::stat("/tmp", &st) != 0 || st.st_uid != 0 || (st.st_mode & 0777) != 0777)
            QSKIP("/tmp is not root's folder open to all here");
        const int result = asOrdinaryUser([&] {
            if (ini::ChooseSettingsFolder("/tmp", QFile::encodeName(config), {}) !=
                config + "/tolvex")
                return 1;
            return modeOf(config + "/tolvex") == 0700 ? 0 : 2;
        });
        QCOMPARE(result, 0);
    }

    // The folder's facts come from the folder itself: through a link, its real place.
    void factsComeFromTheFolderItself() {
        const QString link = base->filePath("link");
        QVERIFY(QFile::link(program, link));
        const userfolders::FolderFacts facts = userfolders::readFolderFacts(link);
        QVERIFY(facts.found);
        QCOMPARE(facts.path, link);
        QCOMPARE(facts.realPath, QFileInfo(program).canonicalFilePath());
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(program).constData(), &st) == 0);
        QCOMPARE(facts.owner, st.st_uid);
        QVERIFY(facts.writable);
        QVERIFY(!userfolders::readFolderFacts(base->filePath("missing")).found);
        QVERIFY(QFile(base->filePath("file")).open(QIODevice::WriteOnly));
        QVERIFY(!userfolders::readFolderFacts(base->filePath("file")).found);
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
