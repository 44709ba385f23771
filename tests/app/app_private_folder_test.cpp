// The user's private folder for the temporary archive and the job folders inside it: where it
// is, that it is ours and 0700 on whatever umask, and that a link in its place is never followed.
#include "private_folder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int modeOf(const QString &path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : 0;
}

QByteArray bytes(const QString &path) {
    return QFile::encodeName(path);
}

bool setMode(const QString &path, mode_t mode) {
    return ::chmod(bytes(path).constData(), mode) == 0;
}

QStringList entriesOf(const QString &folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                  QDir::System);
}

// Sets the umask for one scope.
struct Umask {
    explicit Umask(mode_t mask) : before(::umask(mask)) {}
    ~Umask() { ::umask(before); }
    mode_t before;
};

} // namespace

class PrivateFolderTest : public QObject {
    Q_OBJECT

    QTemporaryDir base;

  private slots:
    void init() { QVERIFY(base.isValid()); }
    void cleanup() {
        for (const QString &name : entriesOf(base.path())) {
            const QString path = base.filePath(name);
            if (QFileInfo(path).isSymLink() || !QFileInfo(path).isDir())
                QFile::remove(path);
            else
                QDir(path).removeRecursively();
        }
    }

    // --- where ---------------------------------------------------------------------------------

    void soundRuntimeFolderIsChosen() {
        const QByteArray runtime = bytes(base.filePath("run"));
        QVERIFY(::mkdir(runtime.constData(), 0700) == 0);
        QCOMPARE(privatefolder::choose(runtime, "/c", "/h"), runtime + "/tolvex");
        QCOMPARE(privatefolder::choose(runtime + "/", "/c", "/h"), runtime + "/tolvex");
        // Readable by others is no harm to a folder of our own that only we write.
        QVERIFY(setMode(base.filePath("run"), 0755));
        QCOMPARE(privatefolder::choose(runtime, "/c", "/h"), runtime + "/tolvex");
    }

    void unsoundRuntimeFolderFallsBackToTheCache_data() {
        QTest::addColumn<QByteArray>("runtime");
        const QByteArray folder = bytes(base.filePath("run"));
        QTest::newRow("unset") << QByteArray();
        QTest::newRow("relative") << QByteArray("run");
        QTest::newRow("missing") << folder + "/missing";
        QTest::newRow("group-writable") << folder + "/group";
        QTest::newRow("world-writable") << folder + "/world";
        QTest::newRow("a file") << folder + "/file";
        QTest::newRow("a link to a sound folder") << folder + "/link";
    }
    void unsoundRuntimeFolderFallsBackToTheCache() {
        QFETCH(QByteArray, runtime);
        const QString run = base.filePath("run");
        QVERIFY(::mkdir(bytes(run).constData(), 0700) == 0);
        QVERIFY(::mkdir(bytes(run + "/group").constData(), 0700) == 0 &&
                setMode(run + "/group", 0770));
        QVERIFY(::mkdir(bytes(run + "/world").constData(), 0700) == 0 &&
                setMode(run + "/world", 0777));
        QVERIFY(::mkdir(bytes(run + "/sound").constData(), 0700) == 0);
        QFile file(run + "/file");
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(run + "/sound", run + "/link"));

