#include "LocalAIService.h"

#include "app/QmlRecords.h"
#include "platform/WorkerTask.h"
#include "platform/FileTree.h"
#include "platform/ProcessControl.h"
#include "telemetry/SystemStatsProvider.h"

#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <unordered_set>

#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kRunning = QStringLiteral("Running");
const QString kShielded = QStringLiteral("Suspended (Battery Shield)");
const QString kOllamaSystemStore = QStringLiteral("/usr/share/ollama/.ollama/models/blobs");

bool isInside(const QString &location, const QString &root)
{
    return location.size() > root.size() + 1 && location.startsWith(root)
        && (root.endsWith(QLatin1Char('/')) || location.at(root.size()) == QLatin1Char('/'));
}
}

const QStringList &LocalAIService::compilerNames()
{
    static const QStringList names{QStringLiteral("xcodebuild"), QStringLiteral("swiftc"), QStringLiteral("clang"),
                                   QStringLiteral("swift-frontend"), QStringLiteral("make"), QStringLiteral("cmake")};
    return names;
}

const QStringList &LocalAIService::localAIProcessNames()
{
    static const QStringList names{QStringLiteral("ollama"), QStringLiteral("ollama_llama_server"),
                                   QStringLiteral("llama-runner"), QStringLiteral("deepseek")};
    return names;
}

LocalAIService::LocalAIService(LocalAISources sources, Polling polling, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
    , m_runner(m_sources.searchPath)
    , m_processReader(m_sources.procRoot)
{
    if (m_sources.homePath.isEmpty())
        m_sources.homePath = QDir::homePath();
    if (m_sources.ownPid == 0)
        m_sources.ownPid = ProcessControl::ownPid();
    m_ollamaUrl = m_sources.ollamaUrl.isEmpty() ? defaultOllamaUrl(qEnvironmentVariable("OLLAMA_HOST"))
                                                : m_sources.ollamaUrl;
    // The server is on this machine: an http_proxy meant for the internet must not see it.
    m_network.setProxy(QNetworkProxy::NoProxy);
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { runPass(); });
    if (polling == Polling::Start)
        startPolling();
}

LocalAIService::~LocalAIService()
{
    for (QFuture<void> &worker : m_workers)
        worker.waitForFinished();
}

LocalAIService &LocalAIService::shared()
{
    static LocalAIService *instance = [] {
        LocalAISources sources;
        sources.isUnplugged = [] { return SystemStatsProvider::shared().isUnplugged(); };
        return new LocalAIService(std::move(sources));
    }();
    return *instance;
}

void LocalAIService::startPolling()
{
    m_timer.start();
    runPass();
}

bool LocalAIService::runPass(Done done)
{
    if (m_passRunning)
        return false;
    m_passRunning = true;
    updateModels([this, done] {
        checkAndApplyAutoSuspend();
        pollVectorDatabases([this, done] {
            scanOrphanedCompanions();
            scanLocalPorts([this, done] {
                scanModelCache([this, done] {
                    applyBatteryShieldMode();
                    m_passRunning = false;
                    Q_EMIT passFinished();
                    if (done)
                        done();
                });
            });
        });
    });
    return true;
}

QDateTime LocalAIService::now() const
{
    return m_sources.now ? m_sources.now() : QDateTime::currentDateTime();
}

void LocalAIService::log(const QString &line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
    Q_EMIT logged(line);
}

QUrl LocalAIService::defaultOllamaUrl(const QString &ollamaHost)
{
    QString text = ollamaHost.trimmed();
    if (text.isEmpty())
        return QUrl(QStringLiteral("http://localhost:11434"));
    if (!text.contains(QLatin1String("://")))
        text.prepend(QStringLiteral("http://"));
    QUrl url(text);
    if (!url.isValid())
        url = QUrl(QStringLiteral("http://localhost:11434"));
    // A server told to listen everywhere ("0.0.0.0", ":11434") is reached on loopback.
    const QString host = url.host();
    if (host.isEmpty() || host == QLatin1String("0.0.0.0") || host == QLatin1String("::"))
        url.setHost(QStringLiteral("localhost"));
    if (url.port() == -1 && url.scheme() == QLatin1String("http"))
        url.setPort(11434);
    url.setPath(QString());
    return url;
}

