#include "caches/BuildCacheService.h"
#include "support/QmlPageHarness.h"
#include "support/ScreenFixture.h"
#include "telemetry/DriveHealthMonitor.h"
#include "telemetry/SystemStatsProvider.h"
#include "ui/Format.h"
#include "ui/QmlServices.h"
#include "ui/SymbolImageProvider.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

namespace {
bool exists(const QString &path) { return QFileInfo::exists(path); }
}

// The disk page over real services: the cache service and the telemetry's junk sweep on a
// fixture home with real files, and a drive health service with no udisks behind it.
class TestDiskPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScreenFixture> machine;
    std::unique_ptr<SystemStatsProvider> stats;
    std::unique_ptr<BuildCacheService> caches;
    std::unique_ptr<DriveHealthMonitor> health;
    // Every warning QML prints while a test runs fails the test that caused it.
    std::unique_ptr<QmlPageHarness> ui;

    QString home(const QString &relative) const { return machine->tree.path(QStringLiteral("home/") + relative); }
    void write(const QString &relative, int bytes) { machine->tree.write(QStringLiteral("home/") + relative, QByteArray(bytes, 'x')); }
    // The blocks the file system holds for these items of the home, read with lstat: what
    // the caches are sized by.
    qint64 onDisk(const QStringList &relative) const
    {
        qint64 total = 0;
        for (const QString &path : relative) {
            struct stat st {};
            if (::lstat(QFile::encodeName(home(path)).constData(), &st) == 0)
                total += qint64(st.st_blocks) * 512;
        }
        return total;
    }

    QQuickItem *loadPage() { return ui->load(QStringLiteral("DiskPage"), {}, 560); }
    static QList<QObject *> all(QObject *root, const char *name) { return QmlPageHarness::all(root, name); }
    static QObject *child(QObject *root, const char *name) { return QmlPageHarness::child(root, name); }
    static QString text(QObject *root, const char *name) { return QmlPageHarness::text(root, name); }
    static bool shown(QObject *item) { return item && item->property("visible").toBool(); }
    static QList<QObject *> shownRows(QObject *card)
    {
        QList<QObject *> rows;
        for (QObject *row : all(card, "cacheRow"))
            if (shown(row))
                rows.append(row);
        return rows;
    }
    static QObject *row(QObject *card, const QString &title)
    {
        for (QObject *r : shownRows(card))
            if (r->property("title").toString() == title)
                return r;
        return nullptr;
    }
    static QString label(QObject *button) { return button ? button->property("shownText").toString() : QStringLiteral("<none>"); }
    static void click(QObject *button)
    {
        QVERIFY(button);
        QVERIFY2(button->property("enabled").toBool(), qPrintable(label(button)));
        QMetaObject::invokeMethod(button, "clicked");
    }
    QObject *confirmDialog(QObject *page) { return child(page, "confirmDelete"); }
    static void answer(QObject *confirm, bool remove)
    {
        QTRY_VERIFY(confirm->property("opened").toBool());
        QMetaObject::invokeMethod(confirm, remove ? "accept" : "reject");
        QTRY_VERIFY(!confirm->property("opened").toBool());
    }
    void scan()
    {
        QSignalSpy done(caches.get(), &BuildCacheService::passFinished);
        caches->scanCaches();
        QVERIFY(done.wait(10000));
    }

