#pragma once

#include "LocalAIBackend.h"
#include "platform/DeletionGuard.h"
#include "platform/SocketTableReader.h"

#include <QFuture>
#include <QNetworkAccessManager>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <string>
#include <unordered_map>
#include <vector>

class CommandRunner;

// Where the live workspace is read from and what it may act on.
struct LiveWorkspaceSetup
{
    QUrl ollamaUrl;
    std::string procRoot = "/proc";
    QString homePath;   // never deleted, nor anything above it
    int ownPid = 0;     // never signalled
    // Asked on every scan: a folder may appear or move while the app runs.
    std::function<QStringList()> ollamaBlobDirs;
    std::function<QString()> huggingFaceHub;
};

// The machine itself: Ollama's HTTP API, Docker and Colima's command-line tools, the
// socket table and the model folders. Slow reads run on worker threads; every answer
// arrives on this object's thread.
class LiveWorkspace : public QObject, public LocalAIBackend
{
    Q_OBJECT

public:
    static constexpr int kListingTimeoutMs = 1000;   // for the whole answer, however it trickles
    static constexpr qint64 kMaxListingBytes = 4 * 1024 * 1024;
    // The installed list is read from disk by the server, model by model: a longer wait.
    static constexpr int kInstalledTimeoutMs = 3000;
    static constexpr int kEjectTimeoutMs = 60000;
    static constexpr qint64 kOllamaBlobThreshold = 50'000'000;   // bytes; larger files are listed
    static constexpr qint64 kHuggingFaceThreshold = 10'000'000;

    // The reasons an Offline listing gives.
    static QString notRunningReason() { return QStringLiteral("Not running"); }
    static QString notAnsweringReason() { return QStringLiteral("Not answering"); }
    static QString unreadableReason() { return QStringLiteral("Unreadable reply"); }
    static QString httpErrorReason(int status) { return QStringLiteral("Error %1").arg(status); }

    LiveWorkspace(LiveWorkspaceSetup setup, CommandRunner &runner, QObject *parent = nullptr);
    ~LiveWorkspace() override;

    static QList<LocalPortInfo> listeningPorts(const std::vector<SocketEntry> &sockets,
                                               const std::unordered_map<std::uint64_t, int> &owners,
                                               const std::function<QString(int pid)> &nameOf);
    static QList<ModelCacheFile> findModelFiles(const QStringList &ollamaBlobDirs, const QString &huggingFaceHub);
    // The name of the model in `loaded` that uses the file at `path`, empty when none does.
    // A file is used when it is one of the blobs a loaded model's manifest lists (or the
    // manifest's own digest), by its "sha256-<hex>" name in one of `ollamaBlobDirs`, or is
    // another name for such a blob's inode, as a hard-linked copy in the hub is. Reads the
    // manifests: call it on a worker.
    static QString loadedModelUsing(const QString &path, const QList<LocalAIModel> &loaded, const QStringList &ollamaBlobDirs);
    // See LocalAIService::deletableLocation.
    static std::optional<QString> deletableLocation(const QString &path, const QStringList &roots, const QString &home);

    void listModels(const QList<LocalAIModel> &shown, Reply<Listing> reply) override;
    void listInstalled(Reply<Installed> reply) override;
    void ejectModel(const QString &name, Reply<After> reply) override;
    void stopContainer(const QString &containerId, Reply<After> reply) override;
    void pauseContainer(const QString &containerId) override;
    void stopVM() override;
    void killCompanions(const QList<OrphanedCompanionInfo> &rows) override;
    After killProcess(int pid) override;
    void deleteModelFile(const QString &path, const QList<LocalAIModel> &loaded, Reply<After> reply) override;
    std::optional<QList<OrphanedCompanionInfo>> companions(const QList<OrphanedCompanionInfo> &shown) override;
    void scanPorts(const QList<LocalPortInfo> &shown, Reply<std::optional<QList<LocalPortInfo>>> reply) override;
    void scanModelFiles(const QList<ModelCacheFile> &shown, Reply<std::optional<QList<ModelCacheFile>>> reply) override;

Q_SIGNALS:
    void logged(const QString &line);

private:
    QStringList modelCacheRoots() const;
    static DeletionGuard::Verdict judgeDeletion(const QString &path, const QStringList &roots, const QString &home);
    template<typename T>
    void onWorker(std::function<T()> work, std::function<void(T)> then);

    LiveWorkspaceSetup m_setup;
    CommandRunner &m_runner;
    QNetworkAccessManager m_network;
    QList<QFuture<void>> m_workers;
};
