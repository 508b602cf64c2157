#include "LiveWorkspace.h"

#include "platform/BoundedHttpGet.h"

#include "ModelManifest.h"
#include "platform/CommandRunner.h"
#include "platform/DeletionGuard.h"
#include "platform/LocalPath.h"
#include "platform/FileLinker.h"
#include "platform/FileTree.h"
#include "platform/ProcessControl.h"
#include "platform/WorkerTask.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <map>
#include <tuple>
#include <unordered_set>

LiveWorkspace::LiveWorkspace(LiveWorkspaceSetup setup, CommandRunner &runner, QObject *parent)
    : QObject(parent)
    , m_setup(std::move(setup))
    , m_runner(runner)
{
    // The server is on this machine: an http_proxy meant for the internet must not see it.
    m_network.setProxy(QNetworkProxy::NoProxy);
}

LiveWorkspace::~LiveWorkspace()
{
    for (QFuture<void> &worker : m_workers)
        worker.waitForFinished();
}

template<typename T>
void LiveWorkspace::onWorker(std::function<T()> work, std::function<void(T)> then)
{
    runOnWorker<T>(this, m_workers, std::move(work), std::move(then));
}

// ---- Models ----------------------------------------------------------------------------

void LiveWorkspace::listModels(const QList<LocalAIModel> &, Reply<Listing> reply)
{
    // Port 11434 is unprivileged: while Ollama is down, anyone on the machine may answer
    // there, so the listing is bounded in size and in time, whatever arrives.
    const QNetworkRequest request(m_setup.ollamaUrl.resolved(QUrl(QStringLiteral("/api/ps"))));
    BoundedHttpGet::get(m_network, request, {kMaxListingBytes, kListingTimeoutMs}, this, [this, reply](const BoundedReply &answer) {
        switch (answer.outcome) {
        case BoundedReply::Answered:
            break;
        case BoundedReply::Refused:
            reply(Listing{OllamaStatus::Offline, {}, notRunningReason()});
            return;
        case BoundedReply::TooLarge:
        case BoundedReply::Redirected:
            Q_EMIT logged(QStringLiteral("Model listing refused: ") + answer.error);
            reply(Listing{OllamaStatus::Offline, {}, unreadableReason()});
            return;
        default:
            // The deadline passed, or the peer closed without a word: a server that is
            // there but does not answer.
            reply(Listing{OllamaStatus::Offline, {}, notAnsweringReason()});
            return;
        }
        if (answer.status < 200 || answer.status > 299) {
            reply(Listing{OllamaStatus::Offline, {}, httpErrorReason(answer.status)});
            return;
        }
        const std::optional<QList<LocalAIModel>> models =
            answer.complete ? LocalAIModel::decodeListing(answer.body) : std::nullopt;
        if (!models)
            reply(Listing{OllamaStatus::Offline, {}, unreadableReason()});
        else if (models->isEmpty())
            reply(Listing{OllamaStatus::Idle, {}, {}});
        else
            reply(Listing{OllamaStatus::Active, *models, {}});
    });
}

void LiveWorkspace::listInstalled(Reply<Installed> reply)
{
    // Bounded as the listing is, for the same reason; what went wrong is only said, as the
    // listing of loaded models already tells whether the server is there.
    const QNetworkRequest request(m_setup.ollamaUrl.resolved(QUrl(QStringLiteral("/api/tags"))));
    BoundedHttpGet::get(m_network, request, {kMaxListingBytes, kInstalledTimeoutMs}, this, [reply](const BoundedReply &answer) {
        const auto failed = [&reply](const QString &why) { reply(Installed{std::nullopt, why}); };
        switch (answer.outcome) {
        case BoundedReply::Answered:
            break;
        case BoundedReply::Refused:
            return failed(QStringLiteral("the server is not running"));
        case BoundedReply::TimedOut:
            return failed(QStringLiteral("no answer within %1 ms").arg(kInstalledTimeoutMs));
        case BoundedReply::TooLarge:
        case BoundedReply::Redirected:
        default:
            return failed(answer.error.isEmpty() ? QStringLiteral("no answer") : answer.error);
        }
        if (answer.status < 200 || answer.status > 299)
            return failed(QStringLiteral("HTTP status %1").arg(answer.status));
        std::optional<QList<InstalledModel>> models = answer.complete ? InstalledModel::decodeTags(answer.body) : std::nullopt;
        if (!models)
            return failed(QStringLiteral("unreadable reply"));
        reply(Installed{std::move(models), {}});
    });
}

void LiveWorkspace::ejectModel(const QString &name, Reply<After> reply)
{
    const QJsonObject body{{QStringLiteral("model"), name}, {QStringLiteral("keep_alive"), 0}};
    QNetworkRequest request(m_setup.ollamaUrl.resolved(QUrl(QStringLiteral("/api/generate"))));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(kEjectTimeoutMs);
    QNetworkReply *answer = m_network.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    connect(answer, &QNetworkReply::finished, this, [this, answer, reply] {
        answer->deleteLater();
        // Any HTTP answer counts as delivered; only a failed exchange is a failure.
        if (!answer->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
            Q_EMIT logged(QStringLiteral("Failed to eject model: ") + answer->errorString());
            reply(After::Nothing);
            return;
        }
        reply(After::Rescan);
    });
}