private Q_SLOTS:
    void init()
    {
        machine = std::make_unique<ScreenFixture>();
        machine->tree.mkdir(QStringLiteral("home"));
        machine->tree.mkdir(QStringLiteral("tmp"));
        machine->tree.mkdir(QStringLiteral("crash"));
        // The junk sweep's folders all lie in the fixture, so a clean never reaches /tmp.
        TelemetrySources sources;
        sources.procRoot = machine->tree.root("proc");
        sources.sysRoot = machine->tree.root("sys");
        sources.homePath = machine->tree.root("home");
        sources.tmpPath = machine->tree.root("tmp");
        sources.crashPath = machine->tree.root("crash");
        stats = std::make_unique<SystemStatsProvider>(*machine->preferences, sources, SystemStatsProvider::Polling::Manual);

        BuildCacheSources cacheSources;
        cacheSources.homePath = machine->tree.path(QStringLiteral("home"));
        cacheSources.environment = [](const char *) { return QString(); };
        caches = std::make_unique<BuildCacheService>(cacheSources, BuildCacheService::Polling::Manual);

        DriveHealthSources healthSources;
        healthSources.homePath = cacheSources.homePath;
        healthSources.usage = [] { return std::optional<FileSystemUsage>(FileSystemUsage{100, 60, 40}); };
        healthSources.mountPoint = [] { return QStringLiteral("/home"); };
        health = std::make_unique<DriveHealthMonitor>(healthSources);   // no udisks bus

        QmlServices::Set set = machine->services();
        set.stats = stats.get();
        set.buildCaches = caches.get();
        set.driveHealth = health.get();
        ui = std::make_unique<QmlPageHarness>(set, QSize(600, 900));
    }
    void cleanup()
    {
        const QStringList warnings = QmlPageHarness::warnings();
        ui.reset();
        caches.reset();
        health.reset();
        stats.reset();
        machine.reset();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    // The gamer's rows are the real shader caches, with their measured sizes; a purge asks
    // first, Cancel deletes nothing, Delete empties the shader cache and never the model
    // folders; the running label stays until the re-measure is in.
    void gamerPurgesShaderCachesOnly()
    {
        write(QStringLiteral(".local/share/Steam/steamapps/shadercache/730/fozpipelinesv6/a"), 3000);
        write(QStringLiteral(".cache/mesa_shader_cache/index"), 2000);
        write(QStringLiteral(".ollama/models/blobs/sha256-1"), 5000);
        write(QStringLiteral(".cache/huggingface/hub/models--a--b/blobs/0"), 5000);
        machine->preferences->setWorkspacePersona(QStringLiteral("Gamer"));
        scan();

        QQuickItem *page = loadPage();
        QVERIFY(page);
        QObject *gamer = child(page, "gamerCard");
        QVERIFY(shown(gamer));
        QVERIFY(!shown(child(page, "developerCard")));
        QVERIFY(!shown(child(page, "huggingFaceCard")));
        QStringList titles;
        for (QObject *r : shownRows(gamer))
            titles << r->property("title").toString();
        QCOMPARE(titles, (QStringList{QStringLiteral("Mesa Shader Cache"), QStringLiteral("NVIDIA Shader Cache"),
                                      QStringLiteral("Steam Shader Cache")}));
        QObject *steam = row(gamer, QStringLiteral("Steam Shader Cache"));
        QCOMPARE(text(steam, "cacheSize"), Format::size(onDisk({".local/share/Steam/steamapps/shadercache/730/fozpipelinesv6/a", ".local/share/Steam/steamapps/shadercache/730",
                                ".local/share/Steam/steamapps/shadercache/730/fozpipelinesv6"})));
        QVERIFY(!child(row(gamer, QStringLiteral("NVIDIA Shader Cache")), "cachePurgeButton")->property("enabled").toBool());

        QObject *confirm = confirmDialog(page);
        QVERIFY(confirm);
        QObject *button = child(steam, "cachePurgeButton");
        // From the keyboard: Enter on the focused button asks the same question.
        ui->window->show();
        auto *buttonItem = qobject_cast<QQuickItem *>(button);
        buttonItem->forceActiveFocus();
        QTRY_VERIFY(buttonItem->hasActiveFocus());
        QTest::keyClick(ui->window.get(), Qt::Key_Return);
        answer(confirm, false);
        QVERIFY(caches->purging().isEmpty());
        QVERIFY(exists(home(QStringLiteral(".local/share/Steam/steamapps/shadercache/730/fozpipelinesv6/a"))));

        click(button);
        QTRY_VERIFY(confirm->property("opened").toBool());
        QCOMPARE(confirm->property("question").toString(),
                 QStringLiteral("Delete %1 in %2?").arg(Format::size(onDisk({".local/share/Steam/steamapps/shadercache/730/fozpipelinesv6/a", ".local/share/Steam/steamapps/shadercache/730",
                                ".local/share/Steam/steamapps/shadercache/730/fozpipelinesv6"})), home(QStringLiteral(".local/share/Steam/steamapps/shadercache"))));
        QSignalSpy finished(caches.get(), &BuildCacheService::purgeFinished);
        answer(confirm, true);
        QCOMPARE(label(button), QStringLiteral("Purging..."));
        QVERIFY(!button->property("enabled").toBool());
        QVERIFY(finished.wait(10000));
        QCOMPARE(label(button), QStringLiteral("Purge"));
        QVERIFY(!exists(home(QStringLiteral(".local/share/Steam/steamapps/shadercache/730"))));
        QCOMPARE(text(steam, "cacheSize"), QStringLiteral("0 bytes"));

        // Purge All asks once for what is left: the one Mesa folder, named.
        QObject *purgeAll = child(gamer, "purgeAllButton");
        click(purgeAll);
        QTRY_VERIFY(confirm->property("opened").toBool());
        QCOMPARE(confirm->property("question").toString(),
                 QStringLiteral("Delete %1 in %2?").arg(Format::size(onDisk({".cache/mesa_shader_cache/index"})), home(QStringLiteral(".cache/mesa_shader_cache"))));
        answer(confirm, true);
        QCOMPARE(label(purgeAll), QStringLiteral("Purging..."));
        QVERIFY(finished.wait(10000));
        QTRY_COMPARE(label(purgeAll), QStringLiteral("Purge All Shader Caches"));
        QVERIFY(!exists(home(QStringLiteral(".cache/mesa_shader_cache"))));
        QVERIFY(exists(home(QStringLiteral(".ollama/models/blobs/sha256-1"))));
        QVERIFY(exists(home(QStringLiteral(".cache/huggingface/hub/models--a--b/blobs/0"))));
        QVERIFY(!purgeAll->property("enabled").toBool());   // nothing left to purge
    }

    // The developer rows: a macOS-only tool says so instead of a size; the Linux caches are
    // listed; Purge All asks once for the sum of every cache it would delete.
    void developerPurgeAllAsksOnceForTheSum()
    {
        write(QStringLiteral(".cache/pip/http/1"), 1000);
        write(QStringLiteral(".npm/_cacache/a"), 2000);
        write(QStringLiteral(".cargo/registry/index/i"), 1500);
        write(QStringLiteral("Documents/keep"), 10);
        machine->preferences->setWorkspacePersona(QStringLiteral("Software Developer"));
        scan();

        QQuickItem *page = loadPage();
        QVERIFY(page);
        QObject *developer = child(page, "developerCard");
        QVERIFY(shown(developer));
        QVERIFY(!shown(child(page, "gamerCard")));
        QObject *xcode = row(developer, QStringLiteral("Xcode DerivedData"));
        QVERIFY(xcode);
        QCOMPARE(text(xcode, "cacheSize"), QStringLiteral("macOS only"));
        QVERIFY(!child(xcode, "cachePurgeButton")->property("enabled").toBool());
        QVERIFY(row(developer, QStringLiteral("pip Cache")));
        QVERIFY(row(developer, QStringLiteral("Gradle Caches")));
        QCOMPARE(text(row(developer, QStringLiteral("npm Global Cache")), "cacheSize"), Format::size(onDisk({".npm/_cacache/a", ".npm/_cacache"})));

        QObject *confirm = confirmDialog(page);
        QObject *purgeAll = child(developer, "purgeAllButton");
        click(purgeAll);
        QTRY_VERIFY(confirm->property("opened").toBool());
        QCOMPARE(confirm->property("question").toString(), QStringLiteral("Delete %1 in 3 developer caches?")
                 .arg(Format::size(onDisk({".cache/pip/http/1", ".cache/pip/http", ".npm/_cacache/a", ".npm/_cacache",
                                           ".cargo/registry/index/i", ".cargo/registry/index"}))));
        answer(confirm, false);
        QVERIFY(exists(home(QStringLiteral(".cache/pip/http/1"))));
        QVERIFY(exists(home(QStringLiteral(".npm/_cacache/a"))));
        QVERIFY(exists(home(QStringLiteral(".cargo/registry/index/i"))));
        QCOMPARE(label(purgeAll), QStringLiteral("Purge All Developer Caches"));

        QSignalSpy finished(caches.get(), &BuildCacheService::purgeFinished);
        click(purgeAll);
        answer(confirm, true);
        QCOMPARE(label(purgeAll), QStringLiteral("Purging..."));
        QCOMPARE(label(child(row(developer, QStringLiteral("npm Global Cache")), "cachePurgeButton")), QStringLiteral("Purging..."));
        QVERIFY(finished.wait(10000));
        QCOMPARE(label(purgeAll), QStringLiteral("Purge All Developer Caches"));
        QVERIFY(!exists(home(QStringLiteral(".cache/pip"))));
        QVERIFY(!exists(home(QStringLiteral(".npm"))));
        QVERIFY(!exists(home(QStringLiteral(".cargo/registry"))));
        QVERIFY(exists(home(QStringLiteral("Documents/keep"))));

        // The creator's rows follow the persona; the Mac-only editors say so.
        machine->preferences->setWorkspacePersona(QStringLiteral("Content Creator"));
        QObject *creator = child(page, "creatorCard");
        QVERIFY(shown(creator));
        QVERIFY(!shown(developer));
        QCOMPARE(text(row(creator, QStringLiteral("Final Cut Pro Cache")), "cacheSize"), QStringLiteral("macOS only"));
        QVERIFY(row(creator, QStringLiteral("DaVinci Resolve Render Cache")));
        QCOMPARE(child(creator, "purgeAllButton")->property("text").toString(), QStringLiteral("Purge All Render Caches"));
    }

    // The junk clean deletes only after its question; the model sweeper of the AI persona
    // likewise; the success line follows the real clean.
    void junkAndModelSweepsAskFirst()
    {
        machine->tree.write(QStringLiteral("home/.local/share/Trash/files/old.iso"), QByteArray(4096, 'j'));
        write(QStringLiteral(".ollama/models/blobs/sha256-1"), 5000);
        machine->preferences->setWorkspacePersona(QStringLiteral("AI Engineer"));
        scan();

        QQuickItem *page = loadPage();
        QVERIFY(page);
        QObject *confirm = confirmDialog(page);
        QVERIFY(!shown(child(page, "junkCleanButton")));
        QSignalSpy scanned(stats.get(), &SystemStatsProvider::junkScanFinished);
        QObject *scanButton = child(page, "junkScanButton");
        ui->window->show();
        auto *scanItem = qobject_cast<QQuickItem *>(scanButton);
        scanItem->forceActiveFocus();
        QTRY_VERIFY(scanItem->hasActiveFocus());
        QTest::keyClick(ui->window.get(), Qt::Key_Enter);   // a small tree may be scanned before this returns
        QVERIFY(scanned.count() == 1 || scanned.wait(10000));
        click(scanButton);
        QCOMPARE(label(scanButton), QStringLiteral("Scanning System..."));
        QVERIFY(scanned.wait(10000));
        QCOMPARE(label(scanButton), QStringLiteral("Scan Junk"));
        QObject *clean = child(page, "junkCleanButton");
        QVERIFY(shown(clean));
        QCOMPARE(label(clean), QStringLiteral("Clean 0.00 GB"));

        click(clean);
        answer(confirm, false);
        QVERIFY(exists(machine->tree.path(QStringLiteral("home/.local/share/Trash/files/old.iso"))));
        QVERIFY(!shown(child(page, "junkSuccess")));
        QSignalSpy cleaned(stats.get(), &SystemStatsProvider::junkCleanFinished);
        click(clean);
        answer(confirm, true);
        QCOMPARE(label(clean), QStringLiteral("Sweeping Cache Files..."));
        QVERIFY(cleaned.wait(10000));
        QVERIFY(!exists(machine->tree.path(QStringLiteral("home/.local/share/Trash/files/old.iso"))));
        QVERIFY(shown(child(page, "junkSuccess")));

        QVERIFY(shown(child(page, "huggingFaceCard")));
        write(QStringLiteral(".cache/huggingface/hub/models--a--b/blobs/0"), 5000);
        QSignalSpy measured(stats.get(), &SystemStatsProvider::huggingFaceCacheSizeMeasured);
        QObject *hfScan = child(page, "hfScanButton");
        click(hfScan);
        QCOMPARE(label(hfScan), QStringLiteral("Analyzing Model Hub..."));
        QVERIFY(measured.wait(10000));
        QCOMPARE(label(hfScan), QStringLiteral("Scan HF Cache"));
        QObject *hfPurge = child(page, "hfPurgeButton");
        click(hfPurge);
        QTRY_VERIFY(confirm->property("opened").toBool());
        QCOMPARE(confirm->property("question").toString(),
                 QStringLiteral("Delete %1 in %2?").arg(Format::size(onDisk({".cache/huggingface/hub/models--a--b/blobs/0", ".cache/huggingface/hub/models--a--b",
                                                    ".cache/huggingface/hub/models--a--b/blobs"})),
                      home(QStringLiteral(".cache/huggingface/hub"))));
        answer(confirm, false);
        QVERIFY(exists(home(QStringLiteral(".cache/huggingface/hub/models--a--b/blobs/0"))));
        QCOMPARE(text(child(page, "huggingFaceCard"), "badgeText"), QStringLiteral("AI Local Hub"));
        QSignalSpy hfPurged(stats.get(), &SystemStatsProvider::huggingFaceCachePurged);
        click(hfPurge);
        answer(confirm, true);
        QCOMPARE(label(hfPurge), QStringLiteral("Erasing Heavy Model Weights..."));
        QVERIFY(hfPurged.wait(10000));
        QVERIFY(!exists(home(QStringLiteral(".cache/huggingface/hub/models--a--b"))));
        QCOMPARE(text(child(page, "huggingFaceCard"), "badgeText"), QStringLiteral("Cleared"));
        QVERIFY(exists(home(QStringLiteral(".ollama/models/blobs/sha256-1"))));

        QObject *ollama = child(page, "ollamaPurgeButton");
        click(ollama);
        QTRY_VERIFY(confirm->property("opened").toBool());
        QCOMPARE(confirm->property("question").toString(),
                 QStringLiteral("Delete %1 in %2?").arg(Format::size(onDisk({".ollama/models/blobs/sha256-1", ".ollama/models/blobs"})), home(QStringLiteral(".ollama/models"))));
        answer(confirm, false);
        QVERIFY(exists(home(QStringLiteral(".ollama/models/blobs/sha256-1"))));
        QSignalSpy finished(caches.get(), &BuildCacheService::purgeFinished);
        click(ollama);
        answer(confirm, true);
        QCOMPARE(label(ollama), QStringLiteral("Purging..."));
        QVERIFY(finished.wait(10000));
        QVERIFY(!exists(home(QStringLiteral(".ollama/models/blobs"))));
        QCOMPARE(text(child(page, "ollamaCard"), "badgeText"), QStringLiteral("Cleared"));
    }

    // Without udisks the health card says what it cannot know instead of a healthy guess,
    // and still shows the volume and its use as df counts them.
    void driveHealthUnavailableWithoutUdisks()
    {
        QQuickItem *page = loadPage();
        QVERIFY(page);
        QTRY_VERIFY(!health->refreshing());
        QCOMPARE(text(page, "volumeName"), QStringLiteral("/home"));
        QCOMPARE(text(page, "diskUsedText"), QStringLiteral("60% Used"));
        QCOMPARE(text(page, "smartText"), QStringLiteral("SMART Status: unavailable"));
        QCOMPARE(text(page, "lifeText"), QStringLiteral("Est. Life: unavailable"));
        QCOMPARE(text(page, "writtenText"), QStringLiteral("TB Written: unavailable"));
        QVERIFY(!text(page, "healthNote").contains(QStringLiteral("optimal")));
    }
};

QTEST_MAIN(TestDiskPage)
#include "tst_DiskPage.moc"
