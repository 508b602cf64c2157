#include "app/WorkspacePersona.h"
#include "support/ProcNetTcp.h"
#include "support/QmlPageHarness.h"
#include "support/ScreenFixture.h"
#include "ui/PersonaCatalog.h"
#include "ui/QmlServices.h"
#include "ui/SymbolImageProvider.h"

#include <QProcess>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickPaintedItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

#include <unistd.h>

namespace {
const QString kApprox = QStringLiteral("\u2248 ");
}

// The dashboard's sensors, fans and network pages over the real services and a fixture
// machine: which figures are marked as estimates, the fan override where it can and
// cannot act, freezing a process and ending a connection's owner.
class TestSensorPages : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScreenFixture> machine;
    // Every warning QML prints while a test runs fails the test that caused it.
    std::unique_ptr<QmlPageHarness> ui;
    std::vector<std::unique_ptr<QProcess>> sleepers;

    QQuickItem *load(const QString &view, const QVariantMap &properties = {}) { return ui->load(view, properties); }
    static QList<QObject *> all(QObject *root, const char *name) { return QmlPageHarness::all(root, name); }
    static QObject *child(QObject *root, const char *name) { return QmlPageHarness::child(root, name); }
    static QString text(QObject *root, const char *name) { return QmlPageHarness::text(root, name); }
    static bool shown(QObject *root, const char *name)
    {
        QObject *item = child(root, name);
        return item && item->property("visible").toBool();
    }

    void use(std::unique_ptr<ScreenFixture> fixture)
    {
        ui.reset();
        machine = std::move(fixture);
        ui = std::make_unique<QmlPageHarness>(machine->services(), QSize(900, 1400));
    }
    // The fixture machine with more hardware, found by a telemetry service made after it
    // was written (sensors are looked for at start-up and once a minute).
    static std::unique_ptr<ScreenFixture> machineWith(const std::function<void(FixtureTree &)> &hardware, bool withFan = true)
    {
        auto fixture = std::make_unique<ScreenFixture>(withFan);
        hardware(fixture->tree);
        TelemetrySources sources;
        sources.procRoot = fixture->tree.root("proc");
        sources.sysRoot = fixture->tree.root("sys");
        sources.homePath = fixture->tree.root("");
        fixture->stats = std::make_unique<SystemStatsProvider>(*fixture->preferences, sources,
                                                               SystemStatsProvider::Polling::Manual);
        fixture->stats->setUniformSource([](double low, double) { return low; });
        fixture->stats->updateStats();
        return fixture;
    }
    // A process that may be frozen or killed without harm.
    int startSleeper()
    {
        auto sleeper = std::make_unique<QProcess>();
        sleeper->start(QStringLiteral("sleep"), {QStringLiteral("60")});
        if (!sleeper->waitForStarted())
            return -1;
        const int pid = int(sleeper->processId());
        sleepers.push_back(std::move(sleeper));
        return pid;
    }

