#include "platform/FileSystemStats.h"
#include "platform/UDisksClient.h"
#include "support/PrivateBus.h"
#include "telemetry/DriveHealthMonitor.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// One row of the ATA attribute table as the daemon sends it.
struct AtaAttribute
{
    uchar id = 0;
    QString name;
    ushort flags = 0;
    int value = 0;
    int worst = 0;
    int threshold = 0;
    qint64 pretty = 0;
    int unit = 0;
};
using AtaAttributes = QList<AtaAttribute>;
using Interfaces = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, Interfaces>;
Q_DECLARE_METATYPE(AtaAttribute)
Q_DECLARE_METATYPE(Interfaces)
Q_DECLARE_METATYPE(ManagedObjects)

QDBusArgument &operator<<(QDBusArgument &arg, const AtaAttribute &a)
{
    arg.beginStructure();
    arg << a.id << a.name << a.flags << a.value << a.worst << a.threshold << a.pretty << a.unit << QVariantMap{};
    arg.endStructure();
    return arg;
}
const QDBusArgument &operator>>(const QDBusArgument &arg, AtaAttribute &a)
{
    QVariantMap expansion;
    arg.beginStructure();
    arg >> a.id >> a.name >> a.flags >> a.value >> a.worst >> a.threshold >> a.pretty >> a.unit >> expansion;
    arg.endStructure();
    return arg;
}

namespace {
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kAta = QStringLiteral("org.freedesktop.UDisks2.Drive.Ata");
const QString kNvme = QStringLiteral("org.freedesktop.UDisks2.NVMe.Controller");
const QString kBlocks = QStringLiteral("/org/freedesktop/UDisks2/block_devices/");
const QString kDrives = QStringLiteral("/org/freedesktop/UDisks2/drives/");

QVariant path(const QString &p) { return QVariant::fromValue(QDBusObjectPath(p)); }
QVariant mounts(const QList<QByteArray> &points)
{
    QList<QByteArray> terminated;
    for (const QByteArray &point : points)
        terminated.append(point + '\0');
    return QVariant::fromValue(terminated);
}
}

// The udisks daemon as far as the monitor asks it: the object manager's table, and each
// drive's SMART attributes. Counts the attribute calls so a test can see none was made.
class FakeUDisks : public QDBusVirtualObject
{
public:
    explicit FakeUDisks(QDBusConnection bus) : m_bus(bus) {}

    QMap<QString, Interfaces> objects;
    QMap<QString, AtaAttributes> ataAttributes;
    QMap<QString, QVariantMap> nvmeAttributes;
    int attributeCalls = 0;

    void block(const QString &name, const QVariantMap &block, const QList<QByteArray> &mountPoints = {})
    {
        Interfaces &interfaces = objects[kBlocks + name];
        QVariantMap properties = block;
        properties.insert(QStringLiteral("Device"), QByteArray("/dev/" + name.toUtf8() + '\0'));
        if (!properties.contains(QStringLiteral("Drive")))
            properties.insert(QStringLiteral("Drive"), path(QStringLiteral("/")));
        interfaces.insert(kBlock, properties);
        if (!mountPoints.isEmpty())
            interfaces.insert(kFilesystem, {{QStringLiteral("MountPoints"), mounts(mountPoints)}});
    }

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        if (message.member() == QLatin1String("GetManagedObjects")) {
            ManagedObjects table;
            for (auto it = objects.cbegin(); it != objects.cend(); ++it)
                table.insert(QDBusObjectPath(it.key()), it.value());
            m_bus.send(message.createReply(QVariant::fromValue(table)));
            return true;
        }
        if (message.member() == QLatin1String("SmartGetAttributes")) {
            ++attributeCalls;
            if (message.interface() == kAta && ataAttributes.contains(message.path()))
                m_bus.send(message.createReply(QVariant::fromValue(ataAttributes.value(message.path()))));
            else if (message.interface() == kNvme && nvmeAttributes.contains(message.path()))
                m_bus.send(message.createReply(QVariant::fromValue(nvmeAttributes.value(message.path()))));
            else
                m_bus.send(message.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.Failed"),
                                                    QStringLiteral("SMART data not available")));
            return true;
        }
        return false;
    }

private:
    QDBusConnection m_bus;
};

class TestDriveHealth : public QObject
{
    Q_OBJECT

    PrivateBus bus;
    int connections = 0;

