// The window of an installed copy: its program folder belongs to the system, so the user may
// not write there. Settings and the temporary archive of a compressed encryption must go to
// the user's own folders, and the work must succeed. Each case runs in a child process under
// the unprivileged identity 65534 when the suite runs as root, since root may write anywhere.
#include "form_controls.h"
#include "ini.h"
#include "scripted_presenter.h"
#include "texts.h"

#include "test_files.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
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

bool writeFile(const QString &path, const QByteArray &content) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

} // namespace

class InstalledWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> base;
    QString program, user;

  private slots:
    // A read-only program folder with the libraries and Tolvex.dat, owned by the suite's user,
    // and a home of the child's own.
    void init() {
        base = std::make_unique<QTemporaryDir>();
        QVERIFY(base->isValid());
        QFile::setPermissions(base->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                QFile::ReadOther | QFile::ExeOther);
        program = base->filePath("program");
        user = base->filePath("user");
        QVERIFY(QDir().mkpath(program) && QDir().mkpath(user));
        const QString bin = QStringLiteral(TOLVEX_BIN_DIR);
        for (const char *name : {"libHalvet_Tolvex.so", "libunlha32.so", "Tolvex.dat"})
            QVERIFY(QFile::copy(bin + '/' + name, program + '/' + name));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner |
                                                   QFile::ReadOther | QFile::ExeOther));
        if (::geteuid() == 0)
            QVERIFY(::chown(QFile::encodeName(user).constData(), kNobody, kNobody) == 0);
    }
    void cleanup() {
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        base.reset();
    }

    void compressedEncryptionUsesTheUsersCache() {
        const int result = asOrdinaryUser([&] {
            qputenv("HOME", QFile::encodeName(user));
            qunsetenv("XDG_CONFIG_HOME");
            qunsetenv("XDG_CACHE_HOME");
            const QString photos = user + "/photos";
            if (!QDir().mkpath(photos) || !writeFile(photos + "/a.txt", "alpha"))
                return 1;
            QDir::setCurrent(program);
            Form1::Config config;
            config.codecLibrary = QStringLiteral("libHalvet_Tolvex.so");
            config.archiverLibrary = QStringLiteral("libunlha32.so");
            config.programFolder = program;
            config.workingFolder = program;
            auto presenter = std::make_shared<ScriptedPresenter>();
            Form1 form(config, presenter);
            if (!form.Load(false) || !control<QCheckBox>(form, "lzh_ch")->isChecked())
                return 2;
            // Start-up wrote the settings where the user may write.
            if (!QFile::exists(user + "/.config/tolvex/Save.ini"))
                return 3;
            form.Text1Drop({photos});
            control<QLineEdit>(form, "Text3")->setText(QStringLiteral("77"));
            control<QPushButton>(form, "Command1")->click();
            if (presenter->texts().contains(texts::kPackFailed))
                return 4;
            if (!QFile::exists(user + "/Tolvex.tvx"))
                return 5;
            // The temporary archive lived in a job folder of the user's private folder, and no
            // job folder is left; nothing was made beside the program.
            QStringList privateFolders = {user + "/.cache/tolvex"};
            if (const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR"); !runtime.isEmpty())
                privateFolders << runtime + "/tolvex";
            for (const QString &folder : privateFolders)
                if (!QDir(folder).entryList({QStringLiteral("job-*")}, QDir::AllEntries).isEmpty())
                    return 6;
            form.close();
            return QDir(program).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size() == 3 ? 0
                                                                                                : 7;
        });
        QCOMPARE(result, 0);
    }

    void writableFolderKeepsEverythingBeside() {
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString photos = base->filePath("photos");
        QVERIFY(QDir().mkpath(photos) && writeFile(photos + "/a.txt", "alpha"));
        QDir::setCurrent(program);
        Form1::Config config;
        config.codecLibrary = QStringLiteral("libHalvet_Tolvex.so");
        config.archiverLibrary = QStringLiteral("libunlha32.so");
        config.programFolder = program;
        config.workingFolder = program;
        auto presenter = std::make_shared<ScriptedPresenter>();
        Form1 form(config, presenter);
        QVERIFY(form.Load(false));
        QVERIFY(QFile::exists(program + "/Save.ini"));
        form.Text1Drop({photos});
        control<QLineEdit>(form, "Text3")->setText(QStringLiteral("77"));
        control<QPushButton>(form, "Command1")->click();
        QVERIFY(!presenter->texts().contains(texts::kPackFailed));
        QVERIFY(QFile::exists(base->filePath("Tolvex.tvx")));
        // The temporary archive never lives beside the program, even where it could.
        QVERIFY(!QFileInfo::exists(program + "/temp"));
        QDir::setCurrent(QDir::tempPath());
    }
};

QTEST_MAIN(InstalledWindowTest)
#include "installed_window_test.moc"
