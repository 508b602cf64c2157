#include "UDisksClient.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QHash>
#include <QVariantMap>

#include <algorithm>
#include <array>

namespace {
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kLvmBlock = QStringLiteral("org.freedesktop.UDisks2.Block.LVM2");
const QString kLogicalVolume = QStringLiteral("org.freedesktop.UDisks2.LogicalVolume");
const QString kPhysicalVolume = QStringLiteral("org.freedesktop.UDisks2.PhysicalVolume");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kAta = QStringLiteral("org.freedesktop.UDisks2.Drive.Ata");
const QString kNvme = QStringLiteral("org.freedesktop.UDisks2.NVMe.Controller");

using Interfaces = QHash<QString, QVariantMap>;
using Objects = QHash<QString, Interfaces>;   // object path -> its interfaces

Objects managedObjects(const QDBusArgument &arg)
{
    Objects objects;
    arg.beginMap();
    while (!arg.atEnd()) {
        arg.beginMapEntry();
        QDBusObjectPath path;
        arg >> path;
        Interfaces interfaces;
        arg.beginMap();
        while (!arg.atEnd()) {
            arg.beginMapEntry();
            QString name;
            QVariantMap properties;
            arg >> name >> properties;
            arg.endMapEntry();
            interfaces.insert(name, properties);
        }
        arg.endMap();
        arg.endMapEntry();
        objects.insert(path.path(), interfaces);
    }
    arg.endMap();
    return objects;
}

// The daemon sends paths as NUL-terminated byte strings.
QString byteString(const QVariant &value)
{
    QByteArray bytes = value.toByteArray();
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return QString::fromLocal8Bit(bytes);
}

QStringList byteStrings(const QVariant &value)
{
    QStringList list;
    if (!value.canConvert<QDBusArgument>())
        return list;
    const QDBusArgument arg = value.value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        QByteArray bytes;
        arg >> bytes;
        list.append(byteString(bytes));
    }
    arg.endArray();
    return list;
}

QString objectPath(const QVariant &value)
{
    const QString path = value.value<QDBusObjectPath>().path();
    return path == QLatin1String("/") ? QString() : path;
}

bool holds(const QString &mountPoint, const QString &folder)
{
    if (mountPoint.isEmpty())
        return false;
    if (mountPoint == QLatin1String("/") || folder == mountPoint)
        return true;
    return folder.startsWith(mountPoint + QLatin1Char('/'));
}

// The drive under a block device: its own, or that of the device an encrypted volume or an
// LVM logical volume sits on.
QString driveOf(const Objects &objects, const QString &block, int depth = 0)
{
    if (depth > 8 || !objects.contains(block))
        return {};
    const Interfaces &interfaces = objects[block];
    const QVariantMap properties = interfaces.value(kBlock);
    if (const QString drive = objectPath(properties.value(QStringLiteral("Drive"))); !drive.isEmpty())
        return drive;
    if (const QString backing = objectPath(properties.value(QStringLiteral("CryptoBackingDevice"))); !backing.isEmpty())
        return driveOf(objects, backing, depth + 1);
    const QString volume = objectPath(interfaces.value(kLvmBlock).value(QStringLiteral("LogicalVolume")));
    if (volume.isEmpty())
        return {};
    const QString group = objectPath(objects.value(volume).value(kLogicalVolume).value(QStringLiteral("VolumeGroup")));
    if (group.isEmpty())
        return {};
    // A group over several disks reports the first disk that has a drive behind it.
    QStringList paths = objects.keys();
    paths.sort();
    for (const QString &path : std::as_const(paths)) {
        const QVariantMap pv = objects[path].value(kPhysicalVolume);
        if (!pv.isEmpty() && objectPath(pv.value(QStringLiteral("VolumeGroup"))) == group)
            if (const QString drive = driveOf(objects, path, depth + 1); !drive.isEmpty())
                return drive;
    }
    return {};
}