    QDBusConnection connect(const QString &role)
    {
        return QDBusConnection::connectToBus(bus.address(), QStringLiteral("%1-%2").arg(role).arg(++connections));
    }

    struct Daemon
    {
        QDBusConnection server;
        std::unique_ptr<FakeUDisks> fake;
    };
    Daemon startDaemon()
    {
        Daemon daemon{connect(QStringLiteral("udisks")), nullptr};
        daemon.fake = std::make_unique<FakeUDisks>(daemon.server);
        [&] {
            QVERIFY(daemon.server.registerVirtualObject(UDisksClient::kRoot, daemon.fake.get(), QDBusConnection::SubPath));
            QVERIFY(daemon.server.registerService(UDisksClient::kService));
        }();
        return daemon;
    }
    static void stopDaemon(Daemon &daemon)
    {
        daemon.server.unregisterService(UDisksClient::kService);
        daemon.server.unregisterObject(UDisksClient::kRoot, QDBusConnection::UnregisterTree);
    }

    std::unique_ptr<DriveHealthMonitor> monitor(std::optional<QDBusConnection> udisks, FileSystemUsage usage = {60, 60, 40})
    {
        DriveHealthSources sources;
        sources.homePath = QStringLiteral("/home/ada");
        sources.udisksBus = udisks;
        sources.usage = [usage] { return std::optional<FileSystemUsage>(usage); };
        sources.mountPoint = [] { return QStringLiteral("/home"); };
        return std::make_unique<DriveHealthMonitor>(sources);
    }
    static void refresh(DriveHealthMonitor &m)
    {
        QSignalSpy done(&m, &DriveHealthMonitor::refreshed);
        m.refresh();
        QVERIFY(m.refreshing() || !done.isEmpty());
        QVERIFY(!done.isEmpty() || done.wait(5000));
        QVERIFY(!m.refreshing());
    }

private Q_SLOTS:
    void initTestCase()
    {
        qDBusRegisterMetaType<QList<QByteArray>>();
        qDBusRegisterMetaType<AtaAttribute>();
        qDBusRegisterMetaType<AtaAttributes>();
        qDBusRegisterMetaType<Interfaces>();
        qDBusRegisterMetaType<ManagedObjects>();
        QVERIFY2(bus.start(), qPrintable(bus.error()));
    }
    void cleanupTestCase() { bus.stop(); }

    // An NVMe disk with the home on an encrypted partition: the mount is followed through
    // the cleartext device to the partition's drive, and the controller's own figures shown.
    void nvmeUnderEncryptedHome()
    {
        Daemon daemon = startDaemon();
        const QString drive = kDrives + QStringLiteral("Samsung_SSD_980");
        daemon.fake->objects[drive] = {{kDrive, {{QStringLiteral("Model"), QStringLiteral("Samsung SSD 980 ")},
                                                  {QStringLiteral("RotationRate"), 0}}},
                                        {kNvme, {{QStringLiteral("SmartUpdated"), qulonglong(1700000000)},
                                                 {QStringLiteral("SmartPowerOnHours"), qulonglong(1200)},
                                                 {QStringLiteral("SmartCriticalWarning"), QStringList{}}}}};
        daemon.fake->nvmeAttributes[drive] = {{QStringLiteral("percent_used"), QVariant::fromValue<uchar>(7)},
                                              {QStringLiteral("total_data_written"), qulonglong(48'300'000'000'000)}};
        daemon.fake->block(QStringLiteral("nvme0n1p2"), {{QStringLiteral("Drive"), path(drive)},
                                                         {QStringLiteral("IdLabel"), QStringLiteral("system")}}, {"/"});
        daemon.fake->block(QStringLiteral("nvme0n1p3"), {{QStringLiteral("Drive"), path(drive)}});
        daemon.fake->block(QStringLiteral("dm_2d0"), {{QStringLiteral("CryptoBackingDevice"), path(kBlocks + "nvme0n1p3")},
                                                      {QStringLiteral("IdLabel"), QStringLiteral("Workspace")}},
                           {"/home"});
        // A mount whose name only begins like the home's must not be taken for it.
        daemon.fake->block(QStringLiteral("sdb1"), {{QStringLiteral("IdLabel"), QStringLiteral("backup")}}, {"/home/a"});

        auto m = monitor(connect(QStringLiteral("client")), {0, 1, 2});
        refresh(*m);
        QVERIFY(m->available());
        QCOMPARE(m->volumeName(), QStringLiteral("Workspace"));
        QCOMPARE(m->driveModel(), QStringLiteral("Samsung SSD 980"));
        QVERIFY(m->wearMeasured());
        QCOMPARE(m->wearPercent(), 7.0);
        QVERIFY(m->bytesWrittenMeasured());
        QCOMPARE(m->bytesWritten(), 48'300'000'000'000.0);
        QCOMPARE(m->smartStatus(), QStringLiteral("Healthy"));
        QVERIFY(!m->smartFailing());
        QCOMPARE(m->usedPercent(), 34.0);   // 1 of 3 usable bytes, rounded up as df does

        // The controller raises warnings: the verdict names them.
        daemon.fake->objects[drive][kNvme][QStringLiteral("SmartCriticalWarning")]
            = QStringList{QStringLiteral("spare"), QStringLiteral("temperature")};
        refresh(*m);
        QCOMPARE(m->smartStatus(), QStringLiteral("Failing (spare, temperature)"));
        QVERIFY(m->smartFailing());

        // An older daemon without the attribute call still gives the verdict, and no figure.
        daemon.fake->nvmeAttributes.clear();
        refresh(*m);
        QVERIFY(m->available());
        QVERIFY(!m->wearMeasured());
        QVERIFY(!m->bytesWrittenMeasured());
        stopDaemon(daemon);
    }

