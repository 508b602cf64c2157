#pragma once

#include "InstalledModel.h"
#include "LocalAIModel.h"
#include "LocalPortInfo.h"
#include "ModelCacheFile.h"
#include "OllamaStatus.h"
#include "OrphanedCompanionInfo.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// What the AI workspace acts on: the machine itself, or the demo's sample rows. The service
// keeps the rows and runs the protections; a backend answers what each step finds and what
// an action leaves behind, and only the live one touches the machine.
class LocalAIBackend
{
public:
    template<typename T>
    using Reply = std::function<void(T)>;

    struct Listing
    {
        OllamaStatus status = OllamaStatus::Offline;
        QList<LocalAIModel> models;
        // Why an Offline listing failed, as the screens show it: a stopped server, one
        // that errs and one that hangs all read Offline, and each wants a different fix.
        // Empty when the server answered.
        QString reason;
    };

    // What follows an action on one row: the row leaves the list as it stands, the list is
    // read again, or nothing changes (the action was refused or never delivered).
    enum class After { RemoveRow, Rescan, Nothing };

    virtual ~LocalAIBackend() = default;

    // The models installed: null with why when the answer could not be had or read.
    struct Installed
    {
        std::optional<QList<InstalledModel>> models;
        QString error;
    };

    // The models loaded now, given those the list shows.
    virtual void listModels(const QList<LocalAIModel> &shown, Reply<Listing> reply) = 0;
    virtual void listInstalled(Reply<Installed> reply) = 0;
    virtual void ejectModel(const QString &name, Reply<After> reply) = 0;

    virtual void stopContainer(const QString &containerId, Reply<After> reply) = 0;
    // The battery shield's steps; the demo only shows them.
    virtual void pauseContainer(const QString &containerId) = 0;
    virtual void stopVM() = 0;
    virtual void killCompanions(const QList<OrphanedCompanionInfo> &rows) = 0;
    // `pid` has been checked by the caller: never init, never this process.
    virtual After killProcess(int pid) = 0;
    // `loaded`: the models loaded now; a file one of them was loaded from is not deleted.
    virtual void deleteModelFile(const QString &path, const QList<LocalAIModel> &loaded, Reply<After> reply) = 0;

    // Scans. None: the list stays as it is, unannounced.
    virtual std::optional<QList<OrphanedCompanionInfo>> companions(const QList<OrphanedCompanionInfo> &shown) = 0;
    virtual void scanPorts(const QList<LocalPortInfo> &shown, Reply<std::optional<QList<LocalPortInfo>>> reply) = 0;
    virtual void scanModelFiles(const QList<ModelCacheFile> &shown,
                                Reply<std::optional<QList<ModelCacheFile>>> reply) = 0;
};
