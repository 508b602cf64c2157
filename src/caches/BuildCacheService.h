#pragma once

#include "CacheRowInfo.h"
#include "DuplicateWeights.h"
#include "SDKVersionInfo.h"
#include "platform/UserPaths.h"

#include <QDateTime>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantList>

#include <array>
#include <functional>
#include <optional>

// Where the caches are looked for. Tests point these at fixture homes.
struct BuildCacheSources
{
    QString homePath;                                   // empty: the user's home
    std::function<QString(const char *name)> environment;   // unset: this process's environment
    std::function<bool()> demoMode;                     // unset: off
    std::function<QDateTime()> now;                     // unset: the clock
    std::function<qint64()> monotonicMs;                // unset: a steady clock
    // Blob folders of Ollama's system service, searched for duplicate weights beside
    // <ollamaModelsPath>/blobs; absent ones are passed over.
    QStringList ollamaServiceStores{QStringLiteral("/usr/share/ollama/.ollama/models/blobs")};
};

// The sizes of the build, package-manager, shader and media caches in the user's home, the
// two model folders, and the runtimes version managers installed; and their purges. Every
// walk runs on a worker thread and each figure is published here as it arrives, in table
// order. With the demo switch on, sample figures stand in and nothing on disk is touched.
class BuildCacheService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(qint64 derivedDataSize READ derivedDataSize NOTIFY derivedDataSizeChanged)
    Q_PROPERTY(qint64 spmCacheSize READ spmCacheSize NOTIFY spmCacheSizeChanged)
    Q_PROPERTY(qint64 npmCacheSize READ npmCacheSize NOTIFY npmCacheSizeChanged)
    Q_PROPERTY(qint64 cargoCacheSize READ cargoCacheSize NOTIFY cargoCacheSizeChanged)
    Q_PROPERTY(qint64 goCacheSize READ goCacheSize NOTIFY goCacheSizeChanged)
    Q_PROPERTY(qint64 finalCutCacheSize READ finalCutCacheSize NOTIFY finalCutCacheSizeChanged)
    Q_PROPERTY(qint64 davinciCacheSize READ davinciCacheSize NOTIFY davinciCacheSizeChanged)
    Q_PROPERTY(qint64 adobeCacheSize READ adobeCacheSize NOTIFY adobeCacheSizeChanged)
    Q_PROPERTY(qint64 pipCacheSize READ pipCacheSize NOTIFY pipCacheSizeChanged)
    Q_PROPERTY(qint64 yarnCacheSize READ yarnCacheSize NOTIFY yarnCacheSizeChanged)
    Q_PROPERTY(qint64 pnpmStoreSize READ pnpmStoreSize NOTIFY pnpmStoreSizeChanged)
    Q_PROPERTY(qint64 gradleCacheSize READ gradleCacheSize NOTIFY gradleCacheSizeChanged)
    Q_PROPERTY(qint64 mavenRepositorySize READ mavenRepositorySize NOTIFY mavenRepositorySizeChanged)
    Q_PROPERTY(qint64 ccacheSize READ ccacheSize NOTIFY ccacheSizeChanged)
    Q_PROPERTY(qint64 bazelCacheSize READ bazelCacheSize NOTIFY bazelCacheSizeChanged)
    Q_PROPERTY(qint64 torchHubCacheSize READ torchHubCacheSize NOTIFY torchHubCacheSizeChanged)
    Q_PROPERTY(qint64 mesaShaderCacheSize READ mesaShaderCacheSize NOTIFY mesaShaderCacheSizeChanged)
    Q_PROPERTY(qint64 nvidiaShaderCacheSize READ nvidiaShaderCacheSize NOTIFY nvidiaShaderCacheSizeChanged)
    Q_PROPERTY(qint64 steamShaderCacheSize READ steamShaderCacheSize NOTIFY steamShaderCacheSizeChanged)
    Q_PROPERTY(QList<CacheRowInfo> cacheRows READ cacheRows NOTIFY cacheRowsChanged)
    Q_PROPERTY(QList<SDKVersionInfo> foundSDKVersions READ foundSDKVersions NOTIFY foundSDKVersionsChanged)
    Q_PROPERTY(double huggingfaceCacheSizeGB READ huggingfaceCacheSizeGB NOTIFY huggingfaceCacheSizeGBChanged)
    Q_PROPERTY(double ollamaCacheSizeGB READ ollamaCacheSizeGB NOTIFY ollamaCacheSizeGBChanged)
    Q_PROPERTY(bool scanning READ isScanning NOTIFY scanningChanged)
    // The rows (by key) and model folders ("huggingface", "ollama") whose purge the screens
    // started and that have not finished yet, re-measuring included.
    Q_PROPERTY(QStringList purging READ purging NOTIFY purgingChanged)
    // The two model folders, for the question asked before they are emptied.
    Q_PROPERTY(QString huggingFaceHubPath READ huggingFaceHubPath CONSTANT)
    Q_PROPERTY(QString ollamaModelsPath READ ollamaModelsPath CONSTANT)
    // Weights stored in both model folders (or twice in one), made one file with two names.
    Q_PROPERTY(bool deduplicating READ isDeduplicating NOTIFY deduplicatingChanged)
    Q_PROPERTY(QList<DuplicateWeights> duplicateWeights READ duplicateWeights NOTIFY duplicateWeightsChanged)
    Q_PROPERTY(qint64 duplicateBytes READ duplicateBytes NOTIFY duplicateWeightsChanged)
    Q_PROPERTY(QString deduplicationMessage READ deduplicationMessage NOTIFY deduplicationMessageChanged)

