#include "caches/BuildCacheService.h"
#include "platform/LocalPath.h"
#include "support/FixtureTree.h"

#include <QEventLoop>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using Cache = BuildCacheService::Cache;

template<typename Step>
void await(Step step)
{
    bool finished = false;
    QEventLoop loop;
    step([&] {
        finished = true;
        loop.quit();
    });
    if (!finished) {
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QVERIFY(finished);
}

void setModified(const QString &path, qint64 seconds)
{
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0);
}

bool exists(const QString &path) { return QFileInfo(path).exists() || QFileInfo(path).isSymLink(); }

// The blocks the file system holds for the items at `paths`, read with lstat.
qint64 onDisk(const QStringList &paths)
{
    qint64 total = 0;
    for (const QString &path : paths) {
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0)
            total += qint64(st.st_blocks) * 512;
    }
    return total;
}
}

class TestBuildCacheService : public QObject
{
    Q_OBJECT

    // Each test gets a fresh fixture with a home inside it, so "above the home folder"
    // stays inside the fixture too.
    std::unique_ptr<FixtureTree> tree;
    QHash<QString, QString> env;
    bool demo = false;
    qint64 clockMs = 0;
    QDateTime clock = QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC);

    QString home(const QString &relative = {}) const
    {
        return relative.isEmpty() ? tree->path(QStringLiteral("home")) : tree->path(QStringLiteral("home/") + relative);
    }
    qint64 homeOnDisk(const QStringList &relative) const
    {
        QStringList paths;
        for (const QString &r : relative)
            paths.append(home(r));
        return onDisk(paths);
    }
    void write(const QString &relative, int bytes) const { tree->write(QStringLiteral("home/") + relative, QByteArray(bytes, 'x')); }

    std::unique_ptr<BuildCacheService> service()
    {
        BuildCacheSources s;
        s.homePath = home();
        s.environment = [this](const char *name) { return env.value(QLatin1String(name)); };
        s.demoMode = [this] { return demo; };
        s.now = [this] { return clock; };
        s.monotonicMs = [this] { return clockMs; };
        return std::make_unique<BuildCacheService>(s, BuildCacheService::Polling::Manual);
    }

    static void scan(BuildCacheService &caches)
    {
        await([&](auto done) { caches.scanCaches(done); });
    }