// ---- Listing and ejection -------------------------------------------------------------

void LocalAIService::updateModels(Done done)
{
    if (m_demoMode) {
        setStatus(OllamaStatus::Active);
        if (!m_activeModels.isEmpty()) {
            const QDateTime current = now();
            QList<LocalAIModel> kept;
            for (const LocalAIModel &model : std::as_const(m_activeModels))
                if (!model.expiresAt || *model.expiresAt > current)
                    kept.append(model);
            setActiveModels(kept);
            if (kept.isEmpty())
                setStatus(OllamaStatus::Idle);
        } else {
            setActiveModels(LocalAIModel::samples(now()));
        }
        if (done)
            done();
        return;
    }

    QNetworkRequest request(m_ollamaUrl.resolved(QUrl(QStringLiteral("/api/ps"))));
    request.setTransferTimeout(kListingTimeoutMs);
    QNetworkReply *reply = m_network.get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, done] {
        reply->deleteLater();
        std::optional<QList<LocalAIModel>> models;
        const int code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() == QNetworkReply::NoError && code == 200)
            models = LocalAIModel::decodeListing(reply->readAll());
        if (!models) {
            setStatus(OllamaStatus::Offline);
            setActiveModels({});
        } else if (models->isEmpty()) {
            setStatus(OllamaStatus::Idle);
            setActiveModels({});
        } else {
            setStatus(OllamaStatus::Active);
            setActiveModels(*models);
        }
        if (done)
            done();
    });
}

void LocalAIService::ejectModel(const QString &name, Done done)
{
    if (m_demoMode) {
        QList<LocalAIModel> kept;
        for (const LocalAIModel &model : std::as_const(m_activeModels))
            if (model.name != name)
                kept.append(model);
        setActiveModels(kept);
        if (kept.isEmpty())
            setStatus(OllamaStatus::Idle);
        if (done)
            done();
        return;
    }

    const QJsonObject body{{QStringLiteral("model"), name}, {QStringLiteral("keep_alive"), 0}};
    QNetworkRequest request(m_ollamaUrl.resolved(QUrl(QStringLiteral("/api/generate"))));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(kEjectTimeoutMs);
    QNetworkReply *reply = m_network.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    connect(reply, &QNetworkReply::finished, this, [this, reply, done] {
        reply->deleteLater();
        // Any HTTP answer counts as delivered; only a failed exchange is a failure.
        if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
            log(QStringLiteral("Failed to eject model: ") + reply->errorString());
            if (done)
                done();
            return;
        }
        updateModels(done);
    });
}

void LocalAIService::ejectEach(QList<QString> names, Done done)
{
    if (names.isEmpty()) {
        if (done)
            done();
        return;
    }
    const QString first = names.takeFirst();
    ejectModel(first, [this, names = std::move(names), done]() mutable { ejectEach(std::move(names), done); });
}

// ---- Protections -----------------------------------------------------------------------

void LocalAIService::checkAndApplyAutoSuspend()
{
    if (!m_compileAutoSuspendEnabled) {
        if (!m_suspendedPIDs.isEmpty())
            resumeSuspendedProcesses();
        return;
    }
    std::vector<std::string> compilers;
    for (const QString &name : compilerNames())
        compilers.push_back(name.toStdString());
    bool listed = false;
    const bool compiling = !m_processReader.pidsNamed(compilers, &listed).empty();
    if (!listed) {
        log(QStringLiteral("Failed to run pgrep: cannot list the processes in %1")
                .arg(QString::fromStdString(m_sources.procRoot)));
        return;
    }
    if (!compiling) {
        if (!m_suspendedPIDs.isEmpty())
            resumeSuspendedProcesses();
        return;
    }
    // Holding: what starts during the same compile is left alone.
    if (!m_suspendedPIDs.isEmpty())
        return;
    for (int pid : getPIDs(localAIProcessNames()))
        suspendProcess(pid);
}

