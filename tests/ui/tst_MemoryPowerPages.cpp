#include "support/PrivateBus.h"
#include "support/QmlPageHarness.h"
#include "support/ScreenFixture.h"
#include "ui/Format.h"
#include "ui/QmlServices.h"
#include "ui/SymbolImageProvider.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

namespace {
constexpr quint64 kMiB = 1024;   // in the kB units of meminfo

void writeScript(const FixtureTree &tree, const QString &relative, const QByteArray &body)
{
    tree.write(relative, "#!/bin/sh\n" + body);
    QFile::setPermissions(tree.path(relative), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// 16 GiB with 8 available; the kernel's slab 512 MiB (256 unreclaimable), stacks 16 MiB,
// page tables 64 MiB; 8 GiB of swap with 2 in use.
QByteArray meminfo(quint64 availableMiB = 8192)
{
    return QStringLiteral("MemTotal: %1 kB\nMemAvailable: %2 kB\nUnevictable: 0 kB\nSlab: %3 kB\nSUnreclaim: %4 kB\n"
                          "KernelStack: %5 kB\nPageTables: %6 kB\nSwapTotal: %7 kB\nSwapFree: %8 kB\n")
        .arg(16384 * kMiB).arg(availableMiB * kMiB).arg(512 * kMiB).arg(256 * kMiB).arg(16 * kMiB)
        .arg(64 * kMiB).arg(8192 * kMiB).arg(6144 * kMiB).toUtf8();
}
}

// power-profiles-daemon, switching as asked and announcing it as the daemon does.
class FakeProfileDaemon : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "net.hadess.PowerProfiles")
    Q_PROPERTY(QString ActiveProfile READ activeProfile WRITE setActiveProfile)

public:
    explicit FakeProfileDaemon(QDBusConnection bus) : m_bus(bus) {}
    QString activeProfile() const { return m_profile; }
    void setActiveProfile(const QString &profile)
    {
        m_profile = profile;
        QDBusMessage changed = QDBusMessage::createSignal(QStringLiteral("/net/hadess/PowerProfiles"),
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("PropertiesChanged"));
        changed << QStringLiteral("net.hadess.PowerProfiles") << QVariantMap{{QStringLiteral("ActiveProfile"), m_profile}}
                << QStringList{};
        m_bus.send(changed);
    }

private:
    QDBusConnection m_bus;
    QString m_profile = QStringLiteral("balanced");
};

class TestMemoryPowerPages : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScreenFixture> machine;
    // Every warning QML prints while a test runs fails the test that caused it.
    std::unique_ptr<QmlPageHarness> ui;

    // The fixture's machine, its telemetry rebuilt with `adjust` applied to its sources
    // (the memory purge's helper, say), with the screens' engine over it.
    void use(const std::function<void(TelemetrySources &)> &adjust = {})
    {
        ui.reset();
        machine = std::make_unique<ScreenFixture>();
        machine->tree.write("proc/meminfo", meminfo());
        machine->tree.write("proc/vmstat", "pgpgin 4096\npgpgout 2048000\npswpin 10\npswpout 300\n");
        // Paging is read on every pass here, so two passes give a rate.
        TelemetrySources sources;
        sources.procRoot = machine->tree.root("proc");
        sources.sysRoot = machine->tree.root("sys");
        sources.homePath = machine->tree.root("");
        sources.pagingIntervalMs = 0;
        if (adjust)
            adjust(sources);
        machine->stats = std::make_unique<SystemStatsProvider>(*machine->preferences, sources,
                                                               SystemStatsProvider::Polling::Manual);
        machine->stats->setUniformSource([](double low, double) { return low; });
        machine->stats->updateStats();
        ui = std::make_unique<QmlPageHarness>(machine->services(), QSize(720, 700));
    }

    QQuickItem *load(const QString &view, const QVariantMap &properties = {}) { return ui->load(view, properties); }
    static QList<QObject *> all(QObject *root, const char *name) { return QmlPageHarness::all(root, name); }
    static QObject *child(QObject *root, const char *name) { return QmlPageHarness::child(root, name); }
    static QString property(QObject *root, const char *name, const char *property)
    {
        QObject *item = child(root, name);
        return item ? item->property(property).toString() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
    }
    static QString text(QObject *root, const char *name) { return property(root, name, "text"); }
    static QString valueOf(QObject *root, const char *name) { return property(root, name, "value"); }
    static QString captionOf(QObject *root, const char *name) { return property(root, name, "caption"); }
    static bool shown(QObject *root, const char *name)
    {
        QObject *item = child(root, name);
        return item && item->property("visible").toBool();
    }

    void writeBattery(const QByteArray &status, int percent, qint64 microwatts)
    {
        machine->tree.write("sys/class/power_supply/BAT0/type", "Battery\n");
        machine->tree.write("sys/class/power_supply/BAT0/status", status + "\n");
        machine->tree.write("sys/class/power_supply/BAT0/capacity", QByteArray::number(percent) + "\n");
        machine->tree.write("sys/class/power_supply/BAT0/power_now", QByteArray::number(microwatts) + "\n");
    }

