#pragma once

#include "LocalAIBackend.h"
#include "ModelFit.h"
#include "VectorDatabaseInfo.h"

#include <QDateTime>

// The demo: sample rows that actions take away as the live ones would, and nothing on the
// machine touched. A list emptied by the user stays empty until a scan refills it.
class DemoWorkspace : public LocalAIBackend
{
public:
    // `now`: unset, the clock.
    explicit DemoWorkspace(std::function<QDateTime()> now = {});

    static QList<VectorDatabaseInfo> sampleVectorDatabases();
    static QList<OrphanedCompanionInfo> sampleCompanions();
    static QList<LocalPortInfo> samplePorts();
    static QList<ModelCacheFile> sampleModelFiles();
    // The machine the demo's fit verdicts are judged on: a GPU of 8 GiB with 4 free and 64 GiB
    // of memory with 48 available, so the sample models show all four verdicts, whether the
    // sample loaded models have unloaded or not.
    static FreeMemory sampleFreeMemory();

    void listModels(const QList<LocalAIModel> &shown, Reply<Listing> reply) override;
    void listInstalled(Reply<Installed> reply) override;
    void ejectModel(const QString &name, Reply<After> reply) override;
    void stopContainer(const QString &containerId, Reply<After> reply) override;
    void pauseContainer(const QString &) override {}
    void stopVM() override {}
    void killCompanions(const QList<OrphanedCompanionInfo> &) override {}
    After killProcess(int) override { return After::RemoveRow; }
    void deleteModelFile(const QString &path, const QList<LocalAIModel> &loaded, Reply<After> reply) override;
    std::optional<QList<OrphanedCompanionInfo>> companions(const QList<OrphanedCompanionInfo> &shown) override;
    void scanPorts(const QList<LocalPortInfo> &shown, Reply<std::optional<QList<LocalPortInfo>>> reply) override;
    void scanModelFiles(const QList<ModelCacheFile> &shown, Reply<std::optional<QList<ModelCacheFile>>> reply) override;

private:
    std::function<QDateTime()> m_now;
};