void LocalAIService::suspendProcess(int pid)
{
    if (pid < 2 || pid == m_sources.ownPid)
        return;
    if (const int error = ProcessControl::stop(pid); error != 0) {
        log(QStringLiteral("Failed to suspend process %1: %2").arg(pid).arg(QString::fromStdString(ProcessControl::errorText(error))));
        return;
    }
    QList<int> held = m_suspendedPIDs;
    held.append(pid);
    setSuspendedPIDs(held);
}

void LocalAIService::resumeSuspendedProcesses()
{
    for (int pid : std::as_const(m_suspendedPIDs))
        ProcessControl::resume(pid);
    setSuspendedPIDs({});
}

void LocalAIService::applyBatteryShieldMode()
{
    if (!m_batteryShieldEnabled || !m_sources.isUnplugged || !m_sources.isUnplugged())
        return;
    if (!m_activeModels.isEmpty()) {
        QList<QString> names;
        for (const LocalAIModel &model : std::as_const(m_activeModels))
            names.append(model.name);
        ejectEach(names, {});
    }
    QList<VectorDatabaseInfo> rows = m_activeVectorDBs;
    bool changed = false;
    for (VectorDatabaseInfo &row : rows) {
        if (row.status != kRunning)
            continue;
        row.status = kShielded;
        changed = true;
        if (!m_demoMode)
            m_runner.run(QStringLiteral("docker"), {QStringLiteral("pause"), row.containerId});
    }
    if (changed)
        setActiveVectorDBs(rows);
    if (m_vmAutoSleepEnabled && !m_demoMode)
        m_runner.run(QStringLiteral("colima"), {QStringLiteral("stop")});
}

// ---- Clean-up actions --------------------------------------------------------------------

void LocalAIService::stopVectorDatabase(const QString &containerId, Done done)
{
    const auto removeRows = [this, containerId] {
        QList<VectorDatabaseInfo> kept;
        for (const VectorDatabaseInfo &row : std::as_const(m_activeVectorDBs))
            if (row.containerId != containerId)
                kept.append(row);
        setActiveVectorDBs(kept);
    };
    if (m_demoMode) {
        removeRows();
        if (done)
            done();
        return;
    }
    m_runner.run(QStringLiteral("docker"), {QStringLiteral("stop"), containerId},
                 [this, removeRows, done](const CommandRunner::Result &result) {
                     if (!result.started) {
                         removeRows();
                         if (done)
                             done();
                         return;
                     }
                     scanVectorDatabases(done);
                 });
}

void LocalAIService::purgeOrphanedCompanions(Done done)
{
    QTimer::singleShot(kCompanionPurgeDelayMs, this, [this, done] {
        if (!m_demoMode)
            for (const OrphanedCompanionInfo &row : std::as_const(m_orphanedAICompanions))
                if (row.pid > 1 && row.pid != m_sources.ownPid)
                    ProcessControl::sendSignal(row.pid, SIGKILL);
        setOrphanedAICompanions({});
        if (done)
            done();
    });
}

void LocalAIService::killProcessOnPort(int pid, Done done)
{
    // Pid 0 is a socket whose owner this user cannot see; 1 is init; ourselves, never.
    if (pid < 2 || pid == m_sources.ownPid) {
        log(QStringLiteral("Refusing to kill process %1").arg(pid));
        if (done)
            QTimer::singleShot(0, this, done);
        return;
    }
    if (m_demoMode) {
        QList<LocalPortInfo> kept;
        for (const LocalPortInfo &row : std::as_const(m_activeLocalPorts))
            if (row.pid != pid)
                kept.append(row);
        setActiveLocalPorts(kept);
        if (done)
            done();
        return;
    }
    ProcessControl::sendSignal(pid, SIGKILL);
    scanLocalPorts(done);
}