// ---- Containers, the VM and processes ---------------------------------------------------

void LiveWorkspace::stopContainer(const QString &containerId, Reply<After> reply)
{
    m_runner.run(QStringLiteral("docker"), {QStringLiteral("stop"), containerId},
                 [reply](const CommandRunner::Result &result) {
                     // Without the tool there is nothing to read again: the row just goes.
                     reply(result.started ? After::Rescan : After::RemoveRow);
                 });
}

void LiveWorkspace::pauseContainer(const QString &containerId)
{
    m_runner.run(QStringLiteral("docker"), {QStringLiteral("pause"), containerId});
}

void LiveWorkspace::stopVM()
{
    m_runner.run(QStringLiteral("colima"), {QStringLiteral("stop")});
}

void LiveWorkspace::killCompanions(const QList<OrphanedCompanionInfo> &rows)
{
    for (const OrphanedCompanionInfo &row : rows)
        if (row.pid > 1 && row.pid != m_setup.ownPid)
            ProcessControl::sendSignal(row.pid, SIGKILL);
}

LocalAIBackend::After LiveWorkspace::killProcess(int pid)
{
    ProcessControl::sendSignal(pid, SIGKILL);
    return After::Rescan;
}

std::optional<QList<OrphanedCompanionInfo>> LiveWorkspace::companions(const QList<OrphanedCompanionInfo> &)
{
    return QList<OrphanedCompanionInfo>{};
}

// ---- Ports -----------------------------------------------------------------------------

QList<LocalPortInfo> LiveWorkspace::listeningPorts(const std::vector<SocketEntry> &sockets,
                                                   const std::unordered_map<std::uint64_t, int> &owners,
                                                   const std::function<QString(int)> &nameOf)
{
    // One row a listener: the same port number on 127.0.0.1 and on ::1 may be two
    // different servers. In port order, IPv4 first.
    std::map<std::tuple<int, bool, std::string, int>, LocalPortInfo> byListener;
    for (const SocketEntry &socket : sockets) {
        if (socket.state != SocketEntry::kListen)
            continue;
        LocalPortInfo row;
        row.port = socket.localPort;
        row.address = QString::fromStdString(socket.localAddress);
        if (const auto it = owners.find(socket.inode); it != owners.end()) {
            row.pid = it->second;
            row.processName = nameOf(row.pid);
        }
        if (row.processName.isEmpty()) {
            row.pid = 0;
            row.processName = QStringLiteral("?");
        }
        byListener[{row.port, socket.ipv6, socket.localAddress, row.pid}] = row;
    }
    QList<LocalPortInfo> rows;
    for (const auto &[listener, row] : byListener)
        rows.append(row);
    return rows;
}

void LiveWorkspace::scanPorts(const QList<LocalPortInfo> &, Reply<std::optional<QList<LocalPortInfo>>> reply)
{
    onWorker<QList<LocalPortInfo>>(
        [root = m_setup.procRoot] {
            const SocketTableReader reader(root);
            const std::vector<SocketEntry> sockets = reader.readTcp(1u << SocketEntry::kListen);
            std::unordered_set<std::uint64_t> inodes;
            for (const SocketEntry &socket : sockets)
                if (socket.state == SocketEntry::kListen && socket.inode != 0)
                    inodes.insert(socket.inode);
            return listeningPorts(sockets, reader.owners(inodes),
                                  [&reader](int pid) { return QString::fromStdString(reader.commandName(pid)); });
        },
        [reply](QList<LocalPortInfo> rows) { reply(rows); });
}

// ---- Model files -------------------------------------------------------------------------