private Q_SLOTS:
    void init() { use(); }
    void cleanup()
    {
        const QStringList warnings = QmlPageHarness::warnings();
        ui.reset();
        machine.reset();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    // The cards carry what /proc says, in the page's formats.
    void memoryCardsShowKernelFigures()
    {
        QQuickItem *page = load(QStringLiteral("MemoryPage"));
        QVERIFY(page);
        QCOMPARE(text(page, "pageHeading"), QStringLiteral("Memory Management & Optimization"));
        // In use 8 GiB, of it wired 336 MiB (the unreclaimable slab, stacks and page tables).
        QCOMPARE(valueOf(page, "appMemoryCard"), QStringLiteral("7.67 GB"));
        QCOMPARE(valueOf(page, "wiredCard"), QStringLiteral("0.33 GB"));
        QCOMPARE(valueOf(page, "compressedCard"), QStringLiteral("0.00 GB"));
        QCOMPARE(valueOf(page, "kernelCard"), QStringLiteral("0.58 GB"));   // 512 + 16 + 64 MiB
        QCOMPARE(captionOf(page, "kernelCard"), QStringLiteral("Kernel Tasks"));
        QCOMPARE(valueOf(page, "swapCard"), QStringLiteral("2.00 GB"));
        QCOMPARE(captionOf(page, "swapCard"), QStringLiteral("Swap Used of 8.0 GB"));
        QCOMPARE(text(page, "pressureValue"), QStringLiteral("50%"));

        // Paging totals are the kernel's since boot; the rate is per second of the interval.
        QCOMPARE(valueOf(page, "pagedInRow"), Format::size(4096.0 * 1024));
        QCOMPARE(valueOf(page, "pagedOutRow"), Format::size(2048000.0 * 1024));
        QCOMPARE(captionOf(page, "pageOutsCard"), QStringLiteral("Page-ins/outs"));
        QVERIFY2(valueOf(page, "pageOutsCard").endsWith(QStringLiteral(" KB/s")), qPrintable(valueOf(page, "pageOutsCard")));
        const qsizetype samples = machine->stats->memoryPressureHistory().size();
        QTest::qWait(20);
        machine->tree.write("proc/vmstat", "pgpgin 4096\npgpgout 3048000\npswpin 10\npswpout 300\n");
        machine->stats->updateStats();
        QVERIFY(machine->stats->pageOutRate() > 0);
        QCOMPARE(valueOf(page, "pageOutsCard"),
                 QStringLiteral("0.0 / ") + Format::kbPerSecond(machine->stats->pageOutRate()));

        // The pressure chart draws the service's history, not one of its own.
        QCOMPARE(child(page, "pressureChart")->property("values").toList().size(),
                 machine->stats->memoryPressureHistory().size());
        QCOMPARE(machine->stats->memoryPressureHistory().size(), samples + 1);

        // Counters gone: nothing is shown as a reading.
        machine->tree.remove("proc/vmstat");
        machine->stats->updateStats();
        QCOMPARE(valueOf(page, "pageOutsCard"), QStringLiteral("Not measured"));
        QVERIFY(!shown(page, "pagingCard"));
    }

    // "Optimizing..." holds until the purge reports back; then its measured figure shows.
    void purgeRunsUntilDone()
    {
        use([this](TelemetrySources &sources) {
            // The helper "frees" 2 GiB by rewriting meminfo, after a pause the page must sit through.
            writeScript(machine->tree, "bin/helper",
                        "sleep 0.3\nprintf '" + meminfo(10240).replace("\n", "\\n") + "' > '"
                            + machine->tree.path("proc/meminfo").toUtf8() + "'\n");
            sources.memoryPurgeHelper = machine->tree.path("bin/helper");
            sources.elevateMemoryPurge = false;
        });
        QQuickItem *page = load(QStringLiteral("MemoryPage"));
        QVERIFY(page);
        QObject *button = child(page, "purgeButton");
        QVERIFY(button);
        QCOMPARE(button->property("shownText").toString(), QStringLiteral("Purge RAM"));
        QSignalSpy finished(machine->stats.get(), &SystemStatsProvider::memoryOptimizationFinished);
        QVERIFY(QMetaObject::invokeMethod(button, "clicked"));
        QCOMPARE(button->property("shownText").toString(), QStringLiteral("Optimizing..."));
        QVERIFY(!button->property("enabled").toBool());
        QVERIFY(!shown(page, "purgeResult"));
        QTest::qWait(100);
        QCOMPARE(button->property("shownText").toString(), QStringLiteral("Optimizing..."));

        QVERIFY(finished.wait());
        QCOMPARE(button->property("shownText").toString(), QStringLiteral("Purge RAM"));
        QVERIFY(button->property("enabled").toBool());
        QCOMPARE(text(page, "purgeResult"), QStringLiteral("Successfully optimized memory! Freed 2.00 GB of inactive RAM."));
        QCOMPARE(valueOf(page, "appMemoryCard"), QStringLiteral("5.67 GB"));
    }

    // A purge that cannot run says why; no success is claimed.
    void purgeFailureShowsTheReason()
    {
        use([this](TelemetrySources &sources) {
            sources.memoryPurgeHelper = machine->tree.path("bin/nothing");
            sources.elevateMemoryPurge = false;
        });
        QQuickItem *page = load(QStringLiteral("MemoryPage"));
        QVERIFY(page);
        QSignalSpy finished(machine->stats.get(), &SystemStatsProvider::memoryOptimizationFinished);
        QVERIFY(QMetaObject::invokeMethod(child(page, "purgeButton"), "clicked"));
        QVERIFY(finished.wait());
        QVERIFY(!machine->stats->memoryOptimizationError().isEmpty());
        QCOMPARE(text(page, "purgeResult"), machine->stats->memoryOptimizationError());
        QVERIFY(!text(page, "purgeResult").contains(QStringLiteral("Successfully")));
    }

    // The largest resident sets of the sampled processes, largest first.
    void memoryProcessesByResidentSize()
    {
        QQuickItem *page = load(QStringLiteral("MemoryPage"));
        QVERIFY(page);
        QCOMPARE(all(page, "memoryProcessRow").size(), 0);
        for (int pid : {501, 502, 503})
            machine->writeProcess(pid, "p" + QByteArray::number(pid), 0, 1000);
        machine->processes->updateProcesses();
        machine->writeProcess(501, "small", 90, 1000);
        machine->writeProcess(502, "large", 50, 500000);
        machine->writeProcess(503, "middle", 10, 90000);
        QTest::qWait(20);
        machine->processes->updateProcesses();
        const QList<QObject *> rows = all(page, "memoryProcessRow");
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0]->property("processName").toString(), QStringLiteral("large"));
        QCOMPARE(rows[1]->property("processName").toString(), QStringLiteral("middle"));
        QCOMPARE(rows[0]->property("value").toString(),
                 Format::bytesAsGB(500000.0 * ProcessTableReader::pageSize(), 2));
    }

    // A discharging battery's draw is a measurement; with no battery and no counters the
    // draw is not shown and neither is an efficiency made from it.
    void powerFiguresAreMeasuredOrSaySo()
    {
        writeBattery("Discharging", 41, 9500000);
        machine->stats->updateStats();
        QQuickItem *page = load(QStringLiteral("PowerPage"));
        QVERIFY(page);
        QCOMPARE(text(page, "pageHeading"), QStringLiteral("Power & Efficiency Booster"));
        QCOMPARE(valueOf(page, "batteryCard"), QStringLiteral("41%"));
        QVERIFY(captionOf(page, "batteryCard").startsWith(QStringLiteral("Discharging")));
        QCOMPARE(valueOf(page, "powerDrawCard"), QStringLiteral("9.50 W"));
        QCOMPARE(captionOf(page, "powerDrawCard"), QStringLiteral("Measured at the battery"));
        QCOMPARE(property(page, "efficiencyCard", "title"), QStringLiteral("Efficiency:"));
        QCOMPARE(valueOf(page, "efficiencyCard"), Format::fixed(machine->stats->efficiencyRatio()) + QStringLiteral(" ops/W"));

        // Charging on mains: the battery's figure is not the draw, and nothing else measures it.
        machine->tree.write("sys/class/power_supply/BAT0/status", "Charging\n");
        machine->stats->updateStats();
        QVERIFY(captionOf(page, "batteryCard").startsWith(QStringLiteral("Charging")));
        QCOMPARE(valueOf(page, "powerDrawCard"), QStringLiteral("Not measured"));
        QCOMPARE(valueOf(page, "efficiencyCard"), QStringLiteral("n/a"));

        // RAPL counters readable: the package's draw, over the time between two readings.
        // (A fresh machine without a battery, whose telemetry finds the zone at once.)
        use([this](TelemetrySources &) {
            machine->tree.write("sys/class/powercap/intel-rapl:0/name", "package-0\n");
            machine->tree.write("sys/class/powercap/intel-rapl:0/max_energy_range_uj", "262143328850\n");
            machine->tree.write("sys/class/powercap/intel-rapl:0/energy_uj", "1000000\n");
        });
        QTest::qWait(50);
        machine->tree.write("sys/class/powercap/intel-rapl:0/energy_uj", "2000000\n");
        machine->stats->updateStats();
        page = load(QStringLiteral("PowerPage"));
        QVERIFY(page);
        QCOMPARE(captionOf(page, "powerDrawCard"), QStringLiteral("Processor package (RAPL counters)"));
        QVERIFY(machine->stats->powerDraw() > 0);
        QCOMPARE(valueOf(page, "powerDrawCard"), Format::watts(machine->stats->powerDraw()));

        // No battery at all: said plainly.
        QCOMPARE(valueOf(page, "batteryCard"), QStringLiteral("No battery"));
        QCOMPARE(captionOf(page, "batteryCard"), QStringLiteral("This machine runs on mains power"));
    }

    // No power profile daemon: the switch cannot be used and says why.
    void lowPowerToggleNeedsTheDaemon()
    {
        QQuickItem *page = load(QStringLiteral("PowerPage"));
        QVERIFY(page);
        QVERIFY(!machine->stats->lowPowerModeAvailable());
        QObject *toggle = child(page, "toggleSwitch");
        QVERIFY(toggle);
        QVERIFY(!toggle->property("enabled").toBool());
        QVERIFY(!toggle->property("checked").toBool());
        QVERIFY(text(page, "toggleCaption").contains(QStringLiteral("power-profiles-daemon")));
        QVERIFY(!shown(page, "lowPowerActive"));
    }

    // With the daemon there, the switch works and its on-state claims no invented hours.
    void lowPowerToggleSwitchesTheProfile()
    {
        PrivateBus bus;
        QVERIFY2(bus.start(), qPrintable(bus.error()));
        QDBusConnection server = QDBusConnection::connectToBus(bus.address(), QStringLiteral("pages-server"));
        FakeProfileDaemon daemon(server);
        QVERIFY(server.registerObject(QStringLiteral("/net/hadess/PowerProfiles"), &daemon, QDBusConnection::ExportAllProperties));
        QVERIFY(server.registerService(QStringLiteral("net.hadess.PowerProfiles")));
        use([&](TelemetrySources &sources) {
            sources.powerProfilesBus = QDBusConnection::connectToBus(bus.address(), QStringLiteral("pages-client"));
        });
        QSignalSpy available(machine->stats.get(), &SystemStatsProvider::lowPowerModeAvailableChanged);
        QVERIFY(machine->stats->lowPowerModeAvailable() || available.wait(5000));

        QQuickItem *page = load(QStringLiteral("PowerPage"));
        QVERIFY(page);
        QObject *toggle = child(page, "toggleSwitch");
        QVERIFY(toggle->property("enabled").toBool());
        QVERIFY(!shown(page, "lowPowerActive"));

        QSignalSpy switched(machine->stats.get(), &SystemStatsProvider::isLowPowerModeEnabledChanged);
        QVERIFY(QMetaObject::invokeMethod(child(page, "lowPowerToggle"), "toggled", Q_ARG(bool, true)));
        QVERIFY(switched.wait(5000));
        QCOMPARE(daemon.activeProfile(), QStringLiteral("power-saver"));
        QVERIFY(toggle->property("checked").toBool());
        QVERIFY(shown(page, "lowPowerActive"));
        QVERIFY(text(page, "lowPowerActive").startsWith(QStringLiteral("Low Power Mode Active.")));
        QVERIFY(!text(page, "lowPowerActive").contains(QStringLiteral("Hours")));

        // Back off: the profile from before returns.
        switched.clear();
        QVERIFY(QMetaObject::invokeMethod(child(page, "lowPowerToggle"), "toggled", Q_ARG(bool, false)));
        QVERIFY(switched.wait(5000));
        QCOMPARE(daemon.activeProfile(), QStringLiteral("balanced"));
        QVERIFY(!shown(page, "lowPowerActive"));

        ui.reset();
        machine.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("pages-client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("pages-server"));
    }

    // The wall of shame lists the heaviest names first, each marked as an estimate; the
    // badges show every preset with the active one marked.
    void wallOfShameAndPresetBadges()
    {
        QQuickItem *page = load(QStringLiteral("PowerPage"));
        QVERIFY(page);
        QCOMPARE(all(page, "shameRow").size(), 0);
        machine->writeProcess(601, "idle", 0);
        machine->writeProcess(602, "busy", 0);
        machine->processes->updateProcesses();
        machine->writeProcess(601, "idle", 1);
        machine->writeProcess(602, "busy", 150);
        QTest::qWait(20);
        machine->processes->updateProcesses();
        const QList<QObject *> rows = all(page, "shameRow");
        QVERIFY(rows.size() >= 1);
        QCOMPARE(rows[0]->property("title").toString(), QStringLiteral("1. busy"));
        for (QObject *row : rows)
            QVERIFY(row->property("value").toString().startsWith(QStringLiteral("≈ ")));

        QList<QObject *> badges;
        for (QObject *b : all(page, "badgeTitle"))
            badges.append(b);
        QCOMPARE(badges.size(), 7);
        int active = 0;
        for (QObject *halo : all(page, "badgeHalo"))
            active += halo->property("visible").toBool() ? 1 : 0;
        QCOMPARE(active, 1);
    }

    // Both sidebar titles of the memory page and the power title open these pages.
    void dashboardOpensThePages()
    {
        QQuickItem *dashboard = load(QStringLiteral("SettingsView"), {{"initialTab", "Memory"}});
        QVERIFY(dashboard);
        QCOMPARE(text(dashboard, "pageHeading"), QStringLiteral("Memory Management & Optimization"));
        for (const auto &[title, heading] : {std::pair{"VRAM Shield", "Memory Management & Optimization"},
                                             std::pair{"Power", "Power & Efficiency Booster"}}) {
            dashboard->setProperty("selectedSidebarItem", QString::fromUtf8(title));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCOMPARE(text(dashboard, "pageHeading"), QString::fromUtf8(heading));
        }
    }
};

QTEST_MAIN(TestMemoryPowerPages)
#include "tst_MemoryPowerPages.moc"