void LocalAIService::purgeModelCacheFile(const QString &path, Done done)
{
    if (m_demoMode) {
        QList<ModelCacheFile> kept;
        for (const ModelCacheFile &row : std::as_const(m_cachedModelFiles))
            if (row.path != path)
                kept.append(row);
        setCachedModelFiles(kept);
        if (done)
            done();
        return;
    }
    const std::optional<QString> location = deletableLocation(path, modelCacheRoots());
    if (!location) {
        log(QStringLiteral("Refusing to delete %1: it is not inside a model cache folder").arg(path));
        if (done)
            QTimer::singleShot(0, this, done);
        return;
    }
    onWorker<bool>([target = *location] { return FileTree::removeItem(QFile::encodeName(target).toStdString()); },
                   [this, done](bool) { scanModelCache(done); });
}

void LocalAIService::stopColimaVM()
{
    if (!m_demoMode)
        m_runner.run(QStringLiteral("colima"), {QStringLiteral("stop")});
}

std::optional<QString> LocalAIService::deletableLocation(const QString &path, const QStringList &roots)
{
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return std::nullopt;
    // The folders on the way are resolved as the kernel would resolve them (a link, then
    // ".."); the last component stays itself, so a link is judged by where it points.
    const QFileInfo given(path);
    const QString fileName = given.fileName();
    QString location;
    if (fileName.isEmpty() || fileName == QLatin1String(".") || fileName == QLatin1String("..")) {
        location = given.canonicalFilePath();
    } else {
        const QString parent = QFileInfo(given.absolutePath()).canonicalFilePath();
        if (!parent.isEmpty())
            location = parent + (parent.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + fileName;
    }
    if (location.isEmpty())
        return std::nullopt;
    const QFileInfo item(location);
    if (!item.exists() && !item.isSymLink())
        return std::nullopt;

    QStringList canonicalRoots;
    for (const QString &root : roots) {
        const QString canonical = QFileInfo(root).canonicalFilePath();
        if (!canonical.isEmpty())
            canonicalRoots.append(canonical);
    }
    const auto insideARoot = [&](const QString &where) {
        return std::any_of(canonicalRoots.cbegin(), canonicalRoots.cend(),
                           [&](const QString &root) { return isInside(where, root); });
    };
    if (!insideARoot(location))
        return std::nullopt;
    if (item.isSymLink()) {
        const QString target = item.canonicalFilePath();
        // A dangling link harms nothing by going; one that leads out is refused.
        if (!target.isEmpty() && !insideARoot(target))
            return std::nullopt;
    }
    return location;
}

// ---- Scans ------------------------------------------------------------------------------

QList<VectorDatabaseInfo> LocalAIService::parseContainers(const QByteArray &output)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(output);
    if (decoder.hasError())
        return {};
    QList<VectorDatabaseInfo> rows;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(QLatin1Char('|'));
        if (parts.size() < 3)
            continue;
        const QString &name = parts[1];
        if (!name.contains(QLatin1String("chroma")) && !name.contains(QLatin1String("qdrant"))
            && !name.contains(QLatin1String("milvus")) && !name.contains(QLatin1String("weaviate")))
            continue;
        VectorDatabaseInfo row;
        row.name = name;
        row.containerId = parts[0];
        row.port = name.contains(QLatin1String("chroma")) ? 8000 : name.contains(QLatin1String("qdrant")) ? 6333 : 8080;
        row.memoryUsage = QStringLiteral("128 MB");
        row.status = kRunning;
        rows.append(row);
    }
    return rows;
}

void LocalAIService::scanVectorDatabases(Done done)
{
    m_runner.run(QStringLiteral("docker"),
                 {QStringLiteral("ps"), QStringLiteral("--format"), QStringLiteral("{{.ID}}|{{.Names}}|{{.Ports}}")},
                 [this, done](const CommandRunner::Result &result) {
                     QList<VectorDatabaseInfo> rows = result.started ? parseContainers(result.output) : QList<VectorDatabaseInfo>{};
                     setActiveVectorDBs(rows.isEmpty() ? sampleVectorDatabases() : rows);
                     // Each failing run of the Docker CLI costs tens of milliseconds of CPU.
                     if (result.started && !(result.finished && result.exitCode == 0)) {
                         // Without the daemon's socket there is nothing to retry against
                         // until it appears; with it (say, a user outside the docker
                         // group) the waits double.
                         m_containerFailures = std::min(m_containerFailures + 1, 8);
                         m_dockerSocketAtFailure = QFileInfo::exists(m_sources.dockerSocket);
                         const int wait = m_dockerSocketAtFailure ? kIntervalMs << m_containerFailures : kContainerRetryMaxMs;
                         m_containerRetryAt = now().addMSecs(std::min(kContainerRetryMaxMs, wait));
                     } else {
                         m_containerFailures = 0;
                         m_containerRetryAt = {};
                     }
                     if (done)
                         done();
                 });
}

