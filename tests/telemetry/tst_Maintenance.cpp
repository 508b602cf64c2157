#include "app/Preferences.h"
#include "caches/BuildCacheService.h"
#include "platform/DeletionGuard.h"
#include "support/FixtureTree.h"
#include "support/StdoutCapture.h"
#include "telemetry/HuggingFaceHub.h"
#include "telemetry/JunkScanner.h"
#include "telemetry/SystemStatsProvider.h"

#include <QDateTime>
#include <QLocalServer>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>

#include <cmath>

#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr double kGB = 1073741824.0;

void setModified(const QString &path, qint64 secondsSince1970)
{
    const struct timespec times[2] = {{secondsSince1970, 0}, {secondsSince1970, 0}};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

void age(const FixtureTree &tree, const QString &relative, int days)
{
    setModified(tree.path(relative), QDateTime::currentSecsSinceEpoch() - qint64(days) * 86400);
}

// The blocks the file system holds for each of `paths`, read with lstat.
quint64 onDisk(const QStringList &paths)
{
    quint64 total = 0;
    for (const QString &path : paths) {
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0)
            total += quint64(st.st_blocks) * 512;
    }
    return total;
}

QByteArray meminfo(quint64 availableKb)
{
    return "MemTotal: 33554432 kB\nMemAvailable: " + QByteArray::number(availableKb) + " kB\n";
}

