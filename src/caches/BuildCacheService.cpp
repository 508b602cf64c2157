#include "BuildCacheService.h"

#include "platform/WorkerTask.h"
#include "CachePurger.h"
#include "CacheTable.h"
#include "SDKRuntimeAuditor.h"
#include "WeightDeduplicator.h"
#include "platform/DeletionGuard.h"
#include "platform/FileTree.h"
#include "platform/LocalPath.h"
#include "platform/SteadyClock.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

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

constexpr double kBytesPerGB = 1024.0 * 1024.0 * 1024.0;

std::string local(const QString &path) { return LocalPath::local(path); }
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
        m_sources.homePath = UserPaths().home();
    m_paths = UserPaths(m_sources.homePath, m_sources.environment);
    m_table = CacheTable::rows(m_paths);
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

qint64 BuildCacheService::monotonicMs() const
{
    if (m_sources.monotonicMs)
        return m_sources.monotonicMs();
    return steadyMilliseconds();
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

QString BuildCacheService::huggingFaceHubPath() const
{
    return m_paths.huggingFaceHub();
}

QString BuildCacheService::ollamaModelsPath() const
{
    return m_paths.ollamaModels();
}

QList<BuildCacheService::SDKRoot> BuildCacheService::sdkRoots() const
{
    return CacheTable::sdkRoots(m_paths);
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
    m_passIsDemo = demoMode();
    if (!m_passIsDemo) {
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
    m_sizesMeasured = !m_passIsDemo;
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

void BuildCacheService::purgeRows(const QStringList &keys, Done done)
{
    QList<Cache> caches;
    QStringList found;
    QList<PurgeTarget> targets;
    for (const QString &key : keys)
        for (const CacheRow &row : std::as_const(m_table))
            if (row.key == key && !caches.contains(row.cache)) {
                caches.append(row.cache);
                found.append(key);
                targets += row.purges;
            }
    done = track(found, std::move(done));
    if (demoMode()) {
        for (const Cache cache : std::as_const(caches))
            setSize(cache, 0);
        done();
        return;
    }
    if (targets.isEmpty()) {
        QTimer::singleShot(0, this, done);
        return;
    }
    deleteThenScan(
        [targets, home = m_sources.homePath] { return CachePurger::purge(targets, DeletionGuard(home)); },
        std::move(done));
}

BuildCacheService::Done BuildCacheService::track(const QStringList &keys, Done done)
{
    QStringList listed;
    for (const QString &key : keys)
        if (!key.isEmpty())
            listed.append(key);
    if (!listed.isEmpty()) {
        m_purging += listed;
        Q_EMIT purgingChanged();
    }
    return [this, listed, done = std::move(done)] {
        if (!listed.isEmpty()) {
            for (const QString &key : listed)
                m_purging.removeOne(key);
            Q_EMIT purgingChanged();
            Q_EMIT purgeFinished(listed);
        }
        if (done)
            done();
    };
}

QString BuildCacheService::modelFolderKey(const QString &path)
{
    if (path.contains(QLatin1String("huggingface")))
        return QStringLiteral("huggingface");
    if (path.contains(QLatin1String("ollama")))
        return QStringLiteral("ollama");
    return {};
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
        [targets = row.purges, home = m_sources.homePath] { return CachePurger::purge(targets, DeletionGuard(home)); },
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
        [folder = huggingFace ? huggingFaceHubPath() : ollamaModelsPath(), home = m_sources.homePath] {
            return CachePurger::emptyFolder(folder, DeletionGuard(home));
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
    const Confinement found = CachePurger::confine(given, sdkRoots(), DeletionGuard(m_sources.homePath));
    if (found.verdict != Confinement::Verdict::Allowed) {
        if (found.verdict == Confinement::Verdict::Outside)
            log(CachePurger::refusalLine(path, QStringLiteral("it is not inside an nvm, mise or asdf install folder")));
        else if (found.verdict == Confinement::Verdict::Refused)
            log(CachePurger::refusalLine(path, found.reason));
        if (done)
            QTimer::singleShot(0, this, done);
        return;
    }
    deleteThenScan(
        // Judged again where it is deleted, so nothing in between can make the check stale.
        [given, roots = sdkRoots(), home = m_sources.homePath] {
            return CachePurger::removeItem(given, roots, DeletionGuard(home));
        },
        std::move(done));
}

BuildCacheService::Confinement BuildCacheService::confine(const QString &path, const QString &root, int depth,
                                                          const QString &home)
{
    return CachePurger::confine(path, {SDKRoot{{}, root, depth}}, DeletionGuard(home));
}

QList<SDKVersionInfo> BuildCacheService::findSDKVersions(const QList<SDKRoot> &roots, const QDateTime &now)
{
    return SDKRuntimeAuditor::find(roots, now);
}

QList<SDKVersionInfo> BuildCacheService::sampleSDKVersions(const QDateTime &now)
{
    return SDKRuntimeAuditor::samples(now);
}

// ---- Duplicate weights -----------------------------------------------------------------

QStringList BuildCacheService::ollamaBlobDirs() const
{
    QStringList dirs{QDir(ollamaModelsPath()).filePath(QStringLiteral("blobs"))};
    for (const QString &store : m_sources.ollamaServiceStores)
        if (!dirs.contains(store))
            dirs.append(store);
    return dirs;
}

void BuildCacheService::findDuplicateWeights()
{
    if (m_deduplicating)
        return;
    setDeduplicating(true);
    const auto found = [this](QList<DuplicateWeights> rows) {
        setDuplicateWeights(rows);
        setDeduplicationMessage(WeightDeduplicator::foundMessage(rows));
        setDeduplicating(false);
        Q_EMIT duplicateWeightsFound();
    };
    if (demoMode()) {
        // The demo touches nothing on disk, so it has no files to pair.
        QTimer::singleShot(0, this, [found] { found({}); });
        return;
    }
    onWorker<QList<DuplicateWeights>>(
        [dirs = ollamaBlobDirs(), hub = huggingFaceHubPath()] { return WeightDeduplicator::find(dirs, hub); }, found);
}

void BuildCacheService::deduplicateWeights()
{
    if (m_deduplicating)
        return;
    setDeduplicating(true);
    const auto finished = [this] {
        setDeduplicating(false);
        Q_EMIT deduplicationFinished();
    };
    if (m_duplicateWeights.isEmpty() || demoMode()) {
        setDeduplicationMessage(WeightDeduplicator::foundMessage({}));
        QTimer::singleShot(0, this, finished);
        return;
    }
    onWorker<WeightDeduplicator::Outcome>(
        [rows = m_duplicateWeights, roots = ollamaBlobDirs() << huggingFaceHubPath(), home = m_sources.homePath] {
            return WeightDeduplicator::apply(rows, roots, DeletionGuard(home));
        },
        [this, finished](WeightDeduplicator::Outcome outcome) {
            for (const QString &line : std::as_const(outcome.reasons))
                log(line);
            setDuplicateWeights(outcome.leftAlone);
            setDeduplicationMessage(WeightDeduplicator::summary(outcome));
            scanCaches(finished);
        });
}

qint64 BuildCacheService::duplicateBytes() const
{
    return WeightDeduplicator::reclaimableBytes(m_duplicateWeights);
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

void BuildCacheService::setDeduplicating(bool on)
{
    if (m_deduplicating == on)
        return;
    m_deduplicating = on;
    Q_EMIT deduplicatingChanged();
}

void BuildCacheService::setDuplicateWeights(const QList<DuplicateWeights> &rows)
{
    if (m_duplicateWeights == rows)
        return;
    m_duplicateWeights = rows;
    Q_EMIT duplicateWeightsChanged();
}

void BuildCacheService::setDeduplicationMessage(const QString &message)
{
    if (m_deduplicationMessage == message)
        return;
    m_deduplicationMessage = message;
    Q_EMIT deduplicationMessageChanged();
}

QList<CacheRowInfo> BuildCacheService::cacheRows() const
{
    QList<CacheRowInfo> list;
    list.reserve(m_table.size());
    for (const CacheRow &row : m_table)
        list.append({row.key, row.title, row.group, size(row.cache), row.measured.value(0), row.onThisPlatform});
    return list;
}
