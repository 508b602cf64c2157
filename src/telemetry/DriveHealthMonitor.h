#pragma once

#include "platform/FileSystemStats.h"
#include "platform/UDisksClient.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// Where the drive's health is read from. Tests hand in a private bus and a fake usage.
struct DriveHealthSources
{
    QString homePath;                                   // empty: the user's home
    std::optional<QDBusConnection> udisksBus;           // unset: no udisks, health unavailable
    // The home file system's size; unset: statvfs of the home folder.
    std::function<std::optional<FileSystemUsage>()> usage;
    // Where it is mounted, for a volume without a label; unset: found from the home folder.
    std::function<QString()> mountPoint;

    static DriveHealthSources forThisMachine();
};

// The home volume and the drive under it: how full it is (as df counts it), and the wear,
// bytes written and SMART verdict the udisks daemon reports. Nothing is read on a timer:
// the disk page asks with refresh() when it opens. Where the daemon offers a figure not,
// the figure says it was not measured instead of showing a guess.
class DriveHealthMonitor : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString volumeName READ volumeName NOTIFY changed)
    Q_PROPERTY(double usedPercent READ usedPercent NOTIFY changed)
    Q_PROPERTY(bool usageMeasured READ usageMeasured NOTIFY changed)
    Q_PROPERTY(double wearPercent READ wearPercent NOTIFY changed)
    Q_PROPERTY(bool wearMeasured READ wearMeasured NOTIFY changed)
    Q_PROPERTY(double bytesWritten READ bytesWritten NOTIFY changed)
    Q_PROPERTY(bool bytesWrittenMeasured READ bytesWrittenMeasured NOTIFY changed)
    Q_PROPERTY(QString smartStatus READ smartStatus NOTIFY changed)
    Q_PROPERTY(bool smartFailing READ smartFailing NOTIFY changed)
    Q_PROPERTY(QString driveModel READ driveModel NOTIFY changed)
    Q_PROPERTY(bool available READ available NOTIFY changed)
    Q_PROPERTY(bool refreshing READ refreshing NOTIFY refreshingChanged)

public:
    static inline const QString kUnavailable = QStringLiteral("unavailable");

    explicit DriveHealthMonitor(DriveHealthSources sources = {}, QObject *parent = nullptr);
    ~DriveHealthMonitor() override;

    static DriveHealthMonitor &shared();

    // Reads the usage now and asks the daemon; refreshed() once its answer is in.
    Q_INVOKABLE void refresh();

    QString volumeName() const { return m_volumeName; }
    double usedPercent() const { return m_usedPercent; }
    bool usageMeasured() const { return m_usageMeasured; }
    double wearPercent() const { return m_wearPercent; }
    bool wearMeasured() const { return m_wearMeasured; }
    // A double for QML; exact to the byte below 2^53.
    double bytesWritten() const { return m_bytesWritten; }
    bool bytesWrittenMeasured() const { return m_bytesWrittenMeasured; }
    QString smartStatus() const { return m_smartStatus; }
    bool smartFailing() const { return m_smartFailing; }
    QString driveModel() const { return m_driveModel; }
    // The daemon named the drive under the home folder.
    bool available() const { return m_available; }
    bool refreshing() const { return m_refreshing; }

    // The SMART verdict in words for a report.
    static QString smartStatusFor(const UDisksDriveReport &report);
    // used ÷ (used + available), rounded up as df rounds its Use%.
    static double usedPercentOf(const FileSystemUsage &usage);

Q_SIGNALS:
    void changed();
    void refreshingChanged();
    void refreshed();

private:
    void apply(const UDisksDriveReport &report);
    void setRefreshing(bool on);

    DriveHealthSources m_sources;
    std::unique_ptr<UDisksClient> m_client;
    QString m_mountPoint;

    QString m_volumeName;
    double m_usedPercent = 0;
    bool m_usageMeasured = false;
    double m_wearPercent = 0;
    bool m_wearMeasured = false;
    double m_bytesWritten = 0;
    bool m_bytesWrittenMeasured = false;
    QString m_smartStatus = kUnavailable;
    bool m_smartFailing = false;
    QString m_driveModel;
    bool m_available = false;
    bool m_refreshing = false;
};
