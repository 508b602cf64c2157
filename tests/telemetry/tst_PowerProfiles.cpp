#include "app/Preferences.h"
#include "platform/PowerProfilesClient.h"
#include "support/FixtureTree.h"
#include "support/PrivateBus.h"
#include "telemetry/SystemStatsProvider.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// power-profiles-daemon under its original name: ActiveProfile is writable and every
// change is announced the way the daemon announces it.
class FakeHadessDaemon : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "net.hadess.PowerProfiles")
    Q_PROPERTY(QString ActiveProfile READ activeProfile WRITE setActiveProfile)

public:
    explicit FakeHadessDaemon(QDBusConnection bus) : m_bus(bus) {}
    QString activeProfile() const { return m_profile; }
    void setActiveProfile(const QString &profile)
    {
        m_profile = profile;
        writes.append(profile);
        announce();
    }
    // Someone else (the desktop's own menu) switches the profile.
    void switchExternally(const QString &profile)
    {
        m_profile = profile;
        announce();
    }
    QStringList writes;

private:
    void announce()
    {
        QDBusMessage changed = QDBusMessage::createSignal(QStringLiteral("/net/hadess/PowerProfiles"),
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("PropertiesChanged"));
        changed << QStringLiteral("net.hadess.PowerProfiles") << QVariantMap{{QStringLiteral("ActiveProfile"), m_profile}}
                << QStringList{};
        m_bus.send(changed);
    }
    QDBusConnection m_bus;
    QString m_profile = QStringLiteral("performance");
};

// The newer name, with a profile that cannot be changed (as when polkit says no).
class FakeLockedUPowerDaemon : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UPower.PowerProfiles")
    Q_PROPERTY(QString ActiveProfile READ activeProfile)

public:
    QString activeProfile() const { return QStringLiteral("balanced"); }
};

class TestPowerProfiles : public QObject
{
    Q_OBJECT

    PrivateBus bus;
    QString address;
    int connections = 0;
    std::unique_ptr<FixtureTree> tree;
    std::unique_ptr<Preferences> prefs;

    QDBusConnection connect(const QString &role)
    {
        return QDBusConnection::connectToBus(address, QStringLiteral("%1-%2").arg(role).arg(++connections));
    }