void LocalAIService::pollVectorDatabases(Done done)
{
    const bool daemonArrived = !m_dockerSocketAtFailure && QFileInfo::exists(m_sources.dockerSocket);
    if (m_containerRetryAt.isValid() && now() < m_containerRetryAt && !daemonArrived) {
        setActiveVectorDBs(sampleVectorDatabases());
        if (done)
            done();
        return;
    }
    scanVectorDatabases(std::move(done));
}

void LocalAIService::scanOrphanedCompanions()
{
    if (!m_demoMode)
        setOrphanedAICompanions({});
    else if (m_orphanedAICompanions.isEmpty())
        setOrphanedAICompanions(sampleCompanions());
}

QList<LocalPortInfo> LocalAIService::listeningPorts(const std::vector<SocketEntry> &sockets,
                                                    const std::unordered_map<std::uint64_t, int> &owners,
                                                    const std::function<QString(int)> &nameOf)
{
    std::map<int, LocalPortInfo> byPort;
    for (const SocketEntry &socket : sockets) {
        if (socket.state != SocketEntry::kListen)
            continue;
        LocalPortInfo row;
        row.port = socket.localPort;
        if (const auto it = owners.find(socket.inode); it != owners.end()) {
            row.pid = it->second;
            row.processName = nameOf(row.pid);
        }
        if (row.processName.isEmpty()) {
            row.pid = 0;
            row.processName = QStringLiteral("?");
        }
        byPort[row.port] = row;
    }
    QList<LocalPortInfo> rows;
    for (const auto &[port, row] : byPort)
        rows.append(row);
    return rows;
}

void LocalAIService::scanLocalPorts(Done done)
{
    if (m_demoMode) {
        if (m_activeLocalPorts.isEmpty())
            setActiveLocalPorts(samplePorts());
        if (done)
            done();
        return;
    }
    onWorker<QList<LocalPortInfo>>(
        [root = m_sources.procRoot] {
            const SocketTableReader reader(root);
            const std::vector<SocketEntry> sockets = reader.readTcp(1u << SocketEntry::kListen);
            std::unordered_set<std::uint64_t> inodes;
            for (const SocketEntry &socket : sockets)
                if (socket.state == SocketEntry::kListen && socket.inode != 0)
                    inodes.insert(socket.inode);
            return listeningPorts(sockets, reader.owners(inodes),
                                  [&reader](int pid) { return QString::fromStdString(reader.commandName(pid)); });
        },
        [this, done](QList<LocalPortInfo> rows) {
            setActiveLocalPorts(rows);
            if (done)
                done();
        });
}

QList<ModelCacheFile> LocalAIService::findModelFiles(const QStringList &ollamaBlobDirs, const QString &huggingFaceHub)
{
    QList<ModelCacheFile> files;
    const auto walk = [&files](const QString &root, qint64 threshold, const QString &type) {
        const std::string base = QFile::encodeName(root).toStdString();
        FileTree::walk(base, [&](const FileTreeEntry &entry) {
            if (entry.kind != FileTreeEntry::Kind::File || static_cast<qint64>(entry.size) <= threshold)
                return;
            const std::string &rel = entry.relativePath;
            if (rel.front() == '.' || rel.find("/.") != std::string::npos)
                return;   // hidden, or inside a hidden folder
            ModelCacheFile file;
            file.path = QFile::decodeName(QByteArray::fromStdString(base + '/' + rel));
            file.name = QFileInfo(file.path).fileName();
            file.size = static_cast<qint64>(entry.size);
            file.type = type;
            files.append(file);
        });
    };
    for (const QString &dir : ollamaBlobDirs)
        walk(dir, kOllamaBlobThreshold, QStringLiteral("Ollama"));
    if (!huggingFaceHub.isEmpty())
        walk(huggingFaceHub, kHuggingFaceThreshold, QStringLiteral("HuggingFace"));
    std::stable_sort(files.begin(), files.end(), [](const ModelCacheFile &a, const ModelCacheFile &b) { return a.size > b.size; });
    return files;
}

