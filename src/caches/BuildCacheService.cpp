#include "BuildCacheService.h"

#include "app/QmlRecords.h"
#include "platform/WorkerTask.h"
#include "localai/LocalAIService.h"
#include "platform/FileTree.h"
#include "telemetry/SystemStatsProvider.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include <sys/stat.h>

namespace {
using Signal = void (BuildCacheService::*)();
// One per row, in table order.
constexpr auto kSizeSignals = std::to_array<Signal>({
    &BuildCacheService::derivedDataSizeChanged,
    &BuildCacheService::spmCacheSizeChanged,
    &BuildCacheService::npmCacheSizeChanged,
    &BuildCacheService::cargoCacheSizeChanged,
    &BuildCacheService::goCacheSizeChanged,
    &BuildCacheService::finalCutCacheSizeChanged,
    &BuildCacheService::davinciCacheSizeChanged,
    &BuildCacheService::adobeCacheSizeChanged,
    &BuildCacheService::pipCacheSizeChanged,
    &BuildCacheService::yarnCacheSizeChanged,
    &BuildCacheService::pnpmStoreSizeChanged,
    &BuildCacheService::gradleCacheSizeChanged,
    &BuildCacheService::mavenRepositorySizeChanged,
    &BuildCacheService::ccacheSizeChanged,
    &BuildCacheService::bazelCacheSizeChanged,
    &BuildCacheService::torchHubCacheSizeChanged,
    &BuildCacheService::mesaShaderCacheSizeChanged,
    &BuildCacheService::nvidiaShaderCacheSizeChanged,
    &BuildCacheService::steamShaderCacheSizeChanged,
});
static_assert(kSizeSignals.size() == BuildCacheService::kCacheCount, "one signal per row");

#ifdef Q_OS_MACOS
constexpr bool kOnMac = true;
#else
constexpr bool kOnMac = false;
#endif

constexpr double kBytesPerGB = 1024.0 * 1024.0 * 1024.0;

std::string local(const QString &path) { return QFile::encodeName(path).toStdString(); }
QString fromLocal(const std::string &path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

QString canonical(const QString &path) { return QFileInfo(path).canonicalFilePath(); }

bool isStrictlyInside(const QString &location, const QString &root)
{
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return location.size() > prefix.size() && location.startsWith(prefix);
}

// The folder itself, a folder holding the home folder, or the home folder: never deleted,
// whatever a misconfigured variable says the cache is.
bool isProtected(const QString &location, const QString &home)
{
    return location == QLatin1String("/") || location == home || isStrictlyInside(home, location);
}

QString refusalLine(const QString &path, const QString &reason)
{
    return QStringLiteral("Refusing to delete %1: %2").arg(path, reason);
}

// Empties the folder at `location` (reached through a link if it is one); the folder stays.
// The refusal line, or empty.
QString emptyFolder(const QString &location, const QString &home)
{
    const QString folder = canonical(location);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return {};
    if (isProtected(folder, home))
        return refusalLine(location, QStringLiteral("it is the home folder or a folder above it"));
    const std::string root = local(folder);
    for (const FileTreeEntry &entry : FileTree::children(root))
        FileTree::removeItem(root + '/' + entry.relativePath);
    return {};
}

// A whole-folder purge. A cache folder that is a link to another disk is emptied where it
// lives and the link kept, as the user set it up; anything else goes with its folder.
QString removeFolder(const QString &location, const QString &home)
{
    const QFileInfo info(location);
    if (info.isSymLink())
        return emptyFolder(location, home);
    const QString name = info.fileName();
    if (name == QLatin1String(".") || name == QLatin1String("..") || location.endsWith(QLatin1Char('/')))
        return refusalLine(location, QStringLiteral("it does not name a folder of its own"));
    const QString resolved = fromLocal(FileTree::resolveParent(local(location)));
    if (resolved.isEmpty() || !info.exists())
        return {};
    if (isProtected(resolved, home))
        return refusalLine(location, QStringLiteral("it is the home folder or a folder above it"));
    FileTree::removeItem(local(resolved));
    return {};
}

struct ModelFolderSizes
{
    qint64 huggingFace = 0;
    qint64 ollama = 0;
};
}

BuildCacheService::BuildCacheService(BuildCacheSources sources, Polling polling, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
{
    if (m_sources.homePath.isEmpty())
        m_sources.homePath = QDir::homePath();
    m_table = buildTable();
    for (int i = 0; i < m_table.size(); ++i)
        Q_ASSERT(static_cast<int>(m_table.at(i).cache) == i);   // rows are found by their Cache value
    if (demoMode()) {
        m_huggingfaceCacheSizeGB = kDemoHuggingFaceGB;
        m_ollamaCacheSizeGB = kDemoOllamaGB;
    }
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &BuildCacheService::tick);
    if (polling == Polling::Start)
        startPolling();
}

BuildCacheService::~BuildCacheService()
{
    m_timer.stop();
    for (QFuture<void> &worker : m_workers)
        worker.waitForFinished();
}

BuildCacheService &BuildCacheService::shared()
{
    static BuildCacheService *instance = [] {
        BuildCacheSources sources;
        sources.demoMode = [] { return LocalAIService::shared().demoMode(); };
        return new BuildCacheService(std::move(sources));
    }();
    return *instance;
}

QString BuildCacheService::environment(const char *name) const
{
    const QString value = m_sources.environment ? m_sources.environment(name) : qEnvironmentVariable(name);
    // Tools ignore relative values too (and GOCACHE=off turns the cache off).
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

qint64 BuildCacheService::monotonicMs() const
{
    if (m_sources.monotonicMs)
        return m_sources.monotonicMs();
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

QDateTime BuildCacheService::now() const
{
    return m_sources.now ? m_sources.now() : QDateTime::currentDateTime();
}

void BuildCacheService::log(const QString &line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
    Q_EMIT logged(line);
}

QList<BuildCacheService::CacheRow> BuildCacheService::buildTable() const
{
    const QDir home(m_sources.homePath);
    const auto orElse = [](const QString &value, const QString &fallback) { return value.isEmpty() ? fallback : value; };
    const QDir cacheHome(orElse(environment("XDG_CACHE_HOME"), home.filePath(QStringLiteral(".cache"))));
    const QDir dataHome(orElse(environment("XDG_DATA_HOME"), home.filePath(QStringLiteral(".local/share"))));
    const QDir cargoHome(orElse(environment("CARGO_HOME"), home.filePath(QStringLiteral(".cargo"))));
    const QDir gradleHome(orElse(environment("GRADLE_USER_HOME"), home.filePath(QStringLiteral(".gradle"))));
    const QString developer = QStringLiteral("developer");
    const QString creative = QStringLiteral("creative");
    const QString gaming = QStringLiteral("gaming");

    const auto whole = [](const QStringList &folders) {
        QList<PurgeTarget> targets;
        for (const QString &folder : folders)
            targets.append(PurgeTarget{folder, PurgeKind::Whole});
        return targets;
    };
    const auto row = [&](Cache cache, const char *key, const char *title, const QString &group, QStringList measured,
                         QList<PurgeTarget> purges, qint64 demo, bool onThisPlatform = true) {
        return CacheRow{cache, QLatin1String(key), QLatin1String(title), group, std::move(measured), std::move(purges),
                        demo, onThisPlatform};
    };

    const QString derivedData = home.filePath(QStringLiteral("Library/Developer/Xcode/DerivedData"));
    const QString spm = cacheHome.filePath(QStringLiteral("org.swift.swiftpm"));
    const QString npm = home.filePath(QStringLiteral(".npm"));
    const QString cargoRegistry = cargoHome.filePath(QStringLiteral("registry"));
    const QString cargoGit = cargoHome.filePath(QStringLiteral("git"));
    const QString go = orElse(environment("GOCACHE"), cacheHome.filePath(QStringLiteral("go-build")));
    const QString finalCut = home.filePath(QStringLiteral("Library/Caches/com.apple.FinalCut"));
    // Resolve keeps its render cache in CacheClip.
    const QString davinci = dataHome.filePath(QStringLiteral("DaVinciResolve/CacheClip"));
    const QString adobe = home.filePath(QStringLiteral("Library/Application Support/Adobe/Common/Media Cache Files"));
    const QString pip = orElse(environment("PIP_CACHE_DIR"), cacheHome.filePath(QStringLiteral("pip")));
    const QString yarn = orElse(environment("YARN_CACHE_FOLDER"), cacheHome.filePath(QStringLiteral("yarn")));
    const QString pnpm = dataHome.filePath(QStringLiteral("pnpm/store"));
    const QString gradle = gradleHome.filePath(QStringLiteral("caches"));
    const QString maven = home.filePath(QStringLiteral(".m2/repository"));
    const QString ccache = orElse(environment("CCACHE_DIR"), cacheHome.filePath(QStringLiteral("ccache")));
    const QString bazel = home.filePath(QStringLiteral(".cache/bazel"));
    const QString torch = orElse(environment("TORCH_HOME"), cacheHome.filePath(QStringLiteral("torch")));
    const QStringList mesa{cacheHome.filePath(QStringLiteral("mesa_shader_cache")),
                           cacheHome.filePath(QStringLiteral("mesa_shader_cache_db"))};
    // Older drivers kept theirs in ~/.nv.
    const QStringList nvidia{cacheHome.filePath(QStringLiteral("nvidia/GLCache")), home.filePath(QStringLiteral(".nv/GLCache"))};
    const QString steam = dataHome.filePath(QStringLiteral("Steam/steamapps/shadercache"));

    return {
        row(Cache::DerivedData, "derivedDataSize", "Xcode DerivedData", developer, {derivedData},
            {PurgeTarget{derivedData, PurgeKind::Contents}}, 42'450'000'000, kOnMac),
        row(Cache::Spm, "spmCacheSize", "Swift PM Cache", developer, {spm}, {PurgeTarget{spm, PurgeKind::Contents}},
            8'210'000'000),
        row(Cache::Npm, "npmCacheSize", "npm Global Cache", developer, {npm}, whole({npm}), 4'120'000'000),
        row(Cache::Cargo, "cargoCacheSize", "Cargo (Rust) Cache", developer, {cargoRegistry},
            whole({cargoRegistry, cargoGit}), 9'560'000'000),
        row(Cache::Go, "goCacheSize", "Go Build Cache", developer, {go}, whole({go}), 3'420'000'000),
        row(Cache::FinalCut, "finalCutCacheSize", "Final Cut Pro Cache", creative, {finalCut}, whole({finalCut}),
            18'450'000'000, kOnMac),
        row(Cache::Davinci, "davinciCacheSize", "DaVinci Resolve Render Cache", creative, {davinci}, whole({davinci}),
            34'820'000'000),
        row(Cache::Adobe, "adobeCacheSize", "Adobe Premiere/AE Media Cache", creative, {adobe}, whole({adobe}),
            27'110'000'000, kOnMac),
        row(Cache::Pip, "pipCacheSize", "pip Cache", developer, {pip}, whole({pip}), 2'840'000'000),
        row(Cache::Yarn, "yarnCacheSize", "Yarn Cache", developer, {yarn}, whole({yarn}), 1'960'000'000),
        row(Cache::Pnpm, "pnpmStoreSize", "pnpm Store", developer, {pnpm}, whole({pnpm}), 3'150'000'000),
        row(Cache::Gradle, "gradleCacheSize", "Gradle Caches", developer, {gradle}, whole({gradle}), 6'720'000'000),
        row(Cache::Maven, "mavenRepositorySize", "Maven Repository", developer, {maven}, whole({maven}), 2'480'000'000),
        row(Cache::Ccache, "ccacheSize", "ccache", developer, {ccache}, whole({ccache}), 5'000'000'000),
        row(Cache::Bazel, "bazelCacheSize", "Bazel Output Cache", developer, {bazel}, whole({bazel}), 11'300'000'000),
        row(Cache::TorchHub, "torchHubCacheSize", "PyTorch Hub Cache", developer, {torch}, whole({torch}), 4'360'000'000),
        row(Cache::MesaShaders, "mesaShaderCacheSize", "Mesa Shader Cache", gaming, mesa, whole(mesa), 870'000'000),
        row(Cache::NvidiaShaders, "nvidiaShaderCacheSize", "NVIDIA Shader Cache", gaming, nvidia, whole(nvidia),
            420'000'000),
        // Steam expects the folder to stay; it refills it per game.
        row(Cache::SteamShaders, "steamShaderCacheSize", "Steam Shader Cache", gaming, {steam},
            {PurgeTarget{steam, PurgeKind::Contents}}, 7'640'000'000),
    };
}

QString BuildCacheService::huggingFaceHubPath() const
{
    return SystemStatsProvider::huggingFaceHubFor(m_sources.homePath,
                                                  [this](const char *name) { return environment(name); });
}

QString BuildCacheService::ollamaModelsPath() const
{
    const QString models = environment("OLLAMA_MODELS");
    return models.isEmpty() ? QDir(m_sources.homePath).filePath(QStringLiteral(".ollama/models")) : models;
}

QList<BuildCacheService::SDKRoot> BuildCacheService::sdkRoots() const
{
    const QDir home(m_sources.homePath);
    QString nvm = environment("NVM_DIR");
    if (nvm.isEmpty())
        nvm = home.filePath(QStringLiteral(".nvm"));
    QString mise = environment("MISE_DATA_DIR");
    if (mise.isEmpty()) {
        const QString dataHome = environment("XDG_DATA_HOME");
        mise = QDir(dataHome.isEmpty() ? home.filePath(QStringLiteral(".local/share")) : dataHome).filePath(QStringLiteral("mise"));
    }
    QString asdf = environment("ASDF_DATA_DIR");
    if (asdf.isEmpty())
        asdf = home.filePath(QStringLiteral(".asdf"));
    return {SDKRoot{QStringLiteral("nvm"), QDir(nvm).filePath(QStringLiteral("versions/node")), 1},
            SDKRoot{QStringLiteral("mise"), QDir(mise).filePath(QStringLiteral("installs")), 2},
            SDKRoot{QStringLiteral("asdf"), QDir(asdf).filePath(QStringLiteral("installs")), 2}};
}

// ---- Passes ---------------------------------------------------------------------------

void BuildCacheService::startPolling()
{
    m_timer.start();
    tick();
}

bool BuildCacheService::tick()
{
    if (m_scanning)
        return false;
    const qint64 wait = std::max<qint64>(kIntervalMs, kCostFactor * m_lastCostMs);
    if (m_lastStartMs >= 0 && monotonicMs() - m_lastStartMs < wait)
        return false;
    startPass();
    return true;
}

void BuildCacheService::scanCaches(Done done)
{
    if (m_scanning) {
        m_passQueued = true;
        if (done)
            m_queued.append(std::move(done));
        return;
    }
    if (done)
        m_running.append(std::move(done));
    startPass();
}

void BuildCacheService::startPass()
{
    m_passStartMs = monotonicMs();
    m_lastStartMs = m_passStartMs;
    setScanning(true);
    if (!demoMode()) {
        m_demoHuggingfaceCleared = false;
        m_demoOllamaCleared = false;
        measureRow(0);
        return;
    }
    for (const CacheRow &row : std::as_const(m_table))
        setSize(row.cache, row.demoSize);
    setHuggingfaceCacheSizeGB(m_demoHuggingfaceCleared ? 0 : kDemoHuggingFaceGB);
    setOllamaCacheSizeGB(m_demoOllamaCleared ? 0 : kDemoOllamaGB);
    // Later demo passes leave the rows alone, so demo deletions stay visible.
    if (m_foundSDKVersions.isEmpty())
        setFoundSDKVersions(sampleSDKVersions(now()));
    // Finishing later keeps every pass asynchronous, as callers of scanCaches expect.
    QTimer::singleShot(0, this, &BuildCacheService::finishPass);
}

void BuildCacheService::measureRow(int index)
{
    if (index >= m_table.size()) {
        measureModelFolders();
        return;
    }
    QList<std::string> folders;
    for (const QString &folder : std::as_const(m_table.at(index).measured))
        folders.append(local(folder));
    onWorker<qint64>(
        [folders] {
            std::uint64_t total = 0;
            for (const std::string &folder : folders)
                total += FileTree::visibleSize(folder);
            return static_cast<qint64>(total);
        },
        [this, index](qint64 bytes) {
            setSize(m_table.at(index).cache, bytes);
            measureRow(index + 1);
        });
}

void BuildCacheService::measureModelFolders()
{
    onWorker<ModelFolderSizes>(
        [hub = local(huggingFaceHubPath()), ollama = local(ollamaModelsPath())] {
            return ModelFolderSizes{static_cast<qint64>(FileTree::visibleSize(hub)),
                                    static_cast<qint64>(FileTree::visibleSize(ollama))};
        },
        [this](ModelFolderSizes sizes) {
            setHuggingfaceCacheSizeGB(static_cast<double>(sizes.huggingFace) / kBytesPerGB);
            setOllamaCacheSizeGB(static_cast<double>(sizes.ollama) / kBytesPerGB);
            onWorker<QList<SDKVersionInfo>>([roots = sdkRoots(), at = now()] { return findSDKVersions(roots, at); },
                                            [this](QList<SDKVersionInfo> rows) {
                                                setFoundSDKVersions(rows);
                                                finishPass();
                                            });
        });
}

void BuildCacheService::finishPass()
{
    m_lastCostMs = monotonicMs() - m_passStartMs;
    QList<Done> finished = std::exchange(m_running, {});
    if (m_passQueued) {
        m_passQueued = false;
        m_running = std::exchange(m_queued, {});
        startPass();
    } else {
        setScanning(false);
    }
    Q_EMIT passFinished();
    for (const Done &done : finished)
        done();
}

template<typename T>
void BuildCacheService::onWorker(std::function<T()> work, std::function<void(T)> then)
{
    runOnWorker<T>(this, m_workers, std::move(work), std::move(then));
}

// ---- Purges ---------------------------------------------------------------------------

void BuildCacheService::deleteThenScan(std::function<QStringList()> work, Done done)
{
    onWorker<QStringList>(std::move(work), [this, done](QStringList refusals) {
        for (const QString &line : std::as_const(refusals))
            log(line);
        scanCaches(done);
    });
}

void BuildCacheService::purgeCacheRow(const QString &key)
{
    for (const CacheRow &row : std::as_const(m_table))
        if (row.key == key) {
            purge(row.cache);
            return;
        }
}

void BuildCacheService::purge(Cache cache, Done done)
{
    if (demoMode()) {
        // The next pass puts the sample figure back.
        setSize(cache, 0);
        if (done)
            done();
        return;
    }
    const CacheRow &row = m_table.at(static_cast<int>(cache));
    deleteThenScan(
        [targets = row.purges, home = canonical(m_sources.homePath)] {
            QStringList refusals;
            for (const PurgeTarget &target : targets) {
                const QString refusal = target.kind == PurgeKind::Contents ? emptyFolder(target.location, home)
                                                                          : removeFolder(target.location, home);
                if (!refusal.isEmpty())
                    refusals.append(refusal);
            }
            return refusals;
        },
        std::move(done));
}

void BuildCacheService::purgeCache(const QString &path, Done done)
{
    const bool huggingFace = path.contains(QLatin1String("huggingface"));
    if (!huggingFace && !path.contains(QLatin1String("ollama"))) {
        if (done)
            done();
        return;
    }
    if (demoMode()) {
        if (huggingFace) {
            m_demoHuggingfaceCleared = true;
            setHuggingfaceCacheSizeGB(0);
        } else {
            m_demoOllamaCleared = true;
            setOllamaCacheSizeGB(0);
        }
        if (done)
            done();
        return;
    }
    // The argument only picks the folder: what is deleted is the folder this machine's
    // tools use, never a path handed in.
    deleteThenScan(
        [folder = huggingFace ? huggingFaceHubPath() : ollamaModelsPath(), home = canonical(m_sources.homePath)] {
            const QString refusal = emptyFolder(folder, home);
            return refusal.isEmpty() ? QStringList{} : QStringList{refusal};
        },
        std::move(done));
}

void BuildCacheService::purgeSDKVersion(const QString &path, Done done)
{
    if (demoMode()) {
        QList<SDKVersionInfo> kept;
        for (const SDKVersionInfo &row : std::as_const(m_foundSDKVersions))
            if (row.path != path)
                kept.append(row);
        setFoundSDKVersions(kept);
        if (done)
            done();
        return;
    }
    QString given = path;
    if (given.startsWith(QLatin1String("~/")))
        given = QDir(m_sources.homePath).filePath(given.mid(2));
    const QString home = canonical(m_sources.homePath);
    std::optional<Confinement> found;
    for (const SDKRoot &root : sdkRoots()) {
        Confinement confinement = confine(given, root.location, root.versionDepth, home);
        if (confinement.verdict != Confinement::Verdict::Outside) {
            found = std::move(confinement);
            break;
        }
    }
    if (!found || found->verdict != Confinement::Verdict::Allowed) {
        if (!found)
            log(refusalLine(path, QStringLiteral("it is not inside an nvm, mise or asdf install folder")));
        else if (found->verdict == Confinement::Verdict::Refused)
            log(refusalLine(path, found->reason));
        if (done)
            QTimer::singleShot(0, this, done);
        return;
    }
    deleteThenScan(
        [target = found->location] {
            FileTree::removeItem(local(target));
            return QStringList{};
        },
        std::move(done));
}

BuildCacheService::Confinement BuildCacheService::confine(const QString &path, const QString &root, int depth,
                                                          const QString &home)
{
    using Verdict = Confinement::Verdict;
    const auto refuse = [](const QString &reason) { return Confinement{Verdict::Refused, {}, reason}; };
    if (!QDir::isAbsolutePath(path))
        return refuse(QStringLiteral("it is not an absolute path"));
    const QString canonicalRoot = canonical(root);
    if (canonicalRoot.isEmpty())
        return {};
    const QString name = QFileInfo(path).fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        // Whatever it names is the root or above it once resolved.
        const QString resolved = canonical(path);
        return resolved == canonicalRoot || isStrictlyInside(resolved, canonicalRoot)
            ? refuse(QStringLiteral("it does not name an item of its own")) : Confinement{};
    }
    const QString resolved = fromLocal(FileTree::resolveParent(local(path)));
    if (resolved.isEmpty())
        return {};
    if (!isStrictlyInside(resolved, canonicalRoot))
        return {};
    if (depth > 0) {
        const QString below = resolved.mid(canonicalRoot.size() + (canonicalRoot.endsWith(QLatin1Char('/')) ? 0 : 1));
        if (below.count(QLatin1Char('/')) + 1 != depth)
            return refuse(QStringLiteral("it is not a version folder of %1").arg(root));
    }
    if (isProtected(resolved, home))
        return refuse(QStringLiteral("it is the home folder or a folder above it"));
    struct stat st {};
    if (::lstat(local(resolved).c_str(), &st) != 0)
        return Confinement{Verdict::Nothing, {}, {}};
    return Confinement{Verdict::Allowed, resolved, {}};
}

// ---- Runtimes ---------------------------------------------------------------------------

QList<SDKVersionInfo> BuildCacheService::findSDKVersions(const QList<SDKRoot> &roots, const QDateTime &now)
{
    // Listings come sorted by name, so equal dates give the same order on every pass.
    const auto visibleChildren = [](const QString &folder) {
        std::vector<FileTreeEntry> entries = FileTree::children(local(folder));
        std::erase_if(entries, [](const FileTreeEntry &e) { return e.relativePath.front() == '.'; });
        std::sort(entries.begin(), entries.end(),
                  [](const FileTreeEntry &a, const FileTreeEntry &b) { return a.relativePath < b.relativePath; });
        return entries;
    };
    const auto record = [&](const QString &manager, const QString &tool, const QString &folder, const FileTreeEntry &entry) {
        SDKVersionInfo info;
        info.manager = manager;
        info.name = tool;
        info.version = fromLocal(entry.relativePath);
        info.path = QDir(folder).filePath(info.version);
        // A link to another version costs nothing of its own.
        info.sizeBytes = entry.kind == FileTreeEntry::Kind::Symlink
            ? 0 : static_cast<qint64>(FileTree::visibleSize(local(info.path)));
        info.lastAccessDate = entry.modified > 0 ? QDateTime::fromSecsSinceEpoch(entry.modified) : now;
        return info;
    };

    QList<SDKVersionInfo> found;
    for (const SDKRoot &root : roots) {
        if (root.versionDepth == 1) {
            for (const FileTreeEntry &entry : visibleChildren(root.location))
                if (entry.relativePath.front() == 'v')
                    found.append(record(root.manager, QStringLiteral("node"), root.location, entry));
            continue;
        }
        for (const FileTreeEntry &tool : visibleChildren(root.location)) {
            const QString toolName = fromLocal(tool.relativePath);
            const QString toolFolder = QDir(root.location).filePath(toolName);
            for (const FileTreeEntry &entry : visibleChildren(toolFolder))
                found.append(record(root.manager, toolName, toolFolder, entry));
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const SDKVersionInfo &a, const SDKVersionInfo &b) {
        return a.lastAccessDate < b.lastAccessDate;
    });
    return found;
}

QList<SDKVersionInfo> BuildCacheService::sampleSDKVersions(const QDateTime &now)
{
    const auto row = [&](const char *manager, const char *name, const char *version, const char *path, qint64 size,
                         qint64 ageSeconds) {
        return SDKVersionInfo{QLatin1String(manager), QLatin1String(name), QLatin1String(version), QLatin1String(path),
                              size, now.addSecs(-ageSeconds)};
    };
    return {row("nvm", "node", "v18.16.0", "~/.nvm/versions/node/v18.16.0", 188'743'680, 3'888'000),
            row("nvm", "node", "v20.9.0", "~/.nvm/versions/node/v20.9.0", 199'229'440, 172'800),
            row("mise", "python", "3.11.4", "~/.local/share/mise/installs/python/3.11.4", 314'572'800, 7'776'000),
            row("asdf", "golang", "1.20.5", "~/.asdf/installs/golang/1.20.5", 419'430'400, 10'368'000)};
}

// ---- Published state ------------------------------------------------------------------

void BuildCacheService::setSize(Cache cache, qint64 bytes)
{
    qint64 &slot = m_sizes[static_cast<size_t>(cache)];
    if (slot == bytes)
        return;
    slot = bytes;
    Q_EMIT (this->*kSizeSignals[static_cast<size_t>(cache)])();
    Q_EMIT cacheRowsChanged();
}

void BuildCacheService::setHuggingfaceCacheSizeGB(double gb)
{
    if (m_huggingfaceCacheSizeGB == gb)
        return;
    m_huggingfaceCacheSizeGB = gb;
    Q_EMIT huggingfaceCacheSizeGBChanged();
}

void BuildCacheService::setOllamaCacheSizeGB(double gb)
{
    if (m_ollamaCacheSizeGB == gb)
        return;
    m_ollamaCacheSizeGB = gb;
    Q_EMIT ollamaCacheSizeGBChanged();
}

void BuildCacheService::setFoundSDKVersions(const QList<SDKVersionInfo> &rows)
{
    if (m_foundSDKVersions == rows)
        return;
    m_foundSDKVersions = rows;
    Q_EMIT foundSDKVersionsChanged();
}

void BuildCacheService::setScanning(bool on)
{
    if (m_scanning == on)
        return;
    m_scanning = on;
    Q_EMIT scanningChanged();
}

QVariantList BuildCacheService::cacheRowsForQml() const
{
    QVariantList list;
    for (const CacheRow &row : m_table)
        list.append(QVariantMap{{QStringLiteral("key"), row.key},
                                {QStringLiteral("title"), row.title},
                                {QStringLiteral("group"), row.group},
                                {QStringLiteral("sizeBytes"), size(row.cache)},
                                {QStringLiteral("location"), row.measured.value(0)},
                                {QStringLiteral("onThisPlatform"), row.onThisPlatform}});
    return list;
}

QVariantList BuildCacheService::foundSDKVersionsForQml() const
{
    return toVariantList(m_foundSDKVersions);
}