    std::unique_ptr<SystemStatsProvider> makeProvider(const std::optional<QDBusConnection> &profiles)
    {
        TelemetrySources sources;
        sources.procRoot = tree->root("proc");
        sources.sysRoot = tree->root("sys");
        sources.homePath = tree->root("");
        sources.powerProfilesBus = profiles;
        return std::make_unique<SystemStatsProvider>(*prefs, sources, SystemStatsProvider::Polling::Manual);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(bus.start(), qPrintable(bus.error()));
        address = bus.address();
    }
    void cleanupTestCase()
    {
        bus.stop();
    }
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        prefs = std::make_unique<Preferences>(new QSettings(tree->path("prefs.conf"), QSettings::IniFormat));
    }
    void cleanup()
    {
        prefs.reset();
        tree.reset();
    }

    void switchesToPowerSaverAndBack()
    {
        QDBusConnection server = connect(QStringLiteral("server"));
        FakeHadessDaemon daemon(server);
        QVERIFY(server.registerObject(QStringLiteral("/net/hadess/PowerProfiles"), &daemon, QDBusConnection::ExportAllProperties));
        QVERIFY(server.registerService(QStringLiteral("net.hadess.PowerProfiles")));

        auto stats = makeProvider(connect(QStringLiteral("client")));
        QSignalSpy available(stats.get(), &SystemStatsProvider::lowPowerModeAvailableChanged);
        QVERIFY(available.wait(5000));
        QVERIFY(stats->lowPowerModeAvailable());
        QVERIFY(!stats->isLowPowerModeEnabled());

        QSignalSpy toggled(stats.get(), &SystemStatsProvider::isLowPowerModeEnabledChanged);
        stats->setIsLowPowerModeEnabled(true);
        QVERIFY(!stats->isLowPowerModeEnabled());   // only once the daemon has switched
        QVERIFY(toggled.wait(5000));
        QVERIFY(stats->isLowPowerModeEnabled());
        QCOMPARE(daemon.activeProfile(), QStringLiteral("power-saver"));

        // Figures are published as measured: with low power on, a 50 % load reads 50.
        tree->write("proc/stat", "cpu0 0 0 0 100 0 0 0 0 0 0\n");
        stats->updateStats();
        tree->write("proc/stat", "cpu0 50 0 0 150 0 0 0 0 0 0\n");
        stats->updateStats();
        QCOMPARE(stats->cpuUsage(), 50.0);
        QCOMPARE(stats->cpuHistory().last(), 50.0);

        // The loaded-model estimates keep their low-power row.
        stats->setLoadedModelSizesSource([] { return QList<qint64>{1 << 30}; });
        stats->setUniformSource([](double low, double) { return low; });
        stats->updateStats();
        QCOMPARE(stats->aneUsage(), 15.0);
        QCOMPARE(stats->anePowerDraw(), 0.7);
        QCOMPARE(stats->gpuUsage(), 10.0);

        toggled.clear();
        stats->setIsLowPowerModeEnabled(false);
        QVERIFY(toggled.wait(5000));
        QVERIFY(!stats->isLowPowerModeEnabled());
        QCOMPARE(daemon.activeProfile(), QStringLiteral("performance"));   // what it was before
        QCOMPARE(daemon.writes, (QStringList{QStringLiteral("power-saver"), QStringLiteral("performance")}));

        // A switch made elsewhere shows up here too.
        toggled.clear();
        daemon.switchExternally(QStringLiteral("power-saver"));
        QVERIFY(toggled.wait(5000));
        QVERIFY(stats->isLowPowerModeEnabled());

        server.unregisterService(QStringLiteral("net.hadess.PowerProfiles"));
        server.unregisterObject(QStringLiteral("/net/hadess/PowerProfiles"));
    }

    void refusedSwitchSnapsBack()
    {
        QDBusConnection server = connect(QStringLiteral("server"));
        FakeLockedUPowerDaemon daemon;
        QVERIFY(server.registerObject(QStringLiteral("/org/freedesktop/UPower/PowerProfiles"), &daemon,
                                      QDBusConnection::ExportAllProperties));
        QVERIFY(server.registerService(QStringLiteral("org.freedesktop.UPower.PowerProfiles")));

        auto stats = makeProvider(connect(QStringLiteral("client")));
        QSignalSpy available(stats.get(), &SystemStatsProvider::lowPowerModeAvailableChanged);
        QVERIFY(available.wait(5000));   // found under the second name
        QVERIFY(stats->lowPowerModeAvailable());

        QSignalSpy failed(stats.get(), &SystemStatsProvider::lowPowerModeFailed);
        QSignalSpy toggled(stats.get(), &SystemStatsProvider::isLowPowerModeEnabledChanged);
        stats->setIsLowPowerModeEnabled(true);
        QVERIFY(failed.wait(5000));
        QVERIFY(!stats->isLowPowerModeEnabled());
        QVERIFY(toggled.count() >= 1);

        server.unregisterService(QStringLiteral("org.freedesktop.UPower.PowerProfiles"));
    }

    void noDaemonMeansNoToggle()
    {
        auto stats = makeProvider(connect(QStringLiteral("client")));
        PowerProfilesClient client(connect(QStringLiteral("probe")));
        QSignalSpy probed(&client, &PowerProfilesClient::probed);
        client.probe();
        QVERIFY(probed.wait(5000));
        QCOMPARE(probed.first().first().toBool(), false);

        QSignalSpy failed(stats.get(), &SystemStatsProvider::lowPowerModeFailed);
        QTRY_VERIFY(!stats->lowPowerModeAvailable());
        stats->setIsLowPowerModeEnabled(true);
        QCOMPARE(failed.count(), 1);
        QVERIFY(!stats->isLowPowerModeEnabled());

        // Without a bus at all (what tests and headless sessions get) the same.
        auto offline = makeProvider(std::nullopt);
        offline->setIsLowPowerModeEnabled(true);
        QVERIFY(!offline->isLowPowerModeEnabled());
        QVERIFY(!offline->lowPowerModeAvailable());
    }
};

QTEST_GUILESS_MAIN(TestPowerProfiles)
#include "tst_PowerProfiles.moc"