public:
    enum class Polling { Start, Manual };
    using Done = std::function<void()>;

    enum class Cache { DerivedData, Spm, Npm, Cargo, Go, FinalCut, Davinci, Adobe, Pip, Yarn, Pnpm, Gradle, Maven, Ccache, Bazel, TorchHub, MesaShaders, NvidiaShaders, SteamShaders, Count };
    static constexpr int kCacheCount = static_cast<int>(Cache::Count);

    // Contents: what is inside goes, the folder stays. Whole: the folder goes too.
    enum class PurgeKind { Contents, Whole };
    struct PurgeTarget
    {
        QString location;
        PurgeKind kind = PurgeKind::Whole;
    };
    struct CacheRow
    {
        Cache cache = Cache::DerivedData;
        QString key;            // the size property's name
        QString title;
        QString group;          // "developer" or "creative"
        QStringList measured;   // absolute folders whose sizes add up to the figure
        QList<PurgeTarget> purges;
        qint64 demoSize = 0;
        bool onThisPlatform = true;   // false for tools that exist only on macOS
    };

    static constexpr int kIntervalMs = 5000;
    // A pass that took T is not started by the timer again before 20 T have gone by, so
    // sizing costs at most a twentieth of one core however large the caches grow.
    static constexpr int kCostFactor = 20;
    static constexpr double kDemoHuggingFaceGB = 12.4;
    static constexpr double kDemoOllamaGB = 18.2;

    explicit BuildCacheService(BuildCacheSources sources = {}, Polling polling = Polling::Start,
                               QObject *parent = nullptr);
    ~BuildCacheService() override;

    static BuildCacheService &shared();

    // A pass now, then a timer firing every five seconds.
    void startPolling();
    // One timer firing: starts a pass unless one is running or the last one's cost says
    // wait. True when a pass started.
    bool tick();
    // One pass: every cache in table order, the two model folders, then the runtimes.
    // While a pass runs, another is queued behind it (once, however often asked) and
    // `done` is called when that one ends.
    void scanCaches(Done done = {});
    bool isScanning() const { return m_scanning; }

    Q_INVOKABLE void purgeDerivedData() { purge(Cache::DerivedData); }
    Q_INVOKABLE void purgeSPMCache() { purge(Cache::Spm); }
    Q_INVOKABLE void purgeNpmCache() { purge(Cache::Npm); }
    Q_INVOKABLE void purgeCargoCache() { purge(Cache::Cargo); }
    Q_INVOKABLE void purgeGoCache() { purge(Cache::Go); }
    Q_INVOKABLE void purgeFinalCutCache() { purge(Cache::FinalCut); }
    Q_INVOKABLE void purgeDavinciCache() { purge(Cache::Davinci); }
    Q_INVOKABLE void purgeAdobeCache() { purge(Cache::Adobe); }
    // Any row by its key ("pipCacheSize"...), listed in `purging` until done.
    Q_INVOKABLE void purgeCacheRow(const QString &key) { purgeRows({key}); }
    // Several rows at once: every folder they name is deleted, then one pass re-measures
    // them all. Keys of no row are passed over. Listed in `purging` until done.
    Q_INVOKABLE void purgeRows(const QStringList &keys) { purgeRows(keys, {}); }
    void purgeRows(const QStringList &keys, Done done);
    // Deletes one cache as its row says, then runs a pass; `done` after it.
    void purge(Cache cache, Done done = {});

    // The model folder a path names: one containing "huggingface" is the Hugging Face hub,
    // else one containing "ollama" is Ollama's model store; its contents are deleted and
    // the folders measured again. Any other path changes nothing.
    Q_INVOKABLE void purgeCache(const QString &path) { purgeCache(path, track({modelFolderKey(path)}, {})); }
    void purgeCache(const QString &path, Done done);

    // Looks for weights stored twice, on a worker: duplicateWeights and the message are
    // replaced, then duplicateWeightsFound(). Ignored while a search or linking runs.
    Q_INVOKABLE void findDuplicateWeights();
    // Links every row of duplicateWeights, on a worker: each copy is compared byte for byte
    // with the kept file first and left alone when they differ. The message then says what
    // came back and why rows were left; the rows left stay listed; the folders are measured
    // again; then deduplicationFinished(). Never deletes weights: purgeCache() does that.
    Q_INVOKABLE void deduplicateWeights();
    // <ollamaModelsPath>/blobs and the service stores: where Ollama keeps weights.
    QStringList ollamaBlobDirs() const;

    // Deletes one runtime version, which must be a version folder inside nvm's, mise's or
    // asdf's install folder, then runs a pass.
    Q_INVOKABLE void purgeSDKVersion(const QString &path) { purgeSDKVersion(path, {}); }
    void purgeSDKVersion(const QString &path, Done done);

    const QList<CacheRow> &cacheTable() const { return m_table; }
    qint64 size(Cache cache) const { return m_sizes[static_cast<size_t>(cache)]; }
    QString huggingFaceHubPath() const;
    QString ollamaModelsPath() const;
    // The install folders of nvm, mise and asdf, and how deep a version folder lies in each.
    struct SDKRoot
    {
        QString manager;
        QString location;
        int versionDepth = 1;
    };
    QList<SDKRoot> sdkRoots() const;

    // Where deleting `path` inside `root` may act: the path with its folders resolved,
    // strictly inside the resolved root, `depth` components below it when `depth` > 0, and
    // neither the home folder nor a folder above it. A link there is the link itself.
    struct Confinement
    {
        enum class Verdict { Allowed, Nothing, Outside, Refused };
        Verdict verdict = Verdict::Outside;
        QString location;   // Allowed: what to delete
        QString reason;     // Refused: why
    };
    static Confinement confine(const QString &path, const QString &root, int depth, const QString &home);

    static QList<SDKVersionInfo> sampleSDKVersions(const QDateTime &now);
    // The runtimes found under `roots`, oldest first; equal dates keep the listing order.
    static QList<SDKVersionInfo> findSDKVersions(const QList<SDKRoot> &roots, const QDateTime &now);

    qint64 derivedDataSize() const { return size(Cache::DerivedData); }
    qint64 spmCacheSize() const { return size(Cache::Spm); }
    qint64 npmCacheSize() const { return size(Cache::Npm); }
    qint64 cargoCacheSize() const { return size(Cache::Cargo); }
    qint64 goCacheSize() const { return size(Cache::Go); }
    qint64 finalCutCacheSize() const { return size(Cache::FinalCut); }
    qint64 davinciCacheSize() const { return size(Cache::Davinci); }
    qint64 adobeCacheSize() const { return size(Cache::Adobe); }
    qint64 pipCacheSize() const { return size(Cache::Pip); }
    qint64 yarnCacheSize() const { return size(Cache::Yarn); }
    qint64 pnpmStoreSize() const { return size(Cache::Pnpm); }
    qint64 gradleCacheSize() const { return size(Cache::Gradle); }
    qint64 mavenRepositorySize() const { return size(Cache::Maven); }
    qint64 ccacheSize() const { return size(Cache::Ccache); }
    qint64 bazelCacheSize() const { return size(Cache::Bazel); }
    qint64 torchHubCacheSize() const { return size(Cache::TorchHub); }
    qint64 mesaShaderCacheSize() const { return size(Cache::MesaShaders); }
    qint64 nvidiaShaderCacheSize() const { return size(Cache::NvidiaShaders); }
    qint64 steamShaderCacheSize() const { return size(Cache::SteamShaders); }
    QList<SDKVersionInfo> foundSDKVersions() const { return m_foundSDKVersions; }
    double huggingfaceCacheSizeGB() const { return m_huggingfaceCacheSizeGB; }
    double ollamaCacheSizeGB() const { return m_ollamaCacheSizeGB; }
    // Every row of the cache table with its current size, in table order.
    QList<CacheRowInfo> cacheRows() const;
    QStringList purging() const { return m_purging; }
    bool isDeduplicating() const { return m_deduplicating; }
    QList<DuplicateWeights> duplicateWeights() const { return m_duplicateWeights; }
    qint64 duplicateBytes() const;
    QString deduplicationMessage() const { return m_deduplicationMessage; }
    // "huggingface" or "ollama" for a path purgeCache() acts on; empty for any other.
    static QString modelFolderKey(const QString &path);