void LocalAIService::scanModelCache(Done done)
{
    if (m_demoMode) {
        if (m_cachedModelFiles.isEmpty())
            setCachedModelFiles(sampleModelFiles());
        if (done)
            done();
        return;
    }
    onWorker<QList<ModelCacheFile>>([dirs = ollamaBlobDirs(), hub = huggingFaceHub()] { return findModelFiles(dirs, hub); },
                                    [this, done](QList<ModelCacheFile> files) {
                                        setCachedModelFiles(files);
                                        if (done)
                                            done();
                                    });
}

QList<int> LocalAIService::getPIDs(const QStringList &names)
{
    std::vector<std::string> wanted;
    for (const QString &name : names)
        wanted.push_back(QFile::encodeName(name).toStdString());
    const std::vector<int> pids = m_processReader.pidsNamed(wanted);
    return QList<int>(pids.begin(), pids.end());
}

QStringList LocalAIService::ollamaBlobDirs() const
{
    if (m_sources.ollamaBlobDirs)
        return *m_sources.ollamaBlobDirs;
    const QString models = qEnvironmentVariable("OLLAMA_MODELS");
    QStringList dirs{models.isEmpty() ? QDir(m_sources.homePath).filePath(QStringLiteral(".ollama/models/blobs"))
                                      : QDir(models).filePath(QStringLiteral("blobs"))};
    // Ollama's Linux installer runs it as a system service that keeps its models here.
    const QFileInfo system(kOllamaSystemStore);
    if (system.isDir() && system.isReadable() && !dirs.contains(kOllamaSystemStore))
        dirs.append(kOllamaSystemStore);
    return dirs;
}

QString LocalAIService::huggingFaceHub() const
{
    return m_sources.huggingFaceHub.isEmpty() ? SystemStatsProvider::huggingFaceHubFor(m_sources.homePath)
                                              : m_sources.huggingFaceHub;
}

template<typename T>
void LocalAIService::onWorker(std::function<T()> work, std::function<void(T)> then)
{
    runOnWorker<T>(this, m_workers, std::move(work), std::move(then));
}

// ---- Sample rows ---------------------------------------------------------------------------

QList<VectorDatabaseInfo> LocalAIService::sampleVectorDatabases()
{
    return {VectorDatabaseInfo{QStringLiteral("chroma-local"), 8000, QStringLiteral("184 MB"), QStringLiteral("dc84e27f9b8c"), kRunning},
            VectorDatabaseInfo{QStringLiteral("qdrant-local"), 6333, QStringLiteral("242 MB"), QStringLiteral("9ae815f212bc"), kRunning}};
}

QList<OrphanedCompanionInfo> LocalAIService::sampleCompanions()
{
    return {OrphanedCompanionInfo{QStringLiteral("continue-agent"), 82194, QStringLiteral("142 MB"), QStringLiteral("VS Code (Closed)")},
            OrphanedCompanionInfo{QStringLiteral("copilot-agent"), 82955, QStringLiteral("98 MB"), QStringLiteral("Cursor (Closed)")}};
}

QList<LocalPortInfo> LocalAIService::samplePorts()
{
    return {LocalPortInfo{11434, QStringLiteral("ollama"), 90281},
            LocalPortInfo{5432, QStringLiteral("postgres"), 8812},
            LocalPortInfo{6379, QStringLiteral("redis-server"), 8815},
            LocalPortInfo{3000, QStringLiteral("node (next-dev)"), 82918},
            LocalPortInfo{8000, QStringLiteral("uvicorn (python)"), 82955}};
}