private Q_SLOTS:
    void init() { use(std::make_unique<ScreenFixture>()); }
    void cleanup()
    {
        const QStringList warnings = QmlPageHarness::warnings();
        ui.reset();
        machine.reset();
        for (auto &sleeper : sleepers) {
            sleeper->kill();
            sleeper->waitForFinished();
        }
        sleepers.clear();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    // The gamer's sidebar names the fans page "Fans & Cooling"; the dashboard opened there
    // shows the fans page, as "Fans" does.
    void gamerFansAndCoolingOpensTheFansPage()
    {
        const WorkspacePersona gamer(WorkspacePersona::Gamer);
        QStringList titles;
        for (const SidebarEntry &entry : gamer.systemMonitorItems())
            titles << entry.title;
        QVERIFY(titles.contains(QStringLiteral("Fans & Cooling")));
        machine->preferences->setWorkspacePersona(gamer.rawValue());

        QQuickItem *dashboard = load(QStringLiteral("SettingsView"), {{"initialTab", "Fans & Cooling"}});
        QVERIFY(dashboard);
        QObject *loader = child(dashboard, "pageContent");
        QVERIFY(loader);
        QTRY_VERIFY(loader->property("item").value<QObject *>());
        auto *page = loader->property("item").value<QObject *>();
        QCOMPARE(page->property("heading").toString(), QStringLiteral("Thermal Management & Fan Controller"));
        QCOMPARE(page->property("tipsTitle").toString(), QStringLiteral("Active Thermal Optimization Tips"));
        QVERIFY(child(page, "turboToggle"));
        QVERIFY(!child(dashboard, "notAvailableText"));
        QCOMPARE(PersonaCatalog::pageSource(QStringLiteral("Fans")), PersonaCatalog::pageSource(QStringLiteral("Fans & Cooling")));
        for (const char *title : {"Sensors", "Network"})
            QVERIFY2(!PersonaCatalog::pageSource(QLatin1String(title)).isEmpty(), title);
    }

    // No writable PWM output: the switch is off limits and says why, and asking the
    // service anyway changes nothing on the page.
    void fanOverrideIsDisabledWhereNothingCanDriveTheFans()
    {
        QVERIFY(!machine->stats->turboCoolingAvailable());
        QQuickItem *page = load(QStringLiteral("FansPage"));
        QVERIFY(page);
        QObject *toggle = child(page, "turboToggle");
        QVERIFY(toggle);
        QCOMPARE(toggle->property("available").toBool(), false);
        QCOMPARE(child(toggle, "toggleSwitch")->property("enabled").toBool(), false);
        QCOMPARE(text(toggle, "toggleCaption"), toggle->property("unavailableText").toString());
        QVERIFY(toggle->property("unavailableText").toString().contains(QStringLiteral("PWM")));
        QCOMPARE(toggle->property("text").toString(), QStringLiteral("Manual Turbofan Override Mode"));
        QCOMPARE(toggle->property("symbol").toString(), QStringLiteral("wind"));

        QMetaObject::invokeMethod(toggle, "toggled", Q_ARG(bool, true));
        QVERIFY(!machine->stats->forceTurboCooling());
        QCOMPARE(toggle->property("checked").toBool(), false);
        QCOMPARE(text(page, "activeCurveText"), QStringLiteral("System Auto"));
        QVERIFY(!shown(page, "turboActiveText"));
    }

    // A writable output: the switch drives the fans to full duty and back, and the page
    // says which curve is in charge.
    void fanOverrideDrivesTheFansWhereItCan()
    {
        use(machineWith([](FixtureTree &tree) {
            tree.write("sys/class/hwmon/hwmon1/pwm1", "120\n");
            tree.write("sys/class/hwmon/hwmon1/pwm1_enable", "2\n");
        }));
        QVERIFY(machine->stats->turboCoolingAvailable());
        QQuickItem *page = load(QStringLiteral("FansPage"));
        QVERIFY(page);
        QObject *toggle = child(page, "turboToggle");
        QCOMPARE(toggle->property("available").toBool(), true);
        QMetaObject::invokeMethod(toggle, "toggled", Q_ARG(bool, true));
        QVERIFY(machine->stats->forceTurboCooling());
        QCOMPARE(toggle->property("checked").toBool(), true);
        QCOMPARE(text(page, "activeCurveText"), QStringLiteral("TURBO OVERRIDE"));
        QVERIFY(shown(page, "turboActiveText"));
        QVERIFY(text(page, "turboActiveText").startsWith(QStringLiteral("Preemptive cooling active.")));
        QFile duty(machine->tree.path("sys/class/hwmon/hwmon1/pwm1"));
        QVERIFY(duty.open(QIODevice::ReadOnly));
        QCOMPARE(duty.readAll().trimmed(), QByteArray("255"));

        QMetaObject::invokeMethod(toggle, "toggled", Q_ARG(bool, false));
        machine->sample({0, 0, 0, 0});
        QCOMPARE(text(page, "activeCurveText"), QStringLiteral("System Auto"));
        QVERIFY(!shown(page, "turboActiveText"));
        duty.seek(0);
        QCOMPARE(duty.readAll().trimmed(), QByteArray("120"));
    }

    // The fan figure carries "≈" only when no tachometer gave it, and says there is none.
    void fanSpeedIsMarkedOnlyWhenEstimated()
    {
        QQuickItem *page = load(QStringLiteral("FansPage"));
        QVERIFY(page);
        QCOMPARE(text(page, "fanSpeedText"), QStringLiteral("2150 RPM"));
        QVERIFY(!shown(page, "fanSensorNote"));

        use(std::make_unique<ScreenFixture>(false));
        page = load(QStringLiteral("FansPage"));
        QVERIFY(page);
        machine->sample({10, 10, 10, 10});
        QVERIFY(!machine->stats->fanRPMsMeasured());
        // 61.7 °C on the curve: (61.7 - 55) * 120 + 1200.
        QCOMPARE(text(page, "fanSpeedText"), kApprox + QStringLiteral("2004 RPM"));
        QVERIFY(shown(page, "fanSensorNote"));
        QVERIFY(text(page, "fanSensorNote").startsWith(QStringLiteral("no fan sensor")));
        QObject *chart = child(page, "fanChart");
        QVERIFY(chart);
        QVERIFY(chart->property("label").toString().startsWith(kApprox));
        QCOMPARE(chart->property("values").value<QList<double>>(), machine->stats->fanHistory());
        QCOMPARE(chart->property("values2").value<QList<double>>(), machine->stats->temperatureHistory());
        // RPM and °C each get their own scale, so the temperature line is not flattened
        // under thousands of RPM.
        const QList<double> fans = machine->stats->fanHistory();
        const QList<double> temps = machine->stats->temperatureHistory();
        QCOMPARE(chart->property("scaleTop").toDouble(), *std::max_element(fans.begin(), fans.end()) * 1.1);
        QCOMPARE(chart->property("scaleTop2").toDouble(), *std::max_element(temps.begin(), temps.end()) * 1.1);
        QCOMPARE(text(chart, "chartTop2"), QStringLiteral("68°C"));
    }

    // Without GPU and drive sensors both temperatures are marked; with them, neither is.
    void temperaturesAreMarkedOnlyWhenEstimated()
    {
        QQuickItem *page = load(QStringLiteral("SensorsPage"));
        QVERIFY(page);
        QVERIFY(text(page, "gpuTempValue").startsWith(kApprox));
        QVERIFY(text(page, "ssdTempValue").startsWith(kApprox));
        QCOMPARE(text(page, "socTempValue"), QStringLiteral("61°C"));

        use(machineWith([](FixtureTree &tree) {
            tree.write("sys/class/hwmon/hwmon2/name", "amdgpu\n");
            tree.write("sys/class/hwmon/hwmon2/temp1_label", "edge\n");
            tree.write("sys/class/hwmon/hwmon2/temp1_input", "52000\n");
            tree.write("sys/class/hwmon/hwmon3/name", "nvme\n");
            tree.write("sys/class/hwmon/hwmon3/temp1_label", "Composite\n");
            tree.write("sys/class/hwmon/hwmon3/temp1_input", "44850\n");
        }));
        page = load(QStringLiteral("SensorsPage"));
        QVERIFY(page);
        QCOMPARE(text(page, "gpuTempValue"), QStringLiteral("52°C"));
        QCOMPARE(text(page, "ssdTempValue"), QStringLiteral("44°C"));
        QVERIFY(!text(page, "socTempValue").contains(kApprox));
        // A battery-less desktop has no power reading: no ratio is made up from the load.
        QCOMPARE(text(page, "efficiencyValue"), QStringLiteral("n/a"));
        QCOMPARE(text(page, "powerValue"), QStringLiteral("n/a"));
    }

    // The outlook follows load and temperature; the throttling case claims no timing.
    void outlookFollowsLoadAndTemperature()
    {
        QQuickItem *page = load(QStringLiteral("SensorsPage"));
        QVERIFY(page);
        machine->sample({10, 10, 10, 10});
        QCOMPARE(text(page, "predictionText"), QStringLiteral("Thermals optimal. Passive cooling sufficient."));
        machine->sample({60, 60, 60, 60});
        QCOMPARE(text(page, "predictionText"), QStringLiteral("Temperature stable, but expected to rise. Monitoring closely."));
        machine->tree.write("sys/class/hwmon/hwmon0/temp1_input", "82000\n");
        machine->sample({90, 90, 90, 90});
        const QString line = text(page, "predictionText");
        QVERIFY2(line.startsWith(QStringLiteral("Thermal throttling likely")), qPrintable(line));
        QVERIFY(!line.contains(QStringLiteral("4 minutes")));
        QVERIFY(line.contains(QStringLiteral("not a measured forecast")));

        QObject *chart = child(page, "cpuHistoryChart");
        QVERIFY(chart);
        QCOMPARE(chart->property("values").value<QList<double>>(), machine->stats->cpuHistory());
        // The plot is painted opaque, in the colour its card shows on the page.
        auto *plot = qobject_cast<QQuickPaintedItem *>(child(chart, "chartPlot"));
        QVERIFY(plot && plot->opaquePainting());
        const QColor under = QColor::fromString(machine->theme->contentBackground());
        const QColor card = QColor::fromString(machine->theme->cardBackground());
        const auto shown = [&](float below, float above) { return qRound((below + (above - below) * card.alphaF()) * 255) / 255.0; };
        const QColor fill = plot->fillColor();
        QCOMPARE(fill.alpha(), 255);
        QVERIFY(qAbs(fill.redF() - shown(under.redF(), card.redF())) < 0.01);
        QVERIFY(qAbs(fill.blueF() - shown(under.blueF(), card.blueF())) < 0.01);
    }

    // The snowflake of a top-process row freezes that process through the process table,
    // and the play button thaws it.
    void freezeButtonTogglesSuspend()
    {
        const int pid = startSleeper();
        QVERIFY(pid > 0);
        machine->writeProcess(pid, "sleep", 0, 100);
        machine->processes->updateProcesses();
        machine->writeProcess(pid, "sleep", 100, 100);
        QTest::qWait(20);
        machine->processes->updateProcesses();

        QQuickItem *page = load(QStringLiteral("SensorsPage"));
        QVERIFY(page);
        QObject *row = nullptr;
        for (QObject *candidate : all(page, "processRow"))
            if (candidate->property("processName").toString() == QStringLiteral("sleep"))
                row = candidate;
        QVERIFY(row);
        QObject *freeze = child(row, "freezeButton");
        QVERIFY(freeze && freeze->property("visible").toBool());
        QMetaObject::invokeMethod(freeze, "clicked");
        QVERIFY(machine->processes->suspendedPids().contains(pid));
        machine->processes->updateProcesses();
        QCOMPARE(text(row, "processValue"), QStringLiteral("FROZEN"));
        QMetaObject::invokeMethod(child(row, "freezeButton"), "clicked");
        QVERIFY(!machine->processes->suspendedPids().contains(pid));
    }

    // When the ranking changes the rows take their new places at once, before any frame
    // is prepared: laid out during the frame instead, the software renderer would draw a
    // second one for them.
    void processRowsTakeTheirPlacesWhenTheRankingChanges()
    {
        const int first = startSleeper();
        const int second = startSleeper();
        QVERIFY(first > 0 && second > 0);
        const auto sample = [this, first, second](quint64 firstTicks, quint64 secondTicks) {
            machine->writeProcess(first, "first", firstTicks, 100);
            machine->writeProcess(second, "second", secondTicks, 100);
            QTest::qWait(20);
            machine->processes->updateProcesses();
        };
        sample(0, 0);
        sample(200, 100);
        QQuickItem *page = load(QStringLiteral("SensorsPage"));
        QVERIFY(page);
        const auto rowOf = [&](const QString &name) -> QQuickItem * {
            for (QObject *candidate : all(page, "processRow"))
                if (candidate->property("processName").toString() == name)
                    return qobject_cast<QQuickItem *>(candidate);
            return nullptr;
        };
        QQuickItem *firstRow = rowOf(QStringLiteral("first"));
        QQuickItem *secondRow = rowOf(QStringLiteral("second"));
        QVERIFY(firstRow && secondRow);
        QVERIFY(firstRow->y() < secondRow->y());

        sample(210, 400);   // the second overtakes the first
        QCOMPARE(rowOf(QStringLiteral("second")), secondRow);   // the same row, moved
        QVERIFY2(secondRow->y() < firstRow->y(), qPrintable(QStringLiteral("%1 vs %2").arg(secondRow->y()).arg(firstRow->y())));
    }

    // Rates in KB/s, the connection list with its owners, and a kill that happens only
    // once the user confirms it, naming the process.
    void networkPageListsConnectionsAndKillsOnlyAfterConfirming()
    {
        QProcess *sleeper = nullptr;
        const int pid = startSleeper();
        QVERIFY(pid > 0);
        sleeper = sleepers.back().get();
        const unsigned long inode = 88001;
        machine->tree.write("proc/net/tcp", ProcNetTcp::kHeader
                                                + ProcNetTcp::line(0, ProcNetTcp::endpoint("192.168.1.5", 50000),
                                                                   ProcNetTcp::endpoint("93.184.216.34", 443), "01", inode));
        machine->tree.write(QStringLiteral("proc/%1/comm").arg(pid), "sleep\n");
        machine->tree.mkdir(QStringLiteral("proc/%1/fd").arg(pid));
        const QByteArray link = "socket:[" + QByteArray::number(qulonglong(inode)) + ']';
        QVERIFY(::symlink(link.constData(), QFile::encodeName(machine->tree.path(QStringLiteral("proc/%1/fd/3").arg(pid))).constData()) == 0);

        QQuickItem *page = load(QStringLiteral("NetworkPage"));
        QVERIFY(page);
        QSignalSpy scanned(machine->stats.get(), &SystemStatsProvider::connectionsScanned);
        machine->tree.write("proc/net/dev", ScreenFixture::netDev(122880, 3215));
        machine->sample({0, 0, 0, 0});
        QVERIFY(scanned.wait(5000));

        QCOMPARE(child(page, "downloadCard")->property("value").toString(), QStringLiteral("120.0 KB/s"));
        QCOMPARE(child(page, "uploadCard")->property("value").toString(), QStringLiteral("3.1 KB/s"));
        QCOMPARE(child(page, "trafficChart")->property("values").value<QList<double>>(), machine->stats->downloadHistory());

        // An earlier scan may still answer with the placeholder row; wait for this one.
        QTRY_COMPARE_WITH_TIMEOUT(text(page, "connectionProcess"), QStringLiteral("sleep  PID: %1").arg(pid), 5000);
        QCOMPARE(all(page, "connectionRow").size(), 1);
        QObject *row = child(page, "connectionRow");
        QCOMPARE(text(row, "connectionStatus"), QStringLiteral("ESTABLISHED"));
        QObject *kill = child(row, "killButton");
        QVERIFY(kill && kill->property("visible").toBool());
        QCOMPARE(kill->property("help").toString(), QStringLiteral("Instantly terminate process (kill -9) to drop this connection"));

        QObject *dialog = child(page, "confirmKill");
        QVERIFY(dialog);
        QMetaObject::invokeMethod(kill, "clicked");
        QTRY_VERIFY(dialog->property("opened").toBool());
        QVERIFY(dialog->property("question").toString().contains(QStringLiteral("sleep (PID %1)").arg(pid)));
        // Shown on screen, in the window's overlay, not merely opened.
        QObject *question = child(ui->window->contentItem(), "confirmKillQuestion");
        QVERIFY(question);
        QTRY_VERIFY(question->property("visible").toBool());
        QCOMPARE(question->property("text").toString(), dialog->property("question").toString());
        QMetaObject::invokeMethod(dialog, "reject");
        QTRY_VERIFY(!dialog->property("opened").toBool());
        QVERIFY(!sleeper->waitForFinished(300));   // still running

        // From the keyboard: the focused button opens the same question on Enter.
        ui->window->show();
        auto *killItem = qobject_cast<QQuickItem *>(kill);
        killItem->forceActiveFocus();
        QTRY_VERIFY(killItem->hasActiveFocus());
        QTest::keyClick(ui->window.get(), Qt::Key_Return);
        QTRY_VERIFY(dialog->property("opened").toBool());
        QMetaObject::invokeMethod(dialog, "accept");
        QVERIFY(sleeper->waitForFinished(5000));
        QCOMPARE(sleeper->exitStatus(), QProcess::CrashExit);
    }

    // With nothing established the list holds the placeholder row, which has no process
    // to end.
    void placeholderRowOffersNoKill()
    {
        QQuickItem *page = load(QStringLiteral("NetworkPage"));
        QVERIFY(page);
        machine->sample({0, 0, 0, 0});
        QTRY_COMPARE_WITH_TIMEOUT(text(page, "connectionStatus"), QStringLiteral("IDLE"), 5000);
        QCOMPARE(all(page, "connectionRow").size(), 1);
        QObject *row = child(page, "connectionRow");
        QCOMPARE(text(row, "connectionProcess"), QStringLiteral("System"));
        QVERIFY(!child(row, "killButton")->property("visible").toBool());
    }
};

QTEST_MAIN(TestSensorPages)
#include "tst_SensorPages.moc"