    // A SATA SSD under LVM: the logical volume leads through its group to the physical
    // volume's drive; wear and bytes written come from the vendor attributes.
    void ataUnderLvm()
    {
        Daemon daemon = startDaemon();
        const QString drive = kDrives + QStringLiteral("Crucial_MX500");
        const QVariantMap ata{{QStringLiteral("SmartSupported"), true},
                              {QStringLiteral("SmartEnabled"), true},
                              {QStringLiteral("SmartFailing"), false},
                              {QStringLiteral("SmartNumAttributesFailing"), 0},
                              {QStringLiteral("SmartPowerOnSeconds"), qulonglong(3600)}};
        daemon.fake->objects[drive] = {{kDrive, {{QStringLiteral("Model"), QStringLiteral("CT500MX500SSD1")}}}, {kAta, ata}};
        daemon.fake->ataAttributes[drive] = {
            {9, QStringLiteral("power-on-hours"), 0, 100, 100, 0, 3600000, 2},
            {231, QStringLiteral("ssd-life-left"), 0, 250, 250, 0, 12, 1},   // not a 100 scale: passed over
            {233, QStringLiteral("media-wearout-indicator"), 0, 96, 96, 0, 4, 1},
            {241, QStringLiteral("total-lbas-written"), 0, 100, 100, 0, 2'000'000, 3},
        };
        daemon.fake->block(QStringLiteral("sda2"), {{QStringLiteral("Drive"), path(drive)}});
        daemon.fake->objects[kBlocks + "sda2"].insert(QStringLiteral("org.freedesktop.UDisks2.PhysicalVolume"),
                                                      {{QStringLiteral("VolumeGroup"), path("/org/freedesktop/UDisks2/lvm/vg0")}});
        daemon.fake->objects["/org/freedesktop/UDisks2/lvm/vg0/home"] = {
            {QStringLiteral("org.freedesktop.UDisks2.LogicalVolume"),
             {{QStringLiteral("VolumeGroup"), path("/org/freedesktop/UDisks2/lvm/vg0")}}}};
        daemon.fake->block(QStringLiteral("dm_2d1"), {});
        daemon.fake->objects[kBlocks + "dm_2d1"].insert(QStringLiteral("org.freedesktop.UDisks2.Block.LVM2"),
                                                        {{QStringLiteral("LogicalVolume"), path("/org/freedesktop/UDisks2/lvm/vg0/home")}});
        daemon.fake->objects[kBlocks + "dm_2d1"].insert(kFilesystem, {{QStringLiteral("MountPoints"), mounts({"/"})}});

        auto m = monitor(connect(QStringLiteral("client")));
        refresh(*m);
        QVERIFY(m->available());
        QCOMPARE(m->volumeName(), QStringLiteral("/"));   // no label: the mount point
        QCOMPARE(m->wearPercent(), 4.0);
        QCOMPARE(m->bytesWritten(), 2'000'000.0 * 512);
        QCOMPARE(m->smartStatus(), QStringLiteral("Healthy"));
        QCOMPARE(m->usedPercent(), 60.0);

        daemon.fake->objects[drive][kAta][QStringLiteral("SmartNumAttributesFailing")] = 2;
        refresh(*m);
        QCOMPARE(m->smartStatus(), QStringLiteral("Warning: 2 attributes below threshold"));
        daemon.fake->objects[drive][kAta][QStringLiteral("SmartFailing")] = true;
        refresh(*m);
        QCOMPARE(m->smartStatus(), QStringLiteral("Failing"));
        QVERIFY(m->smartFailing());

        // SMART switched off: the verdict says so and the attributes are not asked for.
        const int calls = daemon.fake->attributeCalls;
        daemon.fake->objects[drive][kAta][QStringLiteral("SmartEnabled")] = false;
        refresh(*m);
        QCOMPARE(daemon.fake->attributeCalls, calls);
        QCOMPARE(m->smartStatus(), QStringLiteral("switched off on this drive"));
        QVERIFY(!m->wearMeasured());
        QVERIFY(!m->bytesWrittenMeasured());

        // A spinning disk wears no flash, whatever its attributes claim.
        daemon.fake->objects[drive][kAta][QStringLiteral("SmartEnabled")] = true;
        daemon.fake->objects[drive][kDrive][QStringLiteral("RotationRate")] = 7200;
        refresh(*m);
        QVERIFY(!m->wearMeasured());
        QVERIFY(m->bytesWrittenMeasured());
        stopDaemon(daemon);
    }