QList<ModelCacheFile> LocalAIService::sampleModelFiles()
{
    return {ModelCacheFile{QStringLiteral("deepseek-r1-distill-qwen-7b.gguf"), 4724464640,
                           QStringLiteral("/Users/tamsel/.ollama/models/blobs/sha256:7bde42a"), QStringLiteral("Ollama")},
            ModelCacheFile{QStringLiteral("llama3-8b-instruct.gguf"), 4661224816,
                           QStringLiteral("/Users/tamsel/.ollama/models/blobs/sha256:3a11f2c"), QStringLiteral("Ollama")},
            ModelCacheFile{QStringLiteral("config.json (Qwen2.5-7B-Instruct)"), 1048576,
                           QStringLiteral("/Users/tamsel/.cache/huggingface/hub/models--Qwen--Qwen2.5-7B/snapshots/1a2b3c/config.json"),
                           QStringLiteral("HuggingFace")},
            ModelCacheFile{QStringLiteral("model.safetensors.index.json"), 2097152,
                           QStringLiteral("/Users/tamsel/.cache/huggingface/hub/models--Qwen--Qwen2.5-7B/snapshots/1a2b3c/model.safetensors.index.json"),
                           QStringLiteral("HuggingFace")}};
}

// ---- Fields --------------------------------------------------------------------------------

// Every assignment notifies, as the screens expect, even when the value is the same.
void LocalAIService::setStatus(OllamaStatus status) { m_status = status; Q_EMIT statusChanged(); }
void LocalAIService::setActiveModels(const QList<LocalAIModel> &models) { m_activeModels = models; Q_EMIT activeModelsChanged(); }
void LocalAIService::setActiveVectorDBs(const QList<VectorDatabaseInfo> &rows) { m_activeVectorDBs = rows; Q_EMIT activeVectorDBsChanged(); }
void LocalAIService::setOrphanedAICompanions(const QList<OrphanedCompanionInfo> &rows) { m_orphanedAICompanions = rows; Q_EMIT orphanedAICompanionsChanged(); }
void LocalAIService::setActiveLocalPorts(const QList<LocalPortInfo> &rows) { m_activeLocalPorts = rows; Q_EMIT activeLocalPortsChanged(); }
void LocalAIService::setCachedModelFiles(const QList<ModelCacheFile> &rows) { m_cachedModelFiles = rows; Q_EMIT cachedModelFilesChanged(); }
void LocalAIService::setSuspendedPIDs(const QList<int> &pids) { m_suspendedPIDs = pids; Q_EMIT suspendedPIDsChanged(); }
void LocalAIService::setDemoMode(bool on) { m_demoMode = on; Q_EMIT demoModeChanged(); }
void LocalAIService::setCompileAutoSuspendEnabled(bool on) { m_compileAutoSuspendEnabled = on; Q_EMIT compileAutoSuspendEnabledChanged(); }
void LocalAIService::setVmAutoSleepEnabled(bool on) { m_vmAutoSleepEnabled = on; Q_EMIT vmAutoSleepEnabledChanged(); }
void LocalAIService::setBuildTurboEnabled(bool on) { m_buildTurboEnabled = on; Q_EMIT buildTurboEnabledChanged(); }
void LocalAIService::setBatteryShieldEnabled(bool on) { m_batteryShieldEnabled = on; Q_EMIT batteryShieldEnabledChanged(); }

QList<qint64> LocalAIService::loadedModelSizes() const
{
    QList<qint64> sizes;
    for (const LocalAIModel &model : m_activeModels)
        sizes.append(model.size);
    return sizes;
}

QVariantList LocalAIService::activeModelsForQml() const { return toVariantList(m_activeModels); }
QVariantList LocalAIService::activeVectorDBsForQml() const { return toVariantList(m_activeVectorDBs); }
QVariantList LocalAIService::orphanedAICompanionsForQml() const { return toVariantList(m_orphanedAICompanions); }
QVariantList LocalAIService::activeLocalPortsForQml() const { return toVariantList(m_activeLocalPorts); }
QVariantList LocalAIService::cachedModelFilesForQml() const { return toVariantList(m_cachedModelFiles); }
