#include "app/Preferences.h"
#include "platform/DesktopNotifier.h"
#include "support/FixtureTree.h"
#include "support/PrivateBus.h"
#include "telemetry/SystemStatsProvider.h"

#include <QDBusConnection>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// Stands in for the desktop's notification server on a private bus.
class FakeNotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call { quint32 replacesId; QString summary; QString body; QVariantMap hints; };
    QList<Call> calls;

public Q_SLOTS:
    uint Notify(const QString &, uint replacesId, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &hints, int)
    {
        calls.append({replacesId, summary, body, hints});
        return replacesId != 0 ? replacesId : 100 + static_cast<uint>(calls.size());
    }
};

class TestCpuAlert : public QObject
{
    Q_OBJECT

    PrivateBus bus;
    QString address;
    std::unique_ptr<FixtureTree> tree;
    std::unique_ptr<Preferences> prefs;

    void writeTicks(quint64 busy, quint64 idle)
    {
        tree->write("proc/stat", QStringLiteral("cpu  0 0 0 0 0 0 0 0 0 0\ncpu0 %1 0 0 %2 0 0 0 0 0 0\n").arg(busy).arg(idle).toUtf8());
    }

    quint64 busy = 0, idle = 0;

    // Two ticks whose interval reads `percent` busy.
    void runAt(SystemStatsProvider &stats, double percent)
    {
        writeTicks(busy, idle);
        stats.updateStats();
        continueAt(stats, percent);
    }
    // One more tick, whose interval since the last reads `percent` busy.
    void continueAt(SystemStatsProvider &stats, double percent)
    {
        busy += static_cast<quint64>(percent * 100);
        idle += static_cast<quint64>((100 - percent) * 100);
        writeTicks(busy, idle);
        stats.updateStats();
    }
    static bool chimes(const FakeNotificationServer::Call &call)
    {
        return call.hints.value(QStringLiteral("sound-name")).toString() == QStringLiteral("dialog-warning")
               && !call.hints.value(QStringLiteral("suppress-sound")).toBool();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(bus.start(), qPrintable(bus.error()));
        address = bus.address();
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        bus.stop();
    }
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        prefs = std::make_unique<Preferences>(new QSettings(tree->path("prefs.conf"), QSettings::IniFormat));
    }

    void alertFollowsThresholdAndReplacesItself()
    {
        QDBusConnection server = QDBusConnection::connectToBus(address, QStringLiteral("server"));
        QVERIFY(server.isConnected());
        FakeNotificationServer fake;
        QVERIFY(server.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake, QDBusConnection::ExportAllSlots));
        QVERIFY(server.registerService(QStringLiteral("org.freedesktop.Notifications")));

        TelemetrySources sources;
        sources.procRoot = tree->root("proc");
        sources.sysRoot = tree->root("sys");
        sources.homePath = tree->root("");
        SystemStatsProvider stats(*prefs, sources, SystemStatsProvider::Polling::Manual);
        stats.setNotificationBus(QDBusConnection::connectToBus(address, QStringLiteral("client")));
        QSignalSpy delivered(stats.notifier(), &DesktopNotifier::delivered);

        runAt(stats, 90);   // exactly the default threshold: no alert
        QCOMPARE(stats.cpuUsage(), 90.0);
        QTest::qWait(100);
        QVERIFY(fake.calls.isEmpty());

        runAt(stats, 90.5);   // the first tick of the pair measures an idle interval
        QTRY_COMPARE(fake.calls.size(), 1);
        QCOMPARE(fake.calls[0].summary, QStringLiteral("High CPU Usage Alert"));
        QCOMPARE(fake.calls[0].body, QStringLiteral("System CPU usage is at 90%. Consider checking intensive processes."));
        QCOMPARE(fake.calls[0].replacesId, 0u);
        QTRY_COMPARE(delivered.count(), 1);

        QVERIFY(chimes(fake.calls[0]));

        // The next alert replaces the bubble the server gave back.
        stats.updateStats();   // idle interval: no alert
        runAt(stats, 95);
        QTRY_COMPARE(fake.calls.size(), 2);
        QCOMPARE(fake.calls[1].replacesId, 101u);
        QVERIFY(chimes(fake.calls[1]));   // a new run above the threshold: heard again

        // Staying above it, each second's alert updates the bubble without a sound.
        continueAt(stats, 97);
        continueAt(stats, 99);
        QTRY_COMPARE(fake.calls.size(), 4);
        for (int i : {2, 3}) {
            QVERIFY(!chimes(fake.calls[i]));
            QVERIFY(fake.calls[i].hints.value(QStringLiteral("suppress-sound")).toBool());
            QCOMPARE(fake.calls[i].replacesId, 101u);
        }
        QCOMPARE(fake.calls[3].body, QStringLiteral("System CPU usage is at 99%. Consider checking intensive processes."));

        // The settings slider lowers the threshold.
        prefs->setCpuAlertThreshold(50);
        runAt(stats, 60);
        QTRY_COMPARE(fake.calls.size(), 5);
        QCOMPARE(fake.calls[4].body, QStringLiteral("System CPU usage is at 60%. Consider checking intensive processes."));
        QVERIFY(chimes(fake.calls[4]));
    }
};

QTEST_GUILESS_MAIN(TestCpuAlert)
#include "tst_CpuAlert.moc"