Q_SIGNALS:
    void derivedDataSizeChanged();
    void spmCacheSizeChanged();
    void npmCacheSizeChanged();
    void cargoCacheSizeChanged();
    void goCacheSizeChanged();
    void finalCutCacheSizeChanged();
    void davinciCacheSizeChanged();
    void adobeCacheSizeChanged();
    void pipCacheSizeChanged();
    void yarnCacheSizeChanged();
    void pnpmStoreSizeChanged();
    void gradleCacheSizeChanged();
    void mavenRepositorySizeChanged();
    void ccacheSizeChanged();
    void bazelCacheSizeChanged();
    void torchHubCacheSizeChanged();
    void mesaShaderCacheSizeChanged();
    void nvidiaShaderCacheSizeChanged();
    void steamShaderCacheSizeChanged();
    void cacheRowsChanged();
    void foundSDKVersionsChanged();
    void huggingfaceCacheSizeGBChanged();
    void ollamaCacheSizeGBChanged();
    void scanningChanged();
    void purgingChanged();
    // A purge the screens started has deleted what it could and re-measured.
    void purgeFinished(const QStringList &keys);
    void passFinished();
    void deduplicatingChanged();
    void duplicateWeightsChanged();
    void deduplicationMessageChanged();
    void duplicateWeightsFound();
    void deduplicationFinished();
    void logged(const QString &line);