private Q_SLOTS:
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        tree->mkdir(QStringLiteral("home"));
        env.clear();
        demo = false;
        clockMs = 0;
    }

    void measuresVisibleAllocatedBytesInTableOrder()
    {
        write(QStringLiteral(".npm/_cacache/content/a"), 1000);
        write(QStringLiteral(".npm/_cacache/index/b"), 24);
        write(QStringLiteral(".npm/.hidden"), 500);
        write(QStringLiteral(".npm/_cacache/.tmp/x"), 700);    // inside a hidden folder
        write(QStringLiteral("Documents/big"), 10'000);
        QVERIFY(QFile::link(home(QStringLiteral("Documents/big")), home(QStringLiteral(".npm/link-to-big"))));
        QVERIFY(QFile::link(home(QStringLiteral("Documents")), home(QStringLiteral(".npm/link-to-folder"))));
        // A hard link is the same bytes twice; they count once.
        write(QStringLiteral(".npm/_cacache/content/shared"), 300);
        QVERIFY(::link(QFile::encodeName(home(QStringLiteral(".npm/_cacache/content/shared"))).constData(),
                       QFile::encodeName(home(QStringLiteral(".npm/_cacache/content/shared2"))).constData()) == 0);
        // A sparse file counts the blocks it holds, not the length it claims.
        {
            QFile sparse(home(QStringLiteral(".npm/_cacache/content/sparse")));
            QVERIFY(sparse.open(QIODevice::WriteOnly));
            QVERIFY(sparse.resize(5'000'000));
        }

        write(QStringLiteral(".cargo/registry/cache/crate"), 300);
        write(QStringLiteral(".cargo/git/db/repo"), 400);       // purged with Cargo, never counted
        write(QStringLiteral(".cargo/bin/cargo"), 900);
        env.insert(QStringLiteral("GOCACHE"), tree->path(QStringLiteral("gocache")));
        tree->write(QStringLiteral("gocache/00/a-d"), QByteArray(123, 'g'));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), tree->path(QStringLiteral("xdgcache")));
        tree->write(QStringLiteral("xdgcache/pip/http/1"), QByteArray(77, 'p'));
        tree->write(QStringLiteral("xdgcache/mesa_shader_cache/index"), QByteArray(10, 'm'));
        tree->write(QStringLiteral("xdgcache/mesa_shader_cache_db/part0"), QByteArray(20, 'm'));
        write(QStringLiteral(".cache/pip/ignored"), 5);        // XDG_CACHE_HOME moved the cache away
        write(QStringLiteral(".local/share/Steam/steamapps/shadercache/730/a"), 66);
        write(QStringLiteral("Library/Developer/Xcode/DerivedData/App-x/Build"), 42);
        // The hub follows XDG_CACHE_HOME as well; its snapshots are links to the blobs.
        tree->write(QStringLiteral("xdgcache/huggingface/hub/models--a--b/blobs/0123"), QByteArray(2 * 1024 * 1024, 'h'));
        tree->write(QStringLiteral("xdgcache/huggingface/hub/.locks/lock"), QByteArray(9, 'l'));
        tree->mkdir(QStringLiteral("xdgcache/huggingface/hub/models--a--b/snapshots"));
        QVERIFY(QFile::link(tree->path(QStringLiteral("xdgcache/huggingface/hub/models--a--b/blobs/0123")),
                            tree->path(QStringLiteral("xdgcache/huggingface/hub/models--a--b/snapshots/main"))));
        write(QStringLiteral(".cache/huggingface/hub/elsewhere"), 5);
        write(QStringLiteral(".ollama/models/blobs/sha256-1"), 3 * 1024 * 1024);

        auto caches = service();
        QCOMPARE(caches->huggingfaceCacheSizeGB(), 0.0);   // live: no sample figure before the scan
        QStringList order;
        const auto record = [&](void (BuildCacheService::*signal)(), const char *key) {
            connect(caches.get(), signal, this, [&order, key] { order.append(QLatin1String(key)); });
        };
        record(&BuildCacheService::derivedDataSizeChanged, "derivedData");
        record(&BuildCacheService::npmCacheSizeChanged, "npm");
        record(&BuildCacheService::cargoCacheSizeChanged, "cargo");
        record(&BuildCacheService::goCacheSizeChanged, "go");
        record(&BuildCacheService::pipCacheSizeChanged, "pip");
        record(&BuildCacheService::mesaShaderCacheSizeChanged, "mesa");
        record(&BuildCacheService::steamShaderCacheSizeChanged, "steam");
        record(&BuildCacheService::huggingfaceCacheSizeGBChanged, "huggingface");
        scan(*caches);

        // Files and the folders below each cache, as deleting them would give back.
        QCOMPARE(caches->npmCacheSize(),
                 homeOnDisk({".npm/_cacache/content/a", ".npm/_cacache/index/b", ".npm/_cacache/content/shared",
                             ".npm/_cacache/content/sparse", ".npm/_cacache", ".npm/_cacache/content", ".npm/_cacache/index"}));
        QVERIFY(caches->npmCacheSize() < 1'000'000);
        QCOMPARE(caches->cargoCacheSize(), homeOnDisk({".cargo/registry/cache/crate", ".cargo/registry/cache"}));
        QCOMPARE(caches->goCacheSize(), onDisk({tree->path(QStringLiteral("gocache/00/a-d")), tree->path(QStringLiteral("gocache/00"))}));
        QCOMPARE(caches->pipCacheSize(), onDisk({tree->path(QStringLiteral("xdgcache/pip/http/1")), tree->path(QStringLiteral("xdgcache/pip/http"))}));
        QCOMPARE(caches->mesaShaderCacheSize(), onDisk({tree->path(QStringLiteral("xdgcache/mesa_shader_cache/index")),
                                                        tree->path(QStringLiteral("xdgcache/mesa_shader_cache_db/part0"))}));
        QCOMPARE(caches->steamShaderCacheSize(), homeOnDisk({".local/share/Steam/steamapps/shadercache/730/a",
                                                             ".local/share/Steam/steamapps/shadercache/730"}));
        // Measured wherever it exists.
        QCOMPARE(caches->derivedDataSize(), homeOnDisk({"Library/Developer/Xcode/DerivedData/App-x/Build",
                                                        "Library/Developer/Xcode/DerivedData/App-x"}));
        QCOMPARE(caches->spmCacheSize(), 0);
        const QString hub = tree->path(QStringLiteral("xdgcache/huggingface/hub/models--a--b"));
        QCOMPARE(caches->huggingfaceCacheSizeGB(),
                 onDisk({hub + "/blobs/0123", hub, hub + "/blobs", hub + "/snapshots"}) / (1024.0 * 1024 * 1024));
        QCOMPARE(caches->ollamaCacheSizeGB(),
                 homeOnDisk({".ollama/models/blobs/sha256-1", ".ollama/models/blobs"}) / (1024.0 * 1024 * 1024));
        QCOMPARE(order, (QStringList{"derivedData", "npm", "cargo", "go", "pip", "mesa", "steam", "huggingface"}));

        // Unchanged figures are not announced again.
        order.clear();
        scan(*caches);
        QCOMPARE(order, QStringList{});

        // The rows the screens list: every property, in order, with the platform flag.
        const QList<CacheRowInfo> rows = caches->cacheRows();
        QCOMPARE(rows.size(), BuildCacheService::kCacheCount);
        QCOMPARE(rows.at(2).key, QStringLiteral("npmCacheSize"));
        QCOMPARE(rows.at(2).sizeBytes, caches->npmCacheSize());
        for (const CacheRowInfo &row : rows) {
            const QByteArray key = row.key.toLatin1();
            QVERIFY2(caches->property(key.constData()).isValid(), key.constData());
        }