        QCOMPARE(privatefolder::choose(runtime, "/cache/me", "/home/me"),
                 QByteArray("/cache/me/tolvex"));
        QCOMPARE(privatefolder::choose(runtime, "", "/home/me"),
                 QByteArray("/home/me/.cache/tolvex"));
        QCOMPARE(privatefolder::choose(runtime, "cache", "/home/me"),
                 QByteArray("/home/me/.cache/tolvex"));
    }

    // --- made private ---------------------------------------------------------------------------

    void madeWithItsParentsPrivate_data() {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 022") << 022;
        QTest::newRow("umask 077") << 077;
        QTest::newRow("umask 000") << 0;
    }
    void madeWithItsParentsPrivate() {
        QFETCH(int, mask);
        const QString folder = base.filePath("cache/deeper/tolvex");
        std::optional<QByteArray> made;
        {
            const Umask scope{mode_t(mask)};
            made = privatefolder::secure(bytes(folder));
        }
        QCOMPARE(made, std::optional(bytes(folder)));
        QCOMPARE(modeOf(base.filePath("cache")), 0700);
        QCOMPARE(modeOf(base.filePath("cache/deeper")), 0700);
        QCOMPARE(modeOf(folder), 0700);
    }

    void looseFolderOfOursIsTightened() {
        const QString folder = base.filePath("tolvex");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(setMode(folder, 0775));
        QVERIFY(privatefolder::secure(bytes(folder)));
        QCOMPARE(modeOf(folder), 0700);
        // Even one the owner shut himself out of.
        QVERIFY(setMode(folder, 0));
        QVERIFY(privatefolder::secure(bytes(folder)));
        QCOMPARE(modeOf(folder), 0700);
    }

    // A link in the folder's place may point anywhere, a shared folder or another user's: it is
    // refused, and neither its target nor the target's mode is touched.
    void linkInItsPlaceIsRefused() {
        const QString target = base.filePath("shared");
        QVERIFY(QDir().mkpath(target));
        QVERIFY(setMode(target, 0777));
        const QString folder = base.filePath("tolvex");
        QVERIFY(QFile::link(target, folder));
        QVERIFY(!privatefolder::secure(bytes(folder)));
        QVERIFY(!privatefolder::JobFolder::make(bytes(folder)));
        QVERIFY(QFileInfo(folder).isSymLink());
        QCOMPARE(modeOf(target), 0777);
        QCOMPARE(entriesOf(target), QStringList());
    }

    void notAFolderIsRefused() {
        const QString folder = base.filePath("tolvex");
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(!privatefolder::secure(bytes(folder)));
        QVERIFY(!privatefolder::secure("relative/tolvex"));
        QVERIFY(!privatefolder::JobFolder::make(bytes(folder)));
    }

    // --- a job's folder --------------------------------------------------------------------------

    void jobFolderIsFreshPrivateAndGoesWithEverythingInIt_data() {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 022") << 022;
        QTest::newRow("umask 077") << 077;
        // Takes the owner's own bits: the folder would be of no use, and is set right.
        QTest::newRow("umask 777") << 0777;
    }
    void jobFolderIsFreshPrivateAndGoesWithEverythingInIt() {
        QFETCH(int, mask);
        const QString priv = base.filePath("tolvex");
        QVERIFY(QDir().mkpath(priv));
        QVERIFY(setMode(priv, 0700));
        std::optional<privatefolder::JobFolder> first, second;
        {
            const Umask scope{mode_t(mask)};
            first = privatefolder::JobFolder::make(bytes(priv));
            second = privatefolder::JobFolder::make(bytes(priv));
        }
        QVERIFY(first && second);
        QCOMPARE(QFileInfo(first->path()).absolutePath(), priv);
        QVERIFY(QFileInfo(first->path()).fileName().startsWith("job-"));
        QVERIFY(first->path() != second->path());
        QCOMPARE(first->archive(), first->path() + "/temp.lzh");
        QCOMPARE(modeOf(first->path()), 0700);
        QCOMPARE(modeOf(second->path()), 0700);
        QCOMPARE(entriesOf(first->path()), QStringList());

        // The archive and whatever a failed packing leaves beside it.
        QFile archive(first->archive());
        QVERIFY(archive.open(QIODevice::WriteOnly));
        archive.close();
        QVERIFY(QDir(first->path()).mkpath("left/over"));
        const QString firstPath = first->path();
        first.reset();
        QVERIFY(!QFileInfo::exists(firstPath));
        QVERIFY(QFileInfo(second->path()).isDir());
        second.reset();
        QCOMPARE(entriesOf(priv), QStringList());
    }

    void movedJobFolderGoesOnce() {
        const QString priv = base.filePath("tolvex");
        auto made = privatefolder::JobFolder::make(bytes(priv));
        QVERIFY(made);
        const QString path = made->path();
        std::optional<privatefolder::JobFolder> kept;
        kept.emplace(std::move(*made));
        made.reset();
        QVERIFY(QFileInfo(path).isDir());
        kept.reset();
        QVERIFY(!QFileInfo::exists(path));
    }

    // A link inside the job's folder is removed, not followed.
    void removalFollowsNoLink() {
        const QString outside = base.filePath("outside");
        QVERIFY(QDir().mkpath(outside));
        QFile keep(outside + "/keep");
        QVERIFY(keep.open(QIODevice::WriteOnly));
        keep.close();
        auto job = privatefolder::JobFolder::make(bytes(base.filePath("tolvex")));
        QVERIFY(job);
        QVERIFY(QFile::link(outside, job->path() + "/link"));
        job.reset();
        QCOMPARE(entriesOf(base.filePath("tolvex")), QStringList());
        QCOMPARE(entriesOf(outside), QStringList{"keep"});
    }
};

QTEST_APPLESS_MAIN(PrivateFolderTest)
#include "app_private_folder_test.moc"