public:
    // Whether the sizes are the demo's samples rather than walks of the disk.
    bool demoMode() const { return m_sources.demoMode && m_sources.demoMode(); }
    // Whether the sizes now published were measured on disk: a walk has finished since
    // start, and the last pass was not the demo's.
    bool sizesMeasured() const { return m_sizesMeasured && !demoMode(); }

private:
    qint64 monotonicMs() const;
    QDateTime now() const;
    void log(const QString &line);
    void startPass();
    void measureRow(int index);
    void measureModelFolders();
    void finishPass();
    void setSize(Cache cache, qint64 bytes);
    void setHuggingfaceCacheSizeGB(double gb);
    void setOllamaCacheSizeGB(double gb);
    void setFoundSDKVersions(const QList<SDKVersionInfo> &rows);
    void setScanning(bool on);
    void setDeduplicating(bool on);
    void setDuplicateWeights(const QList<DuplicateWeights> &rows);
    void setDeduplicationMessage(const QString &message);
    // Lists `keys` in `purging` until the returned callback runs, which then calls `done`.
    Done track(const QStringList &keys, Done done);
    // Deletes on a worker, then runs a pass; `done` after it.
    void deleteThenScan(std::function<QStringList()> work, Done done);
    template<typename T>
    void onWorker(std::function<T()> work, std::function<void(T)> then);

    BuildCacheSources m_sources;
    UserPaths m_paths;
    QList<CacheRow> m_table;
    QTimer m_timer;
    QList<QFuture<void>> m_workers;

    bool m_scanning = false;
    bool m_passIsDemo = false;
    bool m_sizesMeasured = false;
    QStringList m_purging;
    bool m_passQueued = false;
    QList<Done> m_running;   // called when the running pass ends
    QList<Done> m_queued;    // called when the queued pass ends
    qint64 m_lastStartMs = -1;
    qint64 m_lastCostMs = 0;
    qint64 m_passStartMs = 0;

    std::array<qint64, kCacheCount> m_sizes{};
    QList<SDKVersionInfo> m_foundSDKVersions;
    double m_huggingfaceCacheSizeGB = 0;
    double m_ollamaCacheSizeGB = 0;
    // A model figure reset while the demo switch is on stays at 0 for the demo.
    bool m_demoHuggingfaceCleared = false;
    bool m_demoOllamaCleared = false;

    bool m_deduplicating = false;
    QList<DuplicateWeights> m_duplicateWeights;
    QString m_deduplicationMessage;
};