#ifndef Q_OS_MACOS
        QVERIFY(!rows.at(0).onThisPlatform);
        QVERIFY(rows.at(1).onThisPlatform);
#endif
    }

    void purgesEmptyOrRemoveAsTheirRowsSay()
    {
        write(QStringLiteral("Library/Developer/Xcode/DerivedData/App-x/Build/o"), 10);
        write(QStringLiteral("Library/Developer/Xcode/DerivedData/.hidden"), 10);
        write(QStringLiteral(".cache/org.swift.swiftpm/repositories/r"), 10);
        write(QStringLiteral(".npm/_cacache/a"), 10);
        write(QStringLiteral("Documents/keep"), 10);
        QVERIFY(QFile::link(home(QStringLiteral("Documents/keep")), home(QStringLiteral(".npm/_cacache/link"))));
        QVERIFY(QFile::link(home(QStringLiteral("Documents")), home(QStringLiteral(".npm/folder-link"))));
        write(QStringLiteral(".cargo/registry/index/i"), 10);
        write(QStringLiteral(".cargo/git/checkouts/c"), 10);
        write(QStringLiteral(".cargo/bin/cargo"), 10);
        write(QStringLiteral(".local/share/Steam/steamapps/shadercache/730/a"), 10);
        // A cache folder that is a link: the folder it leads to holds more than the cache, so
        // neither it nor the link goes, and the refusal is said.
        tree->write(QStringLiteral("otherdisk/pip/http/1"), QByteArray(10, 'p'));
        tree->write(QStringLiteral("otherdisk/pip/thesis.tex"), "precious");
        tree->mkdir(QStringLiteral("home/.cache"));
        QVERIFY(QFile::link(tree->path(QStringLiteral("otherdisk/pip")), home(QStringLiteral(".cache/pip"))));
        // Likewise a folder emptied in place, the Steam one.
        tree->write(QStringLiteral("otherdisk/steam/730/a"), "s");
        tree->mkdir(QStringLiteral("home/.local/share/Steam/steamapps"));

        auto caches = service();
        scan(*caches);
        QCOMPARE(caches->npmCacheSize(), homeOnDisk({".npm/_cacache/a", ".npm/_cacache"}));
        QSignalSpy logged(caches.get(), &BuildCacheService::logged);

        await([&](auto done) { caches->purge(Cache::DerivedData, done); });
        QVERIFY(QFileInfo(home(QStringLiteral("Library/Developer/Xcode/DerivedData"))).isDir());
        QCOMPARE(QDir(home(QStringLiteral("Library/Developer/Xcode/DerivedData")))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot), QStringList{});
        await([&](auto done) { caches->purge(Cache::Spm, done); });
        QVERIFY(QFileInfo(home(QStringLiteral(".cache/org.swift.swiftpm"))).isDir());
        QVERIFY(!exists(home(QStringLiteral(".cache/org.swift.swiftpm/repositories"))));

        await([&](auto done) { caches->purge(Cache::Npm, done); });
        QVERIFY(!exists(home(QStringLiteral(".npm"))));
        QVERIFY(QFileInfo(home(QStringLiteral("Documents/keep"))).isFile());   // links went as links
        QCOMPARE(caches->npmCacheSize(), 0);

        await([&](auto done) { caches->purge(Cache::Cargo, done); });
        QVERIFY(!exists(home(QStringLiteral(".cargo/registry"))));
        QVERIFY(!exists(home(QStringLiteral(".cargo/git"))));
        QVERIFY(QFileInfo(home(QStringLiteral(".cargo/bin/cargo"))).isFile());

        await([&](auto done) { caches->purge(Cache::SteamShaders, done); });
        QVERIFY(QFileInfo(home(QStringLiteral(".local/share/Steam/steamapps/shadercache"))).isDir());
        QVERIFY(!exists(home(QStringLiteral(".local/share/Steam/steamapps/shadercache/730"))));

        const qint64 pipBefore = caches->pipCacheSize();
        QVERIFY(pipBefore > 0);
        QCOMPARE(logged.count(), 0);
        await([&](auto done) { caches->purge(Cache::Pip, done); });
        QVERIFY(QFileInfo(home(QStringLiteral(".cache/pip"))).isSymLink());
        QVERIFY(exists(tree->path(QStringLiteral("otherdisk/pip/http/1"))));
        QVERIFY(exists(tree->path(QStringLiteral("otherdisk/pip/thesis.tex"))));
        QCOMPARE(caches->pipCacheSize(), pipBefore);
        QCOMPARE(logged.count(), 1);
        QVERIFY2(logged.first().first().toString().contains(QStringLiteral("is a link to")),
                 qPrintable(logged.first().first().toString()));

        QDir(home(QStringLiteral(".local/share/Steam/steamapps/shadercache"))).removeRecursively();
        QVERIFY(QFile::link(tree->path(QStringLiteral("otherdisk/steam")), home(QStringLiteral(".local/share/Steam/steamapps/shadercache"))));
        await([&](auto done) { caches->purge(Cache::SteamShaders, done); });
        QVERIFY(exists(tree->path(QStringLiteral("otherdisk/steam/730/a"))));
        QCOMPARE(logged.count(), 2);
        QVERIFY(QFile::remove(home(QStringLiteral(".cache/pip"))));
        QVERIFY(QFile::remove(home(QStringLiteral(".local/share/Steam/steamapps/shadercache"))));
        logged.clear();

        // Nothing there: every purge still completes, quietly.
        for (int i = 0; i < BuildCacheService::kCacheCount; ++i)
            await([&](auto done) { caches->purge(static_cast<Cache>(i), done); });
        for (int i = 0; i < BuildCacheService::kCacheCount; ++i)
            QCOMPARE(caches->size(static_cast<Cache>(i)), 0);
        QCOMPARE(logged.count(), 0);
    }

    // The game page's rows: shader caches go, the model folders beside them stay; the rows
    // are listed as purging until the re-measure is in, and then reported done once.
    void gamingRowsPurgeShaderCachesOnly()
    {
        write(QStringLiteral(".local/share/Steam/steamapps/shadercache/730/fozpipelinesv6/a"), 10);
        write(QStringLiteral(".cache/mesa_shader_cache/index"), 10);
        write(QStringLiteral(".cache/mesa_shader_cache_db/part0"), 10);
        write(QStringLiteral(".cache/nvidia/GLCache/ab/cd"), 10);
        write(QStringLiteral(".ollama/models/blobs/sha256-1"), 20);
        write(QStringLiteral(".cache/huggingface/hub/models--a--b/blobs/0"), 20);
        write(QStringLiteral(".cache/pip/http/1"), 10);

        auto caches = service();
        scan(*caches);
        QStringList gaming;
        for (const CacheRowInfo &row : caches->cacheRows())
            if (row.group == QLatin1String("gaming"))
                gaming.append(row.key);
        QCOMPARE(gaming, (QStringList{QStringLiteral("mesaShaderCacheSize"), QStringLiteral("nvidiaShaderCacheSize"),
                                      QStringLiteral("steamShaderCacheSize")}));
        QCOMPARE(caches->mesaShaderCacheSize(), homeOnDisk({".cache/mesa_shader_cache/index", ".cache/mesa_shader_cache_db/part0"}));

        QSignalSpy finished(caches.get(), &BuildCacheService::purgeFinished);
        QStringList whileRunning;
        await([&](auto done) {
            caches->purgeRows(gaming + QStringList{QStringLiteral("noSuchRow")}, done);
            whileRunning = caches->purging();
        });
        QCOMPARE(whileRunning, gaming);
        QCOMPARE(caches->purging(), QStringList{});
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toStringList(), gaming);

        QVERIFY(QFileInfo(home(QStringLiteral(".local/share/Steam/steamapps/shadercache"))).isDir());
        QVERIFY(!exists(home(QStringLiteral(".local/share/Steam/steamapps/shadercache/730"))));
        QVERIFY(!exists(home(QStringLiteral(".cache/mesa_shader_cache"))));
        QVERIFY(!exists(home(QStringLiteral(".cache/mesa_shader_cache_db"))));
        QVERIFY(!exists(home(QStringLiteral(".cache/nvidia/GLCache"))));
        QCOMPARE(caches->steamShaderCacheSize() + caches->mesaShaderCacheSize() + caches->nvidiaShaderCacheSize(), 0);
        QVERIFY(QFileInfo(home(QStringLiteral(".ollama/models/blobs/sha256-1"))).isFile());
        QVERIFY(QFileInfo(home(QStringLiteral(".cache/huggingface/hub/models--a--b/blobs/0"))).isFile());
        QVERIFY(QFileInfo(home(QStringLiteral(".cache/pip/http/1"))).isFile());
        QCOMPARE(caches->pipCacheSize(), homeOnDisk({".cache/pip/http/1", ".cache/pip/http"}));

        // The model folders' own purge is tracked under their names.
        QSignalSpy purging(caches.get(), &BuildCacheService::purgingChanged);
        caches->purgeCache(QStringLiteral("~/.ollama/models"));
        QCOMPARE(caches->purging(), QStringList{QStringLiteral("ollama")});
        QVERIFY(finished.wait(10000));
        QCOMPARE(caches->purging(), QStringList{});
        QVERIFY(!exists(home(QStringLiteral(".ollama/models/blobs"))));
        QVERIFY(QFileInfo(home(QStringLiteral(".cache/huggingface/hub/models--a--b/blobs/0"))).isFile());
    }

    void refusesToDeleteTheHomeOrAboveIt()
    {
        write(QStringLiteral("Documents/keep"), 10);
        auto caches = service();
        QSignalSpy logged(caches.get(), &BuildCacheService::logged);

        // Variables that name the home folder, a folder above it, or the home through "..".
        const QStringList settings{home(), tree->path(), home(QStringLiteral("Documents/..")), home() + "/"};
        for (const QString &setting : settings) {
            env.insert(QStringLiteral("GOCACHE"), setting);
            env.insert(QStringLiteral("TORCH_HOME"), setting);
            auto misconfigured = service();
            QSignalSpy refused(misconfigured.get(), &BuildCacheService::logged);
            await([&](auto done) { misconfigured->purge(Cache::Go, done); });
            await([&](auto done) { misconfigured->purge(Cache::TorchHub, done); });
            QCOMPARE(refused.count(), 2);
            QVERIFY(refused.at(0).at(0).toString().startsWith(QStringLiteral("Refusing to delete ")));
            QVERIFY2(QFileInfo(home(QStringLiteral("Documents/keep"))).isFile(), qPrintable(setting));
        }
        // A contents purge whose folder is a link to the home folder.
        env.clear();
        tree->mkdir(QStringLiteral("home/.cache"));
        QVERIFY(QFile::link(home(), home(QStringLiteral(".cache/org.swift.swiftpm"))));
        auto linked = service();
        QSignalSpy refused(linked.get(), &BuildCacheService::logged);
        await([&](auto done) { linked->purge(Cache::Spm, done); });
        QCOMPARE(refused.count(), 1);
        QVERIFY(QFileInfo(home(QStringLiteral("Documents/keep"))).isFile());
        QCOMPARE(logged.count(), 0);
    }

    void modelFoldersAreMeasuredAndEmptiedLive()
    {
        write(QStringLiteral(".cache/huggingface/hub/models--a--b/blobs/0"), 1024);
        write(QStringLiteral(".cache/huggingface/token"), 37);   // the login, outside the hub
        write(QStringLiteral(".ollama/models/blobs/sha256-1"), 2048);
        write(QStringLiteral(".ollama/models/manifests/registry/m"), 10);
        write(QStringLiteral(".ollama/id_ed25519"), 64);         // the server's key, outside the store

        auto caches = service();
        scan(*caches);
        QCOMPARE(caches->huggingfaceCacheSizeGB(),
                 homeOnDisk({".cache/huggingface/hub/models--a--b/blobs/0", ".cache/huggingface/hub/models--a--b",
                             ".cache/huggingface/hub/models--a--b/blobs"}) / (1024.0 * 1024 * 1024));

        await([&](auto done) { caches->purgeCache(QStringLiteral("~/.cache/somewhere-else"), done); });
        QVERIFY(caches->huggingfaceCacheSizeGB() > 0);
        QVERIFY(caches->ollamaCacheSizeGB() > 0);

        await([&](auto done) { caches->purgeCache(QStringLiteral("~/.cache/huggingface"), done); });
        QCOMPARE(caches->huggingfaceCacheSizeGB(), 0.0);
        QVERIFY(caches->ollamaCacheSizeGB() > 0);
        QVERIFY(QFileInfo(home(QStringLiteral(".cache/huggingface/hub"))).isDir());
        QVERIFY(!exists(home(QStringLiteral(".cache/huggingface/hub/models--a--b"))));
        QVERIFY(QFileInfo(home(QStringLiteral(".cache/huggingface/token"))).isFile());

        await([&](auto done) { caches->purgeCache(QStringLiteral("~/.ollama/models"), done); });
        QCOMPARE(caches->ollamaCacheSizeGB(), 0.0);
        QVERIFY(QFileInfo(home(QStringLiteral(".ollama/models"))).isDir());
        QVERIFY(!exists(home(QStringLiteral(".ollama/models/blobs"))));
        QVERIFY(QFileInfo(home(QStringLiteral(".ollama/id_ed25519"))).isFile());

        // The variables move both folders.
        env.insert(QStringLiteral("HF_HOME"), tree->path(QStringLiteral("hf")));
        env.insert(QStringLiteral("OLLAMA_MODELS"), tree->path(QStringLiteral("models")));
        tree->write(QStringLiteral("hf/hub/x"), QByteArray(1024, 'h'));
        tree->write(QStringLiteral("models/blobs/y"), QByteArray(2048, 'o'));
        auto moved = service();
        QCOMPARE(moved->huggingFaceHubPath(), tree->path(QStringLiteral("hf/hub")));
        scan(*moved);
        QCOMPARE(moved->ollamaCacheSizeGB(),
                 onDisk({tree->path(QStringLiteral("models/blobs/y")), tree->path(QStringLiteral("models/blobs"))}) / (1024.0 * 1024 * 1024));
    }

    void demoModeShowsSamplesAndTouchesNothing()
    {
        write(QStringLiteral(".npm/_cacache/a"), 10);
        demo = true;
        auto caches = service();
        QCOMPARE(caches->huggingfaceCacheSizeGB(), 12.4);
        QCOMPARE(caches->ollamaCacheSizeGB(), 18.2);
        scan(*caches);
        const qint64 demoSizes[] = {42'450'000'000, 8'210'000'000, 4'120'000'000, 9'560'000'000,
                                    3'420'000'000, 18'450'000'000, 34'820'000'000, 27'110'000'000};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(caches->size(static_cast<Cache>(i)), demoSizes[i]);
        for (int i = 8; i < BuildCacheService::kCacheCount; ++i)
            QVERIFY(caches->size(static_cast<Cache>(i)) > 0);

        const QList<SDKVersionInfo> samples = caches->foundSDKVersions();
        QCOMPARE(samples.size(), 4);
        QCOMPARE(samples.at(0).id(), QStringLiteral("nvm-node-v18.16.0"));
        QCOMPARE(samples.at(0).lastAccessDate, clock.addSecs(-3'888'000));
        QCOMPARE(samples.at(3).id(), QStringLiteral("asdf-golang-1.20.5"));
        QCOMPARE(samples.at(3).sizeInMB(), 400.0);

        // A demo purge zeroes the figure until the next pass; the disk is left alone.
        await([&](auto done) { caches->purge(Cache::Npm, done); });
        QCOMPARE(caches->npmCacheSize(), 0);
        QVERIFY(QFileInfo(home(QStringLiteral(".npm/_cacache/a"))).isFile());
        scan(*caches);
        QCOMPARE(caches->npmCacheSize(), 4'120'000'000);

        // Model figures and runtime rows stay as the demo left them.
        await([&](auto done) { caches->purgeCache(QStringLiteral("~/.cache/huggingface"), done); });
        await([&](auto done) { caches->purgeSDKVersion(QStringLiteral("~/.nvm/versions/node/v20.9.0"), done); });
        scan(*caches);
        QCOMPARE(caches->huggingfaceCacheSizeGB(), 0.0);
        QCOMPARE(caches->ollamaCacheSizeGB(), 18.2);
        QCOMPARE(caches->foundSDKVersions().size(), 3);
        QCOMPARE(caches->foundSDKVersions().at(1).id(), QStringLiteral("mise-python-3.11.4"));

        // Off again: the disk's own figures.
        demo = false;
        scan(*caches);
        QCOMPARE(caches->npmCacheSize(), homeOnDisk({".npm/_cacache/a", ".npm/_cacache"}));
        QCOMPARE(caches->derivedDataSize(), 0);
        QCOMPARE(caches->ollamaCacheSizeGB(), 0.0);
        QCOMPARE(caches->foundSDKVersions(), QList<SDKVersionInfo>{});
    }

    void listsRuntimesOldestFirst()
    {
        const qint64 day = 86'400;
        const qint64 t0 = clock.toSecsSinceEpoch() - 100 * day;
        write(QStringLiteral(".nvm/versions/node/v18.16.0/bin/node"), 1000);
        write(QStringLiteral(".nvm/versions/node/v18.16.0/.cache/x"), 50);   // hidden: not counted
        write(QStringLiteral(".nvm/versions/node/v20.9.0/bin/node"), 2000);
        write(QStringLiteral(".nvm/versions/node/system/x"), 1);           // not a "v" name
        write(QStringLiteral(".nvm/versions/node/.hidden-v1/x"), 1);
        write(QStringLiteral(".local/share/mise/installs/python/3.11.4/bin/python"), 3000);
        write(QStringLiteral(".local/share/mise/installs/python/3.12.0/bin/python"), 4000);
        QVERIFY(QFile::link(QStringLiteral("3.12.0"), home(QStringLiteral(".local/share/mise/installs/python/3.12"))));
        write(QStringLiteral(".local/share/mise/installs/README"), 5);     // not a tool folder
        write(QStringLiteral(".asdf/installs/golang/1.20.5/go/bin/go"), 5000);

        setModified(home(QStringLiteral(".nvm/versions/node/v18.16.0")), t0 + 10 * day);
        setModified(home(QStringLiteral(".nvm/versions/node/v20.9.0")), t0 + 90 * day);
        // Three equal dates: they keep the scan's order (nvm, mise, asdf; names sorted).
        setModified(home(QStringLiteral(".local/share/mise/installs/python/3.11.4")), t0);
        setModified(home(QStringLiteral(".local/share/mise/installs/python/3.12")), t0);
        setModified(home(QStringLiteral(".local/share/mise/installs/python/3.12.0")), t0 + 50 * day);
        setModified(home(QStringLiteral(".asdf/installs/golang/1.20.5")), t0);

        auto caches = service();
        scan(*caches);
        const QList<SDKVersionInfo> rows = caches->foundSDKVersions();
        QStringList ids;
        for (const SDKVersionInfo &row : rows)
            ids.append(row.id());
        QCOMPARE(ids, (QStringList{"mise-python-3.11.4", "mise-python-3.12", "asdf-golang-1.20.5", "nvm-node-v18.16.0",
                                   "mise-python-3.12.0", "nvm-node-v20.9.0"}));
        const QString mise = QStringLiteral(".local/share/mise/installs/python/3.11.4");
        QCOMPARE(rows.at(0).sizeBytes, homeOnDisk({mise + "/bin/python", mise + "/bin"}));
        QCOMPARE(rows.at(0).path, home(QStringLiteral(".local/share/mise/installs/python/3.11.4")));
        QCOMPARE(rows.at(0).lastAccessDate.toSecsSinceEpoch(), t0);
        QCOMPARE(rows.at(1).sizeBytes, 0);   // a link to another version
        QCOMPARE(rows.at(3).sizeBytes, homeOnDisk({".nvm/versions/node/v18.16.0/bin/node", ".nvm/versions/node/v18.16.0/bin"}));
        QCOMPARE(rows.at(3).name, QStringLiteral("node"));

        // The records travel as JSON and come back equal; broken ones are rejected.
        const QJsonObject json = rows.at(3).toJson();
        QCOMPARE(json.value("lastAccessDate").toString().left(4), QString::number(rows.at(3).lastAccessDate.toUTC().date().year()));
        QVERIFY(SDKVersionInfo::fromJson(json) == rows.at(3));
        QJsonObject broken = json;
        broken.remove("sizeBytes");
        QVERIFY(!SDKVersionInfo::fromJson(broken));
        broken = json;
        broken.insert("lastAccessDate", "yesterday");
        QVERIFY(!SDKVersionInfo::fromJson(broken));

        // Manager folders the variables point elsewhere.
        env.insert(QStringLiteral("NVM_DIR"), tree->path(QStringLiteral("nvm")));
        env.insert(QStringLiteral("MISE_DATA_DIR"), tree->path(QStringLiteral("mise")));
        env.insert(QStringLiteral("ASDF_DATA_DIR"), tree->path(QStringLiteral("asdf")));
        tree->write(QStringLiteral("nvm/versions/node/v22.1.0/x"), QByteArray(1, 'n'));
        tree->write(QStringLiteral("mise/installs/ruby/3.3.0/x"), QByteArray(1, 'r'));
        auto moved = service();
        scan(*moved);
        QCOMPARE(moved->foundSDKVersions().size(), 2);
    }

    void deletesOnlyVersionFoldersOfAManager()
    {
        write(QStringLiteral(".nvm/versions/node/v18.16.0/bin/node"), 10);
        write(QStringLiteral(".local/share/mise/installs/python/3.11.4/bin/python"), 10);
        write(QStringLiteral(".asdf/installs/golang/1.20.5/go"), 10);
        write(QStringLiteral("Documents/keep"), 10);
        // A tool folder that leads out of the install folder, and a version that is a link out.
        QVERIFY(QFile::link(home(QStringLiteral("Documents")), home(QStringLiteral(".asdf/installs/escape"))));
        QVERIFY(QFile::link(home(QStringLiteral("Documents")), home(QStringLiteral(".asdf/installs/golang/1.19"))));

        auto caches = service();
        scan(*caches);
        QCOMPARE(caches->foundSDKVersions().size(), 5);   // what the link escape/ leads to is listed too
        QSignalSpy logged(caches.get(), &BuildCacheService::logged);

        const QStringList refused{
            home(QStringLiteral(".nvm/versions/node/v18.16.0/../../../../Documents")),
            home(QStringLiteral(".nvm/versions/node/..")),
            home(QStringLiteral(".nvm/versions/node")),
            home(QStringLiteral(".local/share/mise/installs/python")),         // a whole tool
            home(QStringLiteral(".asdf/installs/escape/keep")),                // through a link out
            home(QStringLiteral(".asdf/installs/golang/1.20.5/go")),          // inside a version
            home(),
            tree->path(),
            QStringLiteral("Documents"),
        };
        for (const QString &path : refused) {
            logged.clear();
            await([&](auto done) { caches->purgeSDKVersion(path, done); });
            QCOMPARE(logged.count(), 1);
            QVERIFY2(logged.at(0).at(0).toString().startsWith(QStringLiteral("Refusing to delete ") + path),
                     qPrintable(logged.at(0).at(0).toString()));
        }
        QVERIFY(QFileInfo(home(QStringLiteral("Documents/keep"))).isFile());
        QVERIFY(QFileInfo(home(QStringLiteral(".local/share/mise/installs/python/3.11.4"))).isDir());
        QVERIFY(QFileInfo(home(QStringLiteral(".asdf/installs/golang/1.20.5/go"))).isFile());

        // Allowed: a version folder (through the ~ form too), and a link removed as a link.
        logged.clear();
        await([&](auto done) { caches->purgeSDKVersion(QStringLiteral("~/.nvm/versions/node/v18.16.0"), done); });
        await([&](auto done) { caches->purgeSDKVersion(home(QStringLiteral(".asdf/installs/golang/1.19")), done); });
        await([&](auto done) { caches->purgeSDKVersion(home(QStringLiteral(".asdf/installs/golang/9.9.9")), done); });
        QCOMPARE(logged.count(), 0);
        QVERIFY(!exists(home(QStringLiteral(".nvm/versions/node/v18.16.0"))));
        QVERIFY(!exists(home(QStringLiteral(".asdf/installs/golang/1.19"))));
        QVERIFY(QFileInfo(home(QStringLiteral("Documents/keep"))).isFile());
        QCOMPARE(caches->foundSDKVersions().size(), 3);

        // A version folder whose name is not UTF-8 is measured and deleted like any other.
        const QByteArray odd = LocalPath::encode(home(QStringLiteral(".nvm/versions/node"))) + "/v21-\xe9t\xe9";
        QVERIFY(::mkdir(odd.constData(), 0755) == 0);
        QVERIFY(::mkdir((odd + "/bin").constData(), 0755) == 0);
        const int node = ::open((odd + "/bin/node").constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
        QVERIFY(node >= 0);
        QCOMPARE(::write(node, QByteArray(5000, 'n').constData(), 5000), ssize_t(5000));
        ::close(node);
        scan(*caches);
        QString listed;
        for (const SDKVersionInfo &row : caches->foundSDKVersions())
            if (row.version.startsWith(QLatin1String("v21")))
                listed = row.path;
        QCOMPARE(LocalPath::encode(listed), odd);
        const auto found = std::find_if(caches->foundSDKVersions().cbegin(), caches->foundSDKVersions().cend(),
                                        [&](const SDKVersionInfo &row) { return row.path == listed; });
        QVERIFY(found->sizeBytes >= 5000);
        await([&](auto done) { caches->purgeSDKVersion(listed, done); });
        QCOMPARE(logged.count(), 0);
        struct stat st {};
        QCOMPARE(::lstat(odd.constData(), &st), -1);
    }

    void oneScanAtATimeAndCostBoundsTheNext()
    {
        write(QStringLiteral(".npm/a"), 10);
        auto caches = service();
        QSignalSpy passes(caches.get(), &BuildCacheService::passFinished);

        QVERIFY(caches->tick());
        QVERIFY(caches->isScanning());
        QVERIFY(!caches->tick());                 // one in flight: skipped
        int called = 0;
        caches->scanCaches([&called] { ++called; });
        caches->scanCaches([&called] { ++called; });
        clockMs = 1000;                           // the first pass took a second
        QTRY_COMPARE_WITH_TIMEOUT(called, 2, 10000);
        QCOMPARE(passes.count(), 2);              // the two requests shared one queued pass
        QVERIFY(!caches->isScanning());

        // That pass started at 1000 and took 0: five seconds from its start.
        clockMs = 5999;
        QVERIFY(!caches->tick());
        clockMs = 6000;
        QVERIFY(caches->tick());
        clockMs = 8000;                           // this one takes two seconds
        QTRY_COMPARE_WITH_TIMEOUT(passes.count(), 3, 10000);
        clockMs = 6000 + 39'999;
        QVERIFY(!caches->tick());
        clockMs = 6000 + 40'000;
        QVERIFY(caches->tick());
        QTRY_COMPARE_WITH_TIMEOUT(passes.count(), 4, 10000);

        // A purge's pass does not wait for the timer's bound.
        await([&](auto done) { caches->purge(Cache::Npm, done); });
        QCOMPARE(passes.count(), 5);
        QCOMPARE(caches->npmCacheSize(), 0);
    }
};

QTEST_GUILESS_MAIN(TestBuildCacheService)
#include "tst_BuildCacheService.moc"