    // No daemon on the bus, a daemon that knows no drive under the home, or no bus at all:
    // every health figure says it is unavailable rather than showing a healthy guess.
    void unavailableWithoutTheDaemon()
    {
        auto none = monitor(connect(QStringLiteral("client")));
        refresh(*none);
        QVERIFY(!none->available());
        QCOMPARE(none->smartStatus(), DriveHealthMonitor::kUnavailable);
        QVERIFY(!none->wearMeasured());
        QVERIFY(!none->bytesWrittenMeasured());
        QCOMPARE(none->volumeName(), QStringLiteral("/home"));
        QCOMPARE(none->usedPercent(), 60.0);

        auto noBus = monitor(std::nullopt);
        refresh(*noBus);
        QVERIFY(!noBus->available());
        QCOMPARE(noBus->smartStatus(), DriveHealthMonitor::kUnavailable);

        Daemon daemon = startDaemon();
        daemon.fake->block(QStringLiteral("loop0"), {{QStringLiteral("IdLabel"), QStringLiteral("snap")}}, {"/snap/core"});
        daemon.fake->block(QStringLiteral("sda1"), {{QStringLiteral("IdLabel"), QStringLiteral("root")}}, {"/"});
        auto noDrive = monitor(connect(QStringLiteral("client")));
        refresh(*noDrive);
        QVERIFY(!noDrive->available());
        QCOMPARE(noDrive->volumeName(), QStringLiteral("root"));
        QCOMPARE(noDrive->smartStatus(), DriveHealthMonitor::kUnavailable);
        stopDaemon(daemon);
    }

    // The home file system's figures as df gives them, read from a real folder.
    void usageOfARealFolder()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const FileSystemStats stats(QFile::encodeName(dir.path()).toStdString());
        const std::optional<FileSystemUsage> usage = stats.read();
        QVERIFY(usage.has_value());
        QVERIFY(usage->usedBytes + usage->availableBytes <= usage->totalBytes);
        const QString mountPoint = QString::fromStdString(stats.mountPoint());
        QVERIFY(!mountPoint.isEmpty());
        const QString resolved = QFileInfo(dir.path()).canonicalFilePath();
        QVERIFY2(mountPoint == QLatin1String("/") || resolved == mountPoint || resolved.startsWith(mountPoint + '/'),
                 qPrintable(mountPoint + " does not hold " + resolved));
        QVERIFY(FileSystemStats("/no/such/folder").mountPoint().empty());

        QCOMPARE(DriveHealthMonitor::usedPercentOf({100, 0, 0}), 0.0);
        QCOMPARE(DriveHealthMonitor::usedPercentOf({100, 95, 0}), 100.0);   // reserved blocks do not count as room
        QCOMPARE(DriveHealthMonitor::usedPercentOf({100, 50, 49}), 51.0);
    }
};

QTEST_GUILESS_MAIN(TestDriveHealth)
#include "tst_DriveHealth.moc"