UDisksDriveReport describe(const Objects &objects, const QString &folder)
{
    UDisksDriveReport report;
    report.daemon = true;
    QString block;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const QVariantMap filesystem = it->value(kFilesystem);
        if (filesystem.isEmpty())
            continue;
        for (const QString &mountPoint : byteStrings(filesystem.value(QStringLiteral("MountPoints"))))
            if (holds(mountPoint, folder) && mountPoint.size() > report.mountPoint.size()) {
                report.mountPoint = mountPoint;
                block = it.key();
            }
    }
    if (block.isEmpty())
        return report;
    const QVariantMap properties = objects[block].value(kBlock);
    report.label = properties.value(QStringLiteral("IdLabel")).toString();
    report.device = byteString(properties.value(QStringLiteral("PreferredDevice")));
    if (report.device.isEmpty())
        report.device = byteString(properties.value(QStringLiteral("Device")));
    report.drive = driveOf(objects, block);
    if (report.drive.isEmpty())
        return report;

    const Interfaces drive = objects.value(report.drive);
    const QVariantMap about = drive.value(kDrive);
    report.model = about.value(QStringLiteral("Model")).toString().trimmed();
    report.rotational = about.value(QStringLiteral("RotationRate")).toInt() != 0;
    if (drive.contains(kAta)) {
        const QVariantMap ata = drive.value(kAta);
        report.smart = UDisksDriveReport::Smart::Ata;
        report.smartSupported = ata.value(QStringLiteral("SmartSupported")).toBool();
        report.smartEnabled = ata.value(QStringLiteral("SmartEnabled")).toBool();
        report.smartFailing = ata.value(QStringLiteral("SmartFailing")).toBool();
        report.failingAttributes = ata.value(QStringLiteral("SmartNumAttributesFailing")).toInt();
        if (const quint64 seconds = ata.value(QStringLiteral("SmartPowerOnSeconds")).toULongLong(); seconds > 0)
            report.powerOnSeconds = seconds;
    } else if (drive.contains(kNvme)) {
        const QVariantMap nvme = drive.value(kNvme);
        report.smart = UDisksDriveReport::Smart::Nvme;
        // Every NVMe controller keeps its health log; it cannot be switched off.
        report.smartSupported = true;
        report.smartEnabled = true;
        report.criticalWarnings = nvme.value(QStringLiteral("SmartCriticalWarning")).toStringList();
        report.smartFailing = !report.criticalWarnings.isEmpty();
        if (nvme.value(QStringLiteral("SmartUpdated")).toULongLong() > 0)
            report.powerOnSeconds = nvme.value(QStringLiteral("SmartPowerOnHours")).toULongLong() * 3600;
    }
    return report;
}

// ATA attributes whose normalised value counts down from 100 as the flash wears, in the
// order they are trusted: SSD life left, media wearout indicator, wear levelling count,
// percent lifetime remaining.
constexpr std::array<int, 4> kAtaWearAttributes{231, 233, 177, 202};
constexpr int kAtaLbasWritten = 241;
// The units the daemon gives an attribute's "pretty" figure in.
constexpr int kUnitSectors = 3;
constexpr int kUnitMegabytes = 7;
}

UDisksClient::UDisksClient(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
}

void UDisksClient::read(const QString &folder)
{
    if (m_reading)
        return;
    if (!m_bus.isConnected()) {
        finish({});
        return;
    }
    m_reading = true;
    const QDBusMessage call = QDBusMessage::createMethodCall(kService, kRoot, kObjectManager, QStringLiteral("GetManagedObjects"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, folder] {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()
            || !reply.arguments().first().canConvert<QDBusArgument>()) {
            finish({});
            return;
        }
        const UDisksDriveReport report = describe(managedObjects(reply.arguments().first().value<QDBusArgument>()), folder);
        if (report.smart == UDisksDriveReport::Smart::Ata && report.smartSupported && report.smartEnabled)
            readAtaAttributes(report);
        else if (report.smart == UDisksDriveReport::Smart::Nvme)
            readNvmeAttributes(report);
        else
            finish(report);
    });
}

void UDisksClient::readAtaAttributes(UDisksDriveReport report)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, report.drive, kAta, QStringLiteral("SmartGetAttributes"));
    call << QVariantMap{};
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, report]() mutable {
        watcher->deleteLater();
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
            && reply.arguments().first().canConvert<QDBusArgument>()) {
            const QDBusArgument arg = reply.arguments().first().value<QDBusArgument>();
            QHash<int, int> normalised;
            arg.beginArray();
            while (!arg.atEnd()) {
                uchar id = 0;
                QString name;
                ushort flags = 0;
                int value = 0, worst = 0, threshold = 0, unit = 0;
                qint64 pretty = 0;
                QVariantMap expansion;
                arg.beginStructure();
                arg >> id >> name >> flags >> value >> worst >> threshold >> pretty >> unit >> expansion;
                arg.endStructure();
                normalised.insert(id, value);
                if (id == kAtaLbasWritten && pretty > 0) {
                    if (unit == kUnitSectors)
                        report.bytesWritten = static_cast<quint64>(pretty) * 512;
                    else if (unit == kUnitMegabytes)
                        report.bytesWritten = static_cast<quint64>(pretty) * 1024 * 1024;
                }
            }
            arg.endArray();
            for (const int id : kAtaWearAttributes) {
                const int value = normalised.value(id, -1);
                // Vendors start these at 100; anything outside 1..100 is some other scale.
                if (value >= 1 && value <= 100) {
                    report.wearPercent = 100 - value;
                    break;
                }
            }
        }
        finish(report);
    });
}

void UDisksClient::readNvmeAttributes(UDisksDriveReport report)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, report.drive, kNvme, QStringLiteral("SmartGetAttributes"));
    call << QVariantMap{};
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, report]() mutable {
        watcher->deleteLater();
        const QDBusPendingReply<QVariantMap> reply = *watcher;
        if (!reply.isError()) {
            const QVariantMap attributes = reply.value();
            if (const auto used = attributes.find(QStringLiteral("percent_used")); used != attributes.end())
                report.wearPercent = used->toDouble();
            if (const auto written = attributes.find(QStringLiteral("total_data_written")); written != attributes.end())
                report.bytesWritten = written->toULongLong();
        }
        finish(report);
    });
}

void UDisksClient::finish(const UDisksDriveReport &report)
{
    m_reading = false;
    Q_EMIT reported(report);
}
