#include "DriveHealthMonitor.h"

#include <QDir>
#include <QFile>

#include <cmath>

DriveHealthSources DriveHealthSources::forThisMachine()
{
    DriveHealthSources sources;
    sources.udisksBus = QDBusConnection::systemBus();
    return sources;
}

DriveHealthMonitor::DriveHealthMonitor(DriveHealthSources sources, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
{
    if (m_sources.homePath.isEmpty())
        m_sources.homePath = QDir::homePath();
    if (!m_sources.usage)
        m_sources.usage = [stats = FileSystemStats(QFile::encodeName(m_sources.homePath).toStdString())] {
            return stats.read();
        };
    if (!m_sources.mountPoint)
        m_sources.mountPoint = [stats = FileSystemStats(QFile::encodeName(m_sources.homePath).toStdString())] {
            return QFile::decodeName(QByteArray::fromStdString(stats.mountPoint()));
        };
    if (m_sources.udisksBus) {
        m_client = std::make_unique<UDisksClient>(*m_sources.udisksBus);
        connect(m_client.get(), &UDisksClient::reported, this, &DriveHealthMonitor::apply);
    }
}

DriveHealthMonitor::~DriveHealthMonitor() = default;

double DriveHealthMonitor::usedPercentOf(const FileSystemUsage &usage)
{
    const double whole = static_cast<double>(usage.usedBytes) + static_cast<double>(usage.availableBytes);
    if (whole <= 0)
        return 0;
    return std::ceil(100.0 * static_cast<double>(usage.usedBytes) / whole);
}

QString DriveHealthMonitor::smartStatusFor(const UDisksDriveReport &report)
{
    if (!report.daemon || report.drive.isEmpty() || report.smart == UDisksDriveReport::Smart::None)
        return kUnavailable;
    if (!report.smartSupported)
        return QStringLiteral("not supported by this drive");
    if (!report.smartEnabled)
        return QStringLiteral("switched off on this drive");
    if (report.smartFailing) {
        if (report.criticalWarnings.isEmpty())
            return QStringLiteral("Failing");
        return QStringLiteral("Failing (%1)").arg(report.criticalWarnings.join(QStringLiteral(", ")));
    }
    if (report.failingAttributes > 0)
        return QStringLiteral("Warning: %1 attribute%2 below threshold")
            .arg(report.failingAttributes)
            .arg(report.failingAttributes == 1 ? QString() : QStringLiteral("s"));
    return QStringLiteral("Healthy");
}

void DriveHealthMonitor::refresh()
{
    const std::optional<FileSystemUsage> usage = m_sources.usage();
    m_usageMeasured = usage.has_value();
    m_usedPercent = usage ? usedPercentOf(*usage) : 0;
    m_mountPoint = m_sources.mountPoint();
    if (m_volumeName.isEmpty())
        m_volumeName = m_mountPoint;
    Q_EMIT changed();
    if (!m_client) {
        apply({});
        return;
    }
    setRefreshing(true);
    m_client->read(m_sources.homePath);
}

void DriveHealthMonitor::apply(const UDisksDriveReport &report)
{
    m_volumeName = !report.label.isEmpty() ? report.label : !report.mountPoint.isEmpty() ? report.mountPoint : m_mountPoint;
    m_available = report.daemon && !report.drive.isEmpty();
    m_driveModel = report.model;
    m_smartStatus = smartStatusFor(report);
    m_smartFailing = m_available && report.smartFailing;
    // A spinning disk has no flash to wear out, whatever a vendor attribute says.
    m_wearMeasured = m_available && !report.rotational && report.wearPercent.has_value();
    m_wearPercent = m_wearMeasured ? *report.wearPercent : 0;
    m_bytesWrittenMeasured = m_available && report.bytesWritten.has_value();
    m_bytesWritten = m_bytesWrittenMeasured ? static_cast<double>(*report.bytesWritten) : 0;
    Q_EMIT changed();
    setRefreshing(false);
    Q_EMIT refreshed();
}

void DriveHealthMonitor::setRefreshing(bool on)
{
    if (m_refreshing == on)
        return;
    m_refreshing = on;
    Q_EMIT refreshingChanged();
}