void writeScript(const FixtureTree &tree, const QString &relative, const QByteArray &body)
{
    tree.write(relative, "#!/bin/sh\n" + body);
    QFile::setPermissions(tree.path(relative), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
}

class TestMaintenance : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureTree> tree;
    std::unique_ptr<Preferences> prefs;

    TelemetrySources sources()
    {
        TelemetrySources s;
        s.procRoot = tree->root("proc");
        s.sysRoot = tree->root("sys");
        s.homePath = tree->root("home");
        s.tmpPath = tree->root("tmp");
        s.crashPath = tree->root("crash");
        return s;
    }

    // A home with junk in every root, and things beside and behind them that must stay.
    void writeJunkHome()
    {
        tree->write("home/.local/share/Trash/files/old.iso", QByteArray(3000, 'x'));
        tree->write("home/.local/share/Trash/info/old.iso.trashinfo", QByteArray(100, 'i'));
        tree->write("home/.local/share/Trash/files/dir/inner.txt", QByteArray(500, 'd'));
        tree->write("home/.cache/thumbnails/normal/a.png", QByteArray(200, 't'));
        tree->write("home/Documents/keep.txt", QByteArray(7000, 'k'));
        QVERIFY(QFile::link(tree->path("home/Documents/keep.txt"), tree->path("home/.local/share/Trash/files/link")));
        QVERIFY(QFile::link(tree->path("home/Documents"), tree->path("home/.cache/thumbnails/docs")));
        tree->write("tmp/stale.log", QByteArray(400, 's'));
        age(*tree, "tmp/stale.log", 8);
        tree->write("tmp/fresh.log", QByteArray(50, 'f'));
        tree->write("tmp/olddir/a", QByteArray(60, 'a'));
        age(*tree, "tmp/olddir/a", 9);
        tree->write("tmp/mixed/old", QByteArray(70, 'o'));
        age(*tree, "tmp/mixed/old", 9);
        tree->write("tmp/mixed/new", QByteArray(80, 'n'));
        tree->write("crash/_usr_bin_x.0.crash", QByteArray(900, 'c'));
        age(*tree, "tmp/olddir", 9);
    }

private Q_SLOTS:
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        prefs = std::make_unique<Preferences>(new QSettings(tree->path("prefs.conf"), QSettings::IniFormat));
        tree->write("proc/meminfo", meminfo(8 * 1024 * 1024));
        tree->mkdir("home");
    }
    void cleanup()
    {
        prefs.reset();
        tree.reset();
    }

    void junkScanStaysInsideItsRoots()
    {
        writeJunkHome();
        // An old folder holding a socket is some program's live rendezvous.
        tree->mkdir("tmp/agent");
        QLocalServer server;
        QVERIFY(server.listen(tree->path("tmp/agent/sock")));

        JunkRoots roots;
        roots.home = tree->root("home");
        roots.tmp = tree->root("tmp");
        roots.crash = tree->root("crash");
        roots.uid = ::getuid();
        const JunkScan scan = JunkScanner(roots).scan();
        QStringList found;
        for (const JunkScan::Item &item : scan.items)
            found << QString::fromStdString(item.entry.relativePath);
        QVERIFY(found.contains(QStringLiteral("old.iso")));
        QVERIFY(found.contains(QStringLiteral("link")));
        QVERIFY(found.contains(QStringLiteral("stale.log")));
        QVERIFY(found.contains(QStringLiteral("olddir/a")));
        QVERIFY(!found.contains(QStringLiteral("fresh.log")));
        QVERIFY(!found.contains(QStringLiteral("mixed")));
        QVERIFY(!found.contains(QStringLiteral("mixed/old")));
        QVERIFY(!found.contains(QStringLiteral("agent")));
        QVERIFY(!found.contains(QStringLiteral("docs/keep.txt")));   // the link is not followed
        // What deleting gives back: the blocks of the files and of the links themselves.
        QStringList junk;
        for (const char *path : {"home/.local/share/Trash/files/old.iso", "home/.local/share/Trash/info/old.iso.trashinfo",
                                 "home/.local/share/Trash/files/dir/inner.txt", "home/.cache/thumbnails/normal/a.png",
                                 "home/.local/share/Trash/files/link", "home/.cache/thumbnails/docs", "tmp/stale.log",
                                 "tmp/olddir/a", "crash/_usr_bin_x.0.crash"})
            junk << tree->path(QLatin1String(path));
        QCOMPARE(scan.bytes, onDisk(junk));
        const quint64 thumbnail = onDisk({tree->path("home/.cache/thumbnails/normal/a.png")});

        // Files written to or added after the scan are not what it found.
        tree->write("home/.local/share/Trash/files/later.bin", QByteArray(10, 'l'));
        tree->write("home/.cache/thumbnails/normal/a.png", QByteArray(200, 'T'));
        setModified(tree->path("home/.cache/thumbnails/normal/a.png"), QDateTime::currentSecsSinceEpoch() + 5);
        tree->write("tmp/olddir/new", QByteArray(10, 'n'));
        StdoutCapture out;
        const quint64 freed = JunkScanner::clean(scan, DeletionGuard(tree->path("home")));
        // A folder left because of what was added to it says so; one left because a file the
        // scan found changed does not add a line of its own.
        QCOMPARE(out.text().trimmed(), QByteArray::fromStdString("Left " + tree->root("tmp/olddir") + ": it holds items the scan did not list"));
        QCOMPARE(freed, scan.bytes - thumbnail);
        QVERIFY(QFile::exists(tree->path("home/Documents/keep.txt")));
        QVERIFY(QFile::exists(tree->path("home/.local/share/Trash/files/later.bin")));
        QVERIFY(QFile::exists(tree->path("home/.cache/thumbnails/normal/a.png")));
        QVERIFY(QFile::exists(tree->path("tmp/fresh.log")));
        QVERIFY(QFile::exists(tree->path("tmp/mixed/old")));
        QVERIFY(!QFile::exists(tree->path("tmp/olddir/a")));
        QVERIFY(QFile::exists(tree->path("tmp/olddir/new")));
        QVERIFY(!QFile::exists(tree->path("home/.local/share/Trash/files/dir")));
        QVERIFY(QFileInfo(tree->path("home/.local/share/Trash/files")).isDir());
    }

    // A Trash that is a link is neither counted nor emptied where it leads.
    void aLinkedTrashIsLeftAlone()
    {
        tree->write("home/Documents/thesis.tex", QByteArray(3000, 'k'));
        tree->write("home/.local/share/Trash/info/old.trashinfo", QByteArray(10, 'i'));
        QVERIFY(QFile::link(tree->path("home/Documents"), tree->path("home/.local/share/Trash/files")));
        JunkRoots roots;
        roots.home = tree->root("home");
        roots.tmp.clear();
        roots.crash.clear();
        roots.uid = ::getuid();
        const JunkScan scan = JunkScanner(roots).scan();
        QCOMPARE(scan.items.size(), size_t(1));
        QCOMPARE(scan.items.front().entry.relativePath, std::string("old.trashinfo"));

        // A scan made before the folder became a link is refused by the sweep, and said so.
        QVERIFY(QFile::remove(tree->path("home/.local/share/Trash/files")));
        tree->write("home/.local/share/Trash/files/thesis.tex", QByteArray(3000, 'k'));
        const JunkScan before = JunkScanner(roots).scan();
        QCOMPARE(before.items.size(), size_t(2));
        QVERIFY(QDir(tree->path("home/.local/share/Trash/files")).removeRecursively());
        QVERIFY(QFile::link(tree->path("home/Documents"), tree->path("home/.local/share/Trash/files")));
        StdoutCapture out;
        JunkScanner::clean(before, DeletionGuard(tree->path("home")));
        QVERIFY(QFile::exists(tree->path("home/Documents/thesis.tex")));
        QVERIFY(!QFile::exists(tree->path("home/.local/share/Trash/info/old.trashinfo")));
        QVERIFY2(out.text().contains("Refusing to sweep " + tree->root("home/.local/share/Trash/files") + ": "), qPrintable(out.text()));
    }

    void otherUsersFilesAreNotJunk()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to give a file away");
        tree->write("tmp/theirs", "x");
        age(*tree, "tmp/theirs", 30);
        tree->write("crash/theirs.crash", "y");
        QCOMPARE(::chown(qPrintable(tree->path("tmp/theirs")), 4321, 4321), 0);
        QCOMPARE(::chown(qPrintable(tree->path("crash/theirs.crash")), 4321, 4321), 0);
        JunkRoots roots;
        roots.tmp = tree->root("tmp");
        roots.crash = tree->root("crash");
        roots.uid = ::getuid();
        QVERIFY(JunkScanner(roots).scan().items.empty());
    }

    // Through the telemetry model: the freed bytes are counted once, in cleanedJunkTotal,
    // and the disk figure is what statvfs says, not lowered again.
    void cleanJunkAddsWhatWasFreed()
    {
        writeJunkHome();
        SystemStatsProvider stats(*prefs, sources(), SystemStatsProvider::Polling::Manual);
        stats.cleanJunkFiles();   // nothing scanned yet: nothing to do
        QVERIFY(!stats.isCleaningJunk());
        QSignalSpy scanned(&stats, &SystemStatsProvider::junkScanFinished);
        stats.scanJunk();
        QVERIFY(stats.isScanningJunk());
        QVERIFY(scanned.wait());
        const double found = stats.junkFoundInGB();
        QVERIFY(found > 0);
        QSignalSpy cleaned(&stats, &SystemStatsProvider::junkCleanFinished);
        stats.cleanJunkFiles();
        QVERIFY(cleaned.wait());
        QCOMPARE(cleaned[0][0].toDouble(), found);
        QCOMPARE(stats.cleanedJunkTotal(), found);
        QCOMPARE(stats.junkFoundInGB(), 0.0);
        // The home volume is live and others write to it between ticks, so the check is
        // that the figure did not drop by the freed amount: a gigabyte in the trash makes
        // that amount far larger than any write in between. Allocated, not sparse: junk is
        // sized by the blocks it holds.
        QFile big(tree->path("home/.local/share/Trash/files/big.img"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        if (::posix_fallocate(big.handle(), 0, qint64(1) << 30) != 0)
            QSKIP("the fixture's file system cannot allocate a gigabyte");
        big.close();
        stats.scanJunk();
        QVERIFY(scanned.wait());
        stats.cleanJunkFiles();
        QVERIFY(cleaned.wait());
        QVERIFY(stats.cleanedJunkTotal() > 1.0);
        stats.updateStats();
        const double used = stats.diskUsed();
        stats.updateStats();
        QVERIFY2(std::abs(stats.diskUsed() - used) < 0.25, qPrintable(QString::number(stats.diskUsed() - used)));
    }

    void huggingFaceHubIsMeasuredAndPurged()
    {
        qunsetenv("HF_HUB_CACHE");
        qunsetenv("HF_HOME");
        qunsetenv("XDG_CACHE_HOME");
        SystemStatsProvider stats(*prefs, sources(), SystemStatsProvider::Polling::Manual);
        QCOMPARE(stats.huggingFaceHubPath(), tree->path("home/.cache/huggingface/hub"));
        // Absent folder: zero, not a made-up figure.
        QSignalSpy measured(&stats, &SystemStatsProvider::huggingFaceCacheSizeMeasured);
        stats.updateStats();
        QVERIFY(measured.wait());
        QCOMPARE(stats.huggingFaceCacheSizeInGB(), 0.0);
        // The demo switch shows the sample figure over an empty hub and takes it away again.
        QSignalSpy figure(&stats, &SystemStatsProvider::huggingFaceCacheSizeInGBChanged);
        stats.setShowsDemoHubFigure(true);
        QCOMPARE(stats.huggingFaceCacheSizeInGB(), SystemStatsProvider::kDemoHuggingFaceCacheGB);
        QCOMPARE(figure.count(), 1);
        stats.setShowsDemoHubFigure(false);
        QCOMPARE(stats.huggingFaceCacheSizeInGB(), 0.0);
        stats.setShowsDemoHubFigure(true);

        qputenv("HF_HOME", tree->path("hf").toUtf8());
        QCOMPARE(stats.huggingFaceHubPath(), tree->path("hf/hub"));
        qputenv("HF_HUB_CACHE", tree->path("hub").toUtf8());
        tree->write("hub/models--x/blobs/abc", QByteArray(1 << 20, 'w'));
        tree->mkdir("hub/models--x/snapshots");
        QVERIFY(QFile::link(tree->path("hub/models--x/blobs/abc"), tree->path("hub/models--x/snapshots/model.bin")));
        // Within ten seconds a tick reuses the last figure; an explicit refresh walks now.
        stats.updateStats();
        QTest::qWait(50);
        QCOMPARE(measured.count(), 1);
        stats.refreshHuggingFaceCacheSize();
        QVERIFY(measured.wait());
        // The snapshot link points at the blob, which counts once; a real figure wins over
        // the demo one.
        const quint64 onHub = onDisk({tree->path("hub/models--x/blobs/abc"), tree->path("hub/models--x"),
                                      tree->path("hub/models--x/blobs"), tree->path("hub/models--x/snapshots")});
        QCOMPARE(stats.huggingFaceCacheSizeInGB(), onHub / kGB);

        QSignalSpy purged(&stats, &SystemStatsProvider::huggingFaceCachePurged);
        stats.purgeHuggingFaceCache();
        QVERIFY(purged.wait());
        QCOMPARE(stats.cleanedJunkTotal(), onHub / kGB);
        QCOMPARE(stats.huggingFaceCacheSizeInGB(), SystemStatsProvider::kDemoHuggingFaceCacheGB);
        stats.setShowsDemoHubFigure(false);
        QCOMPARE(stats.huggingFaceCacheSizeInGB(), 0.0);
        QVERIFY(QFileInfo(tree->path("hub")).isDir());
        QVERIFY(QDir(tree->path("hub")).isEmpty());
        qunsetenv("HF_HUB_CACHE");
        qunsetenv("HF_HOME");
        qunsetenv("XDG_CACHE_HOME");
    }

    // A walk under way when a purge begins measures files the purge deletes: its figure is
    // dropped, whichever worker ends first, and the purge's count of what is left shows.
    void aWalkOverlappingAPurgeIsDropped()
    {
        qputenv("HF_HUB_CACHE", tree->path("hub").toUtf8());
        tree->write("hub/models--x/blobs/abc", QByteArray(1 << 20, 'w'));
        const quint64 onHub = onDisk({tree->path("hub/models--x/blobs/abc"), tree->path("hub/models--x"),
                                      tree->path("hub/models--x/blobs")});
        int walks = 0;
        QList<double> purged;
        HuggingFaceHub hub(tree->path("home"), {[&](double) { ++walks; },
                                                [&](double freed, double shown) { purged << freed << shown; }});
        hub.refresh();
        QVERIFY(hub.purge());
        QThreadPool::globalInstance()->waitForDone();
        QTRY_COMPARE(purged.size(), 2);
        QCoreApplication::processEvents();
        QCOMPARE(walks, 0);
        QCOMPARE(purged[0], onHub / kGB);
        QCOMPARE(purged[1], 0.0);
        QVERIFY(QDir(tree->path("hub")).isEmpty());

        // The next walk is the purge's own generation and publishes again.
        hub.refresh();
        QTRY_COMPARE(walks, 1);
        qunsetenv("HF_HUB_CACHE");
    }

    // The hub's figure on the disk page and its row on the cache screen are one measurement:
    // hidden lock and marker folders, a sparse download and a snapshot link read the same in
    // both, and as the blocks they hold.
    void huggingFaceHubReadersAgree()
    {
        tree->write("hub/models--x/blobs/abc", QByteArray(50000, 'w'));
        tree->write("hub/.locks/models--x/abc.lock", QByteArray(9, 'l'));
        tree->write("hub/models--x/.no_exist/main/config.json", QByteArray(3000, 'n'));
        tree->mkdir("hub/models--x/snapshots");
        QVERIFY(QFile::link(tree->path("hub/models--x/blobs/abc"), tree->path("hub/models--x/snapshots/model.bin")));
        {
            QFile partial(tree->path("hub/models--x/blobs/def.incomplete"));
            QVERIFY(partial.open(QIODevice::WriteOnly));
            QCOMPARE(partial.write(QByteArray(4096, 'p')), qint64(4096));
            QVERIFY(partial.resize(100 * 1024 * 1024));
        }
        qputenv("HF_HUB_CACHE", tree->path("hub").toUtf8());

        QList<double> measured;
        HuggingFaceHub hub(tree->path("home"), {[&](double shown) { measured << shown; }, [](double, double) {}});
        hub.refresh();
        QTRY_COMPARE(measured.size(), 1);

        BuildCacheSources sources;
        sources.homePath = tree->path("home");
        sources.environment = [this](const char *name) {
            return QByteArray(name) == "HF_HUB_CACHE" ? tree->path("hub") : QString();
        };
        BuildCacheService caches(sources, BuildCacheService::Polling::Manual);
        bool scanned = false;
        caches.scanCaches([&] { scanned = true; });
        QTRY_VERIFY(scanned);

        QCOMPARE(measured[0], caches.huggingfaceCacheSizeGB());
        const quint64 expected = onDisk({tree->path("hub/models--x/blobs/abc"), tree->path("hub/models--x/blobs/def.incomplete"),
                                         tree->path("hub/models--x"), tree->path("hub/models--x/blobs"),
                                         tree->path("hub/models--x/snapshots")});
        QCOMPARE(measured[0], expected / kGB);
        QVERIFY(measured[0] < 1.0 / 1024);   // the sparse download's claimed 100 MB are not there
        qunsetenv("HF_HUB_CACHE");
    }

    // "Freed" after a purge is how much the hub shrank: a sparse file gives back its blocks,
    // a blob also named outside the hub gives back nothing, since its bytes stay.
    void hubPurgeReportsTheMeasuredDrop()
    {
        tree->write("hub/models--x/blobs/abc", QByteArray(50000, 'w'));
        tree->write("home/Documents/kept.bin", QByteArray(200000, 'k'));
        QCOMPARE(::link(QFile::encodeName(tree->path("home/Documents/kept.bin")).constData(),
                        QFile::encodeName(tree->path("hub/models--x/blobs/kept")).constData()), 0);
        {
            QFile sparse(tree->path("hub/models--x/blobs/sparse"));
            QVERIFY(sparse.open(QIODevice::WriteOnly));
            QCOMPARE(sparse.write(QByteArray(4096, 's')), qint64(4096));
            QVERIFY(sparse.resize(100 * 1024 * 1024));
        }
        qputenv("HF_HUB_CACHE", tree->path("hub").toUtf8());
        const quint64 givenBack = onDisk({tree->path("hub/models--x/blobs/abc"), tree->path("hub/models--x/blobs/sparse"),
                                          tree->path("hub/models--x"), tree->path("hub/models--x/blobs")});

        QList<double> purged;
        HuggingFaceHub hub(tree->path("home"), {[](double) {}, [&](double freed, double shown) { purged << freed << shown; }});
        QVERIFY(hub.purge());
        QTRY_COMPARE(purged.size(), 2);
        QCOMPARE(purged[0], givenBack / kGB);
        QCOMPARE(purged[1], 0.0);
        QVERIFY(QDir(tree->path("hub")).isEmpty());
        QVERIFY(QFileInfo(tree->path("home/Documents/kept.bin")).isFile());
        qunsetenv("HF_HUB_CACHE");
    }

    // A hub variable naming the home folder, or a folder above it, would have the purge
    // empty the home: it is refused, nothing goes, and the log says why.
    void aHubAtOrAboveHomeIsNotEmptied()
    {
        tree->write("home/Documents/keep.txt", QByteArray(4096, 'k'));
        // A hub that is a link may lead to more than the hub.
        QVERIFY(QFile::link(tree->path("home/Documents"), tree->path("home/hub-link")));
        for (const QString &hub : {tree->path("home"), tree->path(""), tree->path("home/hub-link")}) {
            qputenv("HF_HUB_CACHE", hub.toUtf8());
            SystemStatsProvider stats(*prefs, sources(), SystemStatsProvider::Polling::Manual);
            QSignalSpy purged(&stats, &SystemStatsProvider::huggingFaceCachePurged);
            StdoutCapture out;
            stats.purgeHuggingFaceCache();
            QVERIFY(purged.wait());
            QCOMPARE(purged[0][0].toDouble(), 0.0);
            QVERIFY(out.text().contains("Refusing to purge the Hugging Face hub"));
            QVERIFY(!stats.isPurgingHuggingFaceCache());
            QVERIFY(QFile::exists(tree->path("home/Documents/keep.txt")));
        }
        qunsetenv("HF_HUB_CACHE");
    }

    void historyCsvFormat()
    {
        QCOMPARE(MaintenanceActions::shortestDecimal(0.0), QStringLiteral("0.0"));
        QCOMPARE(MaintenanceActions::shortestDecimal(37.51234), QStringLiteral("37.51234"));
        QCOMPARE(MaintenanceActions::shortestDecimal(100.0), QStringLiteral("100.0"));
        QCOMPARE(MaintenanceActions::shortestDecimal(0.1 + 0.2), QStringLiteral("0.30000000000000004"));

        const QDateTime now = QDateTime::fromString(QStringLiteral("2026-12-04T20:38:32.250Z"), Qt::ISODateWithMs);
        QCOMPARE(MaintenanceActions::historyFileName(now), QStringLiteral("Quillmoor_History_1796416712.25.csv"));
        QList<double> history(60, 0.0);
        history.last() = 37.51234;
        const QList<QByteArray> lines = MaintenanceActions::historyCsv(history, now).split('\n');
        QCOMPARE(lines.size(), 62);   // header, 60 samples, and the final newline
        QCOMPARE(lines[0], QByteArray("Timestamp,CPUUsage%"));
        QCOMPARE(lines[1], QByteArray("2026-12-04 20:37:32 +0000,0.0"));
        QCOMPARE(lines[60], QByteArray("2026-12-04 20:38:31 +0000,37.51234"));
        QVERIFY(lines[61].isEmpty());
    }

    void exportWritesIntoTheTemporaryFolder()
    {
        qputenv("TMPDIR", tree->path("tmpdir").toUtf8());
        tree->mkdir("tmpdir");
        SystemStatsProvider stats(*prefs, sources(), SystemStatsProvider::Polling::Manual);
        const QString path = stats.exportHistoryToCSV();
        QVERIFY(path.startsWith(tree->path("tmpdir/Quillmoor_History_")));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count('\n'), 61);

        // No usable temporary folder: nothing is written, least of all into the current one.
        const QStringList before = QDir::current().entryList({QStringLiteral("Quillmoor_History_*")});
        qputenv("TMPDIR", tree->path("missing").toUtf8());
        QVERIFY(stats.exportHistoryToCSV().isEmpty());
        QCOMPARE(QDir::current().entryList({QStringLiteral("Quillmoor_History_*")}), before);

        qunsetenv("TMPDIR");
    }

    // The purge reports the memory that became available, or why it did not run.
    void optimizeMemoryMeasuresOrExplains()
    {
        // The fake helper "frees" 2 GiB by rewriting the fixture meminfo.
        writeScript(*tree, "bin/helper", "printf 'MemTotal: 33554432 kB\\nMemAvailable: 10485760 kB\\n' > '"
                                              + tree->path("proc/meminfo").toUtf8() + "'\n");
        TelemetrySources direct = sources();
        direct.memoryPurgeHelper = tree->path("bin/helper");
        direct.elevateMemoryPurge = false;
        SystemStatsProvider stats(*prefs, direct, SystemStatsProvider::Polling::Manual);
        QSignalSpy finished(&stats, &SystemStatsProvider::memoryOptimizationFinished);
        stats.optimizeMemory();
        QVERIFY(stats.isOptimizingMemory());
        QVERIFY(finished.wait());
        QCOMPARE(finished[0][0].toBool(), true);
        QCOMPARE(stats.optimizedMemoryReleased(), 2.0);
        QVERIFY(stats.memoryOptimizationError().isEmpty());
        QVERIFY(!stats.isOptimizingMemory());

        // Refused at the polkit prompt: pkexec answers 126 and no figure is invented.
        writeScript(*tree, "bin/pkexec", "exit 126\n");
        TelemetrySources refused = direct;
        refused.pkexecPath = tree->path("bin/pkexec");
        refused.elevateMemoryPurge = true;
        SystemStatsProvider denied(*prefs, refused, SystemStatsProvider::Polling::Manual);
        QSignalSpy deniedDone(&denied, &SystemStatsProvider::memoryOptimizationFinished);
        denied.optimizeMemory();
        QVERIFY(deniedDone.wait());
        QCOMPARE(deniedDone[0][0].toBool(), false);
        QCOMPARE(denied.optimizedMemoryReleased(), 0.0);
        QVERIFY(denied.memoryOptimizationError().contains(QStringLiteral("administrator rights")));

        // A helper that is not there.
        TelemetrySources missing = direct;
        missing.memoryPurgeHelper = tree->path("bin/nothing");
        SystemStatsProvider absent(*prefs, missing, SystemStatsProvider::Polling::Manual);
        QSignalSpy absentDone(&absent, &SystemStatsProvider::memoryOptimizationFinished);
        absent.optimizeMemory();
        QVERIFY(absentDone.wait());
        QCOMPARE(absentDone[0][0].toBool(), false);
        QVERIFY(!absent.memoryOptimizationError().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestMaintenance)
#include "tst_Maintenance.moc"