QList<ModelCacheFile> LiveWorkspace::findModelFiles(const QStringList &ollamaBlobDirs, const QString &huggingFaceHub)
{
    QList<ModelCacheFile> files;
    const auto walk = [&files](const QString &root, qint64 threshold, const QString &type) {
        const std::string base = LocalPath::local(root);
        FileTree::walk(base, [&](const FileTreeEntry &entry) {
            if (entry.kind != FileTreeEntry::Kind::File || static_cast<qint64>(entry.size) <= threshold)
                return;
            const std::string &rel = entry.relativePath;
            if (rel.front() == '.' || rel.find("/.") != std::string::npos)
                return;   // hidden, or inside a hidden folder
            ModelCacheFile file;
            file.path = LocalPath::decode(base + '/' + rel);
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

void LiveWorkspace::scanModelFiles(const QList<ModelCacheFile> &, Reply<std::optional<QList<ModelCacheFile>>> reply)
{
    onWorker<QList<ModelCacheFile>>(
        [dirs = m_setup.ollamaBlobDirs(), hub = m_setup.huggingFaceHub()] { return findModelFiles(dirs, hub); },
        [reply](QList<ModelCacheFile> files) { reply(files); });
}

QStringList LiveWorkspace::modelCacheRoots() const
{
    return m_setup.ollamaBlobDirs() << m_setup.huggingFaceHub();
}

DeletionGuard::Verdict LiveWorkspace::judgeDeletion(const QString &path, const QStringList &roots, const QString &home)
{
    QList<DeletionGuard::Root> confinements;
    for (const QString &root : roots)
        confinements.append(DeletionGuard::Root{root, 0});
    // The list shows what a link leads to, so a link that leads out is not the list's to delete.
    return DeletionGuard(home).item(path, confinements, DeletionGuard::Links::MustLeadInside);
}

std::optional<QString> LiveWorkspace::deletableLocation(const QString &path, const QStringList &roots, const QString &home)
{
    const DeletionGuard::Verdict verdict = judgeDeletion(path, roots, home);
    return verdict.allowed() ? std::optional(verdict.location) : std::nullopt;
}

QString LiveWorkspace::loadedModelUsing(const QString &path, const QList<LocalAIModel> &loaded, const QStringList &ollamaBlobDirs)
{
    const auto local = [](const QString &p) { return LocalPath::local(p); };
    const std::string target = local(path);
    // The files to judge: the item itself, or everything in a folder that would go with it.
    QList<std::pair<QString, std::optional<FileIdentity>>> files{{QFileInfo(path).fileName(), FileLinker::identify(target)}};
    if (FileTree::isDirectory(target))
        FileTree::walk(target, [&files](const FileTreeEntry &entry) {
            if (entry.kind != FileTreeEntry::Kind::File)
                return;
            FileIdentity id;
            id.device = entry.device;
            id.inode = entry.inode;
            files.append({QFileInfo(QString::fromStdString(entry.relativePath)).fileName(), id});
        });
    for (const LocalAIModel &model : loaded) {
        QStringList digests;
        if (const QString own = ModelManifest::normalDigest(model.digest); !own.isEmpty())
            digests.append(own);
        for (const QString &dir : ollamaBlobDirs)
            digests += ModelManifest::readBlobDigests(QFileInfo(QDir::cleanPath(dir)).path(), model.name);
        digests.removeDuplicates();
        QList<FileIdentity> blobs;
        for (const QString &digest : std::as_const(digests))
            for (const QString &dir : ollamaBlobDirs)
                if (const auto blob = FileLinker::identify(local(QDir(dir).filePath(QStringLiteral("sha256-") + digest))))
                    blobs.append(*blob);
        for (const auto &[name, identity] : std::as_const(files)) {
            if (name.startsWith(QLatin1String("sha256-")) && digests.contains(ModelManifest::normalDigest(name)))
                return model.name;
            // Named explicitly: clang before 16 cannot capture a structured binding.
            if (identity && std::any_of(blobs.begin(), blobs.end(), [&, &identity = identity](const FileIdentity &b) {
                    return b.sameFile(*identity);
                }))
                return model.name;
        }
    }
    return {};
}

void LiveWorkspace::deleteModelFile(const QString &path, const QList<LocalAIModel> &loaded, Reply<After> reply)
{
    const DeletionGuard::Verdict verdict = judgeDeletion(path, modelCacheRoots(), m_setup.homePath);
    if (!verdict.allowed()) {
        const QString reason = verdict.kind == DeletionGuard::Verdict::Kind::Refused ? verdict.reason
            : verdict.kind == DeletionGuard::Verdict::Kind::Nothing ? QStringLiteral("there is nothing there")
                                                                   : QStringLiteral("it is not inside a model cache folder");
        Q_EMIT logged(QStringLiteral("Refusing to delete %1: %2").arg(path, reason));
        QTimer::singleShot(0, this, [reply] { reply(After::Nothing); });
        return;
    }
    // The check and the deletion run in one step on the worker, so no listing in between
    // can make the answer stale.
    struct Outcome
    {
        QString user;   // the loaded model the item belongs to: then nothing is deleted
        QStringList failures;
    };
    onWorker<Outcome>(
        [verdict, loaded, dirs = m_setup.ollamaBlobDirs(), home = m_setup.homePath] {
            Outcome outcome;
            outcome.user = loadedModelUsing(verdict.location, loaded, dirs);
            if (outcome.user.isEmpty())
                outcome.failures = DeletionGuard(home).remove(verdict).failures;
            return outcome;
        },
        [this, path, reply](Outcome outcome) {
            for (const QString &line : std::as_const(outcome.failures))
                Q_EMIT logged(line);
            if (outcome.user.isEmpty()) {
                reply(After::Rescan);
                return;
            }
            Q_EMIT logged(QStringLiteral("Refused: %1 is in use by the loaded model %2").arg(QFileInfo(path).fileName(), outcome.user));
            reply(After::Nothing);
        });
}
