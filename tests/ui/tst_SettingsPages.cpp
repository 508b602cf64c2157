#include "support/FakeHttpServer.h"
#include "support/QmlPageHarness.h"
#include "support/ScreenFixture.h"
#include "support/AutoUpdater.h"
#include "support/LaunchAtLoginManager.h"
#include "ui/Clipboard.h"
#include "ui/DVRTimeline.h"

#include <QClipboard>
#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>

// The dashboard's settings, history and system-information pages, and the tour the
// dashboard opens, over the real services of a fixture machine.
class TestSettingsPages : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScreenFixture> machine;
    std::unique_ptr<FakeHttpServer> updateServer;
    std::unique_ptr<AutoUpdater> updater;
    std::unique_ptr<LaunchAtLoginManager> launchAtLogin;
    std::unique_ptr<QmlPageHarness> ui;

    QQuickItem *load(const QString &view, const QVariantMap &properties = {}) { return ui->load(view, properties); }
    static QObject *child(QObject *root, const char *name) { return QmlPageHarness::child(root, name); }
    static QString text(QObject *root, const char *name) { return QmlPageHarness::text(root, name); }

    // Samples the fixture's process table: `busy` maps a pid to the ticks it used since the
    // last call, which the table reads as its CPU share.
    void sampleProcesses(const QList<std::pair<int, int>> &busy)
    {
        for (const auto &[pid, ticks] : busy) {
            m_ticks[pid] += ticks;
            machine->writeProcess(pid, "p" + QByteArray::number(pid), m_ticks[pid], 1000);
        }
        machine->processes->updateProcesses();
    }
    QHash<int, quint64> m_ticks;

private Q_SLOTS:
    void init()
    {
        machine = std::make_unique<ScreenFixture>();
        updateServer = std::make_unique<FakeHttpServer>();
        updater = std::make_unique<AutoUpdater>(UpdaterSources{updateServer->url(), QStringLiteral("1.0.0"), 5000});
        const QString executable = machine->tree.path("bin/quillmoor");
        QFile exe(executable);
        QVERIFY(exe.open(QIODevice::WriteOnly));
        exe.write("#!/bin/sh\n");
        exe.close();
        QVERIFY(exe.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        launchAtLogin = std::make_unique<LaunchAtLoginManager>(LaunchAtLoginSources{machine->tree.path("config"), executable});
        QmlServices::Set set = machine->services();
        set.updater = updater.get();
        set.launchAtLogin = launchAtLogin.get();
        ui = std::make_unique<QmlPageHarness>(std::move(set));
    }

    void cleanup()
    {
        const QStringList warnings = QmlPageHarness::warnings();
        ui.reset();
        launchAtLogin.reset();
        updater.reset();
        updateServer.reset();
        machine.reset();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    // A first run opens the tour with the dashboard; once finished, the dashboard leaves it
    // closed; the popover's "start the tour" opens it again at the first step.
    void dashboardStartsTheTour()
    {
        Preferences &prefs = *machine->preferences;
        prefs.setOnboardingTourStep(3);
        QVERIFY(!prefs.showOnboardingTour());
        QQuickItem *dashboard = load(QStringLiteral("SettingsView"), {{"initialTab", "Settings"}});
        QVERIFY(dashboard);
        QVERIFY(prefs.showOnboardingTour());
        QCOMPARE(prefs.onboardingTourStep(), 0);
        delete dashboard;

        // Finished: a new dashboard leaves the flags as they are.
        prefs.setHasCompletedOnboardingTour(true);
        prefs.setShowOnboardingTour(false);
        prefs.setOnboardingTourStep(5);
        dashboard = load(QStringLiteral("SettingsView"), {{"initialTab", "Settings"}});
        QVERIFY(dashboard);
        QVERIFY(!prefs.showOnboardingTour());
        QCOMPARE(prefs.onboardingTourStep(), 5);

        // Other notifications do nothing; each StartTour starts it over.
        machine->notifications.post(NotificationCenter::OpenPopover);
        QVERIFY(!prefs.showOnboardingTour());
        machine->notifications.post(NotificationCenter::StartTour);
        QVERIFY(prefs.showOnboardingTour());
        QCOMPARE(prefs.onboardingTourStep(), 0);
        prefs.setShowOnboardingTour(false);
        prefs.setOnboardingTourStep(2);
        machine->notifications.post(NotificationCenter::StartTour);
        QVERIFY(prefs.showOnboardingTour());
        QCOMPARE(prefs.onboardingTourStep(), 0);

        // A dashboard that has gone no longer answers.
        delete dashboard;
        prefs.setShowOnboardingTour(false);
        machine->notifications.post(NotificationCenter::StartTour);
        QVERIFY(!prefs.showOnboardingTour());
    }

    // The timeline stays on the moment the user scrubbed to while new snapshots arrive,
    // follows the newest when left at the end, and moves to the oldest left when its
    // snapshot falls off the old end.
    void timelineKeepsItsMomentAsTheHistorySlides()
    {
        DVRTimeline timeline;
        QCOMPARE(timeline.index(), -1);
        timeline.setIndex(3);   // nothing to choose yet
        QCOMPARE(timeline.index(), -1);

        auto *snapshots = QmlServices::installedOn(*ui->engine)->dvrSnapshots();
        QVERIFY(snapshots);
        timeline.setSnapshots(snapshots);
        QCOMPARE(timeline.count(), 0);

        sampleProcesses({{501, 0}, {502, 0}});
        QTest::qWait(5);
        sampleProcesses({{501, 80}, {502, 10}});
        sampleProcesses({{501, 10}, {502, 60}});
        QCOMPARE(timeline.count(), 3);
        QVERIFY(timeline.followsLatest());
        QCOMPARE(timeline.index(), 2);
        const QList<ProcessInfoData> newest = machine->processes->topProcesses();
        QCOMPARE(newest.size(), 2);
        QCOMPARE(newest.first().id, 502);   // the busier one of the last interval first
        QCOMPARE(static_cast<RecordListModel<ProcessInfoData> *>(timeline.processes())->rows(), newest);

        // Back to the second: its rows, its CPU figure; a new sample leaves it there.
        QSignalSpy moved(&timeline, &DVRTimeline::indexChanged);
        timeline.setIndex(1);
        QCOMPARE(moved.count(), 1);
        QVERIFY(!timeline.followsLatest());
        const DVRSnapshot second = machine->processes->dvrSnapshots().at(1);
        QCOMPARE(timeline.timestamp(), second.timestamp);
        QCOMPARE(timeline.cpuUsage(), second.cpuUsage);
        QCOMPARE(static_cast<RecordListModel<ProcessInfoData> *>(timeline.processes())->rows(), second.topProcesses);
        sampleProcesses({{501, 30}, {502, 30}});
        QCOMPARE(timeline.count(), 4);
        QCOMPARE(timeline.index(), 1);
        QCOMPARE(timeline.timestamp(), second.timestamp);
        QCOMPARE(timeline.cpuHistory().size(), 4);

        // Full window: each sample drops the oldest; the chosen one is followed down to 0,
        // then the timeline holds the oldest left.
        for (int i = 4; i < ProcessMonitor::kMaxSnapshots; ++i)
            sampleProcesses({{501, 1}});
        QCOMPARE(timeline.count(), ProcessMonitor::kMaxSnapshots);
        QCOMPARE(timeline.index(), 1);
        sampleProcesses({{501, 1}});
        QCOMPARE(timeline.index(), 0);
        QCOMPARE(timeline.timestamp(), second.timestamp);
        sampleProcesses({{501, 1}});
        QCOMPARE(timeline.index(), 0);
        QCOMPARE(timeline.timestamp(), machine->processes->dvrSnapshots().first().timestamp);

        // Past the end means the newest, and following it again.
        timeline.setIndex(1000);
        QCOMPARE(timeline.index(), ProcessMonitor::kMaxSnapshots - 1);
        QVERIFY(timeline.followsLatest());
        sampleProcesses({{502, 5}});
        QCOMPARE(timeline.index(), ProcessMonitor::kMaxSnapshots - 1);
        QCOMPARE(timeline.timestamp(), machine->processes->dvrSnapshots().last().timestamp);
        QCOMPARE(timeline.secondsBeforeLatest(), 0);
    }

    // "Copy Spec Report" puts the machine's twelve-line report on the clipboard as plain
    // text, and the button says it did.
    void specReportReachesTheClipboard()
    {
        machine->tree.write("sys/class/dmi/id/product_name", "MacBookPro18,3\n");
        machine->tree.write("proc/cpuinfo", "processor\t: 0\nmodel name\t: Apple M1 Pro\n");
        machine->tree.write("proc/sys/kernel/osrelease", "6.1.0-18-amd64\n");
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));

        QQuickItem *page = load(QStringLiteral("SystemInfoPage"));
        QVERIFY(page);
        QObject *button = child(page, "copyReportButton");
        QVERIFY(button);
        QCOMPARE(button->property("shownText").toString(), QStringLiteral("Copy Spec Report"));
        QCOMPARE(button->property("symbol").toString(), QStringLiteral("doc.on.doc"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));   // nothing until asked

        QMetaObject::invokeMethod(button, "clicked");
        const QString os = machine->stats->getHardwareInfo().osVersion;
        QVERIFY(os.endsWith(QLatin1String(", kernel 6.1.0-18-amd64")));
        const QString expected = QStringLiteral(
            "=== QUILLMOOR MACHINE DIAGNOSTIC REPORT ===\n"
            "Model Name: MacBook Pro\n"
            "Model Identifier: MacBookPro18,3\n"
            "Processor: Apple M1 Pro\n"
            "OS Version: %1\n"
            "Total Cores: 4 Cores (Performance: 2 / Efficiency: 2)\n"
            "GPU Cores: 8 Cores\n"
            "Neural Engine: 16-Core Apple Neural Engine (Up to 15.8 TOPS)\n"
            "Physical Memory: 16.0 GB\n"
            "Memory Bandwidth: 200 GB/s\n"
            "Serial ID: %2\n"
            "============================================")
            .arg(os, MachineHardwareInfo::serialNumberFor(QStringLiteral("MacBookPro18,3")));
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
        QVERIFY(!QGuiApplication::clipboard()->mimeData()->hasHtml());
        QCOMPARE(button->property("shownText").toString(), QStringLiteral("Copied Spec Report!"));
        QCOMPARE(button->property("symbol").toString(), QStringLiteral("checkmark"));
        // …and offers to copy again a moment later.
        QTRY_COMPARE_WITH_TIMEOUT(button->property("shownText").toString(), QStringLiteral("Copy Spec Report"), 5000);

        // The blocks show the same description; the GPU count is marked as the estimate it is.
        QCOMPARE(QmlPageHarness::valueOf(page, "modelNameRow"), QStringLiteral("MacBook Pro"));
        QCOMPARE(QmlPageHarness::valueOf(page, "coresRow"), QStringLiteral("4 Cores"));
        QCOMPARE(QmlPageHarness::valueOf(page, "memoryRow"), QStringLiteral("16.0 GB"));
        QCOMPARE(QmlPageHarness::valueOf(page, "gpuCoresRow"), QStringLiteral("≈ 8 Cores"));
        QCOMPARE(QmlPageHarness::valueOf(page, "fanRow"), QStringLiteral("1 fan reported"));
        QCOMPARE(QmlPageHarness::valueOf(page, "powerSourceRow"), QStringLiteral("External power (no battery)"));
        QStringList titles;
        for (QObject *title : QmlPageHarness::all(page, "cardTitle"))
            titles << title->property("text").toString();
        for (const char *block : {"PROCESSOR & ARCHITECTURE", "GRAPHICS & NEURAL COMPUTE", "SYSTEM IDENTIFIERS",
                                  "MEMORY & BUS WIDTH", "THERMAL & COOLING DESIGN", "POWER PROFILE"})
            QVERIFY2(titles.contains(QLatin1String(block)), block);
    }

    // Each switch, the slider, the persona cards and the theme buttons write their preference
    // (or service) at once; the alerts that cannot be switched say so instead of pretending.
    void settingsWriteThePreferences()
    {
        Preferences &prefs = *machine->preferences;
        QQuickItem *page = load(QStringLiteral("SettingsPage"));
        QVERIFY(page);
        const auto flip = [&](const char *row) {
            QObject *control = child(child(page, row), "toggleSwitch");
            QVERIFY2(control, row);
            QMetaObject::invokeMethod(control, "toggle");
            QMetaObject::invokeMethod(control, "toggled");
        };

        flip("fullPathsToggle");
        QVERIFY(prefs.showFullProcessPath());
        flip("advancedModeToggle");
        QVERIFY(prefs.advancedMode());
        flip("advancedModeToggle");
        QVERIFY(!prefs.advancedMode());

        QVERIFY(!launchAtLogin->isEnabled());
        flip("launchAtLoginToggle");
        QVERIFY(launchAtLogin->isEnabled());
        QVERIFY(QFile::exists(launchAtLogin->entryPath()));
        QVERIFY(child(child(page, "launchAtLoginToggle"), "toggleSwitch")->property("checked").toBool());

        // No switch that would change nothing: each alert row states what holds.
        QCOMPARE(text(child(page, "cpuAlertsRow"), "alertState"), QStringLiteral("Always on"));
        QCOMPARE(text(child(page, "connectionAlertsRow"), "alertState"), QStringLiteral("Not available"));
        QCOMPARE(text(child(page, "diskAlertsRow"), "alertState"), QStringLiteral("Not available"));
        for (const char *row : {"cpuAlertsRow", "connectionAlertsRow", "diskAlertsRow"})
            QVERIFY2(!child(child(page, row), "toggleSwitch"), row);

        QObject *slider = child(page, "cpuThresholdSlider");
        QVERIFY(slider);
        QCOMPARE(slider->property("from").toDouble(), 50.0);
        QCOMPARE(slider->property("to").toDouble(), 100.0);
        QCOMPARE(slider->property("value").toDouble(), 90.0);
        QCOMPARE(text(page, "cpuThresholdValue"), QStringLiteral("90%"));
        slider->setProperty("value", 73.0);
        QMetaObject::invokeMethod(slider, "moved");
        QCOMPARE(prefs.cpuAlertThreshold(), 73.0);
        QCOMPARE(text(page, "cpuThresholdValue"), QStringLiteral("73%"));
        prefs.setCpuAlertThreshold(88.6);   // a figure written elsewhere shows whole
        QCOMPARE(text(page, "cpuThresholdValue"), QStringLiteral("89%"));

        const QList<QObject *> cards = QmlPageHarness::all(page, "personaCard");
        QCOMPARE(cards.size(), 4);
        QCOMPARE(cards.at(0)->property("persona").toString(), QStringLiteral("AI Engineer"));
        QVERIFY(cards.at(0)->property("selected").toBool());
        QCOMPARE(cards.at(3)->property("symbol").toString(), QStringLiteral("gamecontroller"));
        QMetaObject::invokeMethod(cards.at(3), "clicked");
        QCOMPARE(prefs.workspacePersona(), QStringLiteral("Gamer"));
        QVERIFY(cards.at(3)->property("selected").toBool());
        QVERIFY(!cards.at(0)->property("selected").toBool());

        const QList<QObject *> themes = QmlPageHarness::all(page, "themeButton");
        QCOMPARE(themes.size(), 5);
        QObject *light = nullptr;
        for (QObject *b : themes)
            if (b->property("text").toString() == QLatin1String("Light"))
                light = b;
        QVERIFY(light);
        QMetaObject::invokeMethod(light, "clicked");
        QCOMPARE(machine->theme->currentThemeName(), QStringLiteral("Light"));
        QCOMPARE(prefs.appTheme(), QStringLiteral("Light"));
        QVERIFY(light->property("selected").toBool());

        prefs.setOnboardingTourStep(4);
        QMetaObject::invokeMethod(child(page, "startTourButton"), "clicked");
        QVERIFY(prefs.showOnboardingTour());
        QCOMPARE(prefs.onboardingTourStep(), 0);
    }

    // The metrics switch and address write the settings; the line under them says what the
    // endpoint does: nothing, serving where, open to others, or why it could not listen.
    void metricsSettingsShowTheEndpoint()
    {
        Preferences &prefs = *machine->preferences;
        QQuickItem *page = load(QStringLiteral("SettingsPage"));
        QVERIFY(page);
        MetricsEndpoint *endpoint = machine->metrics.get();
        QVERIFY(endpoint);
        QVERIFY(!endpoint->isListening());   // off by default: shown, not started
        QVERIFY(!prefs.metricsEndpointEnabled());
        QCOMPARE(text(page, "metricsStatus"), QStringLiteral("Off: nothing listens."));
        QCOMPARE(child(page, "metricsAddressField")->property("text").toString(), QStringLiteral("127.0.0.1:11440"));

        QObject *toggle = child(child(page, "metricsToggle"), "toggleSwitch");
        QMetaObject::invokeMethod(toggle, "toggle");
        QMetaObject::invokeMethod(toggle, "toggled");
        QVERIFY(prefs.metricsEndpointEnabled());

        QVERIFY(endpoint->start(QStringLiteral("127.0.0.1:0")));
        QCOMPARE(text(page, "metricsStatus"), QStringLiteral("Serving http://127.0.0.1:%1/metrics").arg(endpoint->port()));
        QVERIFY(endpoint->start(QStringLiteral("0.0.0.0:0")));
        QVERIFY(text(page, "metricsStatus").endsWith(QStringLiteral("Anyone who can reach this address can read these figures.")));
        QVERIFY(!endpoint->start(QStringLiteral("nowhere")));
        QCOMPARE(text(page, "metricsStatus"), endpoint->errorString());
        QCOMPARE(child(page, "metricsStatus")->property("color").value<QColor>(), QColor("#ff453a"));

        // The address is written once typing is done, trimmed.
        QObject *field = child(page, "metricsAddressField");
        field->setProperty("text", QStringLiteral(" [::1]:9464 "));
        QCOMPARE(prefs.metricsEndpointAddress(), QStringLiteral("127.0.0.1:11440"));
        QMetaObject::invokeMethod(field, "editingFinished");
        QCOMPARE(prefs.metricsEndpointAddress(), QStringLiteral("[::1]:9464"));
        endpoint->stop();
    }

    // The persona cards and the scrubber work from the keyboard alone.
    void keyboardReachesTheControls()
    {
        machine->preferences->setHasCompletedOnboardingTour(true);
        ui->window->show();
        QVERIFY(QTest::qWaitForWindowExposed(ui->window.get()));
        ui->window->requestActivate();
        QQuickItem *page = load(QStringLiteral("SettingsPage"));
        QVERIFY(page);
        auto *card = qobject_cast<QQuickItem *>(QmlPageHarness::all(page, "personaCard").at(1));
        QVERIFY(card);
        card->forceActiveFocus(Qt::TabFocusReason);
        QTRY_VERIFY(card->hasActiveFocus());
        QTest::keyClick(ui->window.get(), Qt::Key_Return);
        QCOMPARE(machine->preferences->workspacePersona(), QStringLiteral("Software Developer"));
        // Tab moves on to the next card; Space picks it.
        QTest::keyClick(ui->window.get(), Qt::Key_Tab);
        QTest::keyClick(ui->window.get(), Qt::Key_Space);
        QCOMPARE(machine->preferences->workspacePersona(), QStringLiteral("Content Creator"));
        delete page;

        sampleProcesses({{601, 0}});
        sampleProcesses({{601, 50}});
        sampleProcesses({{601, 20}});
        page = load(QStringLiteral("HistoryPage"));
        QVERIFY(page);
        auto *slider = qobject_cast<QQuickItem *>(child(page, "timeMachineSlider"));
        QVERIFY(slider);
        QCOMPARE(slider->property("value").toInt(), 2);
        slider->forceActiveFocus(Qt::TabFocusReason);
        QTRY_VERIFY(slider->hasActiveFocus());
        QTest::keyClick(ui->window.get(), Qt::Key_Left);
        QCOMPARE(slider->property("value").toInt(), 1);
        QCOMPARE(QmlPageHarness::text(page, "snapshotProcessCpu"),
                 QStringLiteral("CPU: %1%").arg(machine->processes->dvrSnapshots().at(1).topProcesses.at(0).cpuUsage, 0, 'f', 1));
    }

    // While a check runs the button reads its running label and cannot be pressed again;
    // afterwards the page says what the check found, or why it failed.
    void updateButtonShowsTheCheck()
    {
        QQuickItem *page = load(QStringLiteral("SettingsPage"));
        QVERIFY(page);
        QObject *button = child(page, "checkUpdatesButton");
        QVERIFY(button);
        QCOMPARE(text(page, "updateStatus"), QStringLiteral("Not checked yet. Quillmoor checks only when you ask."));
        QVERIFY(!child(page, "downloadUpdateButton")->property("visible").toBool());

        updateServer->reply(200, "{\"version\":\"1.2.0\",\"download_url\":\"https://q.example/1.2.0\",\"release_notes\":\"Faster scans.\"}");
        updateServer->setDelay(400);
        QSignalSpy finished(updater.get(), &AutoUpdater::checkFinished);
        QMetaObject::invokeMethod(button, "clicked");
        QVERIFY(updater->isChecking());
        QCOMPARE(button->property("shownText").toString(), QStringLiteral("Checking for Updates..."));
        QVERIFY(!button->property("enabled").toBool());
        QVERIFY(child(button, "runningIndicator")->property("visible").toBool());
        QVERIFY(finished.wait(10000));
        QCOMPARE(updateServer->requests().size(), 1);
        QCOMPARE(button->property("shownText").toString(), QStringLiteral("Check for Updates"));
        QVERIFY(button->property("enabled").toBool());
        QCOMPARE(text(page, "updateStatus"), QStringLiteral("Quillmoor 1.2.0 is available."));
        QCOMPARE(text(page, "releaseNotes"), QStringLiteral("Faster scans."));
        QVERIFY(child(page, "downloadUpdateButton")->property("visible").toBool());

        updateServer->setDelay(0);
        updateServer->reply(503, "{}");
        QMetaObject::invokeMethod(button, "clicked");
        QVERIFY(finished.wait(10000));
        QCOMPARE(text(page, "updateStatus"), QStringLiteral("Update server returned code 503"));

        updateServer->reply(200, "{\"version\":\"1.0.0\",\"download_url\":\"https://q.example/1.0.0\"}");
        AutoUpdater current(UpdaterSources{updateServer->url(), QStringLiteral("1.0.0"), 5000});
        QSignalSpy currentFinished(&current, &AutoUpdater::checkFinished);
        QmlServices::Set set = machine->services();
        set.updater = &current;
        ui.reset();
        ui = std::make_unique<QmlPageHarness>(std::move(set));
        page = load(QStringLiteral("SettingsPage"));
        QVERIFY(page);
        QMetaObject::invokeMethod(child(page, "checkUpdatesButton"), "clicked");
        QVERIFY(currentFinished.wait(10000));
        QCOMPARE(text(page, "updateStatus"), QStringLiteral("Quillmoor is up to date."));
        // Without a login-item service the switch says it cannot, rather than pretending.
        QVERIFY(!child(child(page, "launchAtLoginToggle"), "toggleSwitch")->property("enabled").toBool());
    }

    // The Time Machine moves through the snapshots, listing each one's processes with their
    // CPU figures; the strip along the time axis marks where it stands.
    void scrubberMovesThroughSnapshots()
    {
        ui->window->show();   // the strip is laid out only in a window that draws
        QVERIFY(QTest::qWaitForWindowExposed(ui->window.get()));
        QQuickItem *page = load(QStringLiteral("HistoryPage"));
        QVERIFY(page);
        QCOMPARE(text(page, "pageHeading"), QStringLiteral("System History & DVR"));
        QVERIFY(child(page, "noSnapshots")->property("visible").toBool());
        QVERIFY(!child(page, "timeMachineSlider")->property("enabled").toBool());

        sampleProcesses({{701, 0}, {702, 0}, {703, 0}});
        sampleProcesses({{701, 90}, {702, 10}, {703, 0}});
        sampleProcesses({{701, 5}, {702, 40}, {703, 70}});
        QVERIFY(!child(page, "noSnapshots")->property("visible").toBool());
        QObject *slider = child(page, "timeMachineSlider");
        QVERIFY(slider->property("enabled").toBool());
        QCOMPARE(slider->property("to").toInt(), 2);
        QCOMPARE(slider->property("value").toInt(), 2);
        QVERIFY(text(page, "snapshotTime").contains("latest snapshot"));

        const QList<DVRSnapshot> snapshots = machine->processes->dvrSnapshots();
        const auto shownRows = [&] {
            QStringList rows;
            for (QObject *cpu : QmlPageHarness::all(page, "snapshotProcessCpu"))
                rows << cpu->property("text").toString();
            return rows;
        };
        const auto expectedRows = [&](int i) {
            QStringList rows;
            for (const ProcessInfoData &p : snapshots.at(i).topProcesses)
                rows << QStringLiteral("CPU: %1%").arg(p.cpuUsage, 0, 'f', 1);
            return rows;
        };
        QCOMPARE(snapshots.at(2).topProcesses.size(), 3);
        QCOMPARE(shownRows(), expectedRows(2));

        auto *marker = qobject_cast<QQuickItem *>(child(page, "scrubMarker"));
        QVERIFY(marker);
        QTRY_VERIFY(marker->x() > 0);
        const qreal newestX = marker->x();
        slider->setProperty("value", 1);
        QMetaObject::invokeMethod(slider, "moved");
        QCOMPARE(shownRows(), expectedRows(1));
        QCOMPARE(shownRows().first(), QStringLiteral("CPU: %1%").arg(snapshots.at(1).topProcesses.first().cpuUsage, 0, 'f', 1));
        QTRY_VERIFY(marker->x() < newestX);
        QVERIFY(text(page, "snapshotTime").contains("before the latest"));

        // A new sample leaves the scrubbed moment on screen.
        sampleProcesses({{701, 1}, {702, 1}, {703, 1}});
        QCOMPARE(slider->property("to").toInt(), 3);
        QCOMPARE(slider->property("value").toInt(), 1);
        QCOMPARE(shownRows(), expectedRows(1));

        slider->setProperty("value", 0);
        QMetaObject::invokeMethod(slider, "moved");
        QCOMPARE(shownRows(), expectedRows(0));
        QCOMPARE(QmlPageHarness::all(page, "snapshotProcess").size(), snapshots.at(0).topProcesses.size());
    }

    // The export writes the CSV and shows where; a folder that cannot take it is said so.
    // The health reading comes back through the running label.
    void exportAndHealthReading()
    {
        QQuickItem *page = load(QStringLiteral("HistoryPage"));
        QVERIFY(page);
        QVERIFY(!child(page, "exportResult")->property("visible").toBool());
        QMetaObject::invokeMethod(child(page, "exportButton"), "clicked");
        const QString shown = text(page, "exportResult");
        QVERIFY2(shown.startsWith("Saved to "), qPrintable(shown));
        const QString path = shown.mid(9);
        QFile csv(path);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll().count('\n'), 61);
        csv.remove();

        const QByteArray tmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", machine->tree.path("no-such-folder").toUtf8());
        QMetaObject::invokeMethod(child(page, "exportButton"), "clicked");
        if (tmp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", tmp);
        QCOMPARE(text(page, "exportResult"), QStringLiteral("The history could not be written to the temporary folder."));

        QObject *health = child(page, "healthButton");
        QMetaObject::invokeMethod(health, "clicked");
        QCOMPARE(health->property("shownText").toString(), QStringLiteral("Analyzing..."));
        QTRY_VERIFY_WITH_TIMEOUT(text(page, "healthReport").startsWith("Based on local telemetry"), 5000);
        // The fixture machine has no battery, and the reading says so rather than calling it empty.
        QVERIFY2(text(page, "healthReport").contains("No battery is reported"), qPrintable(text(page, "healthReport")));
        QCOMPARE(health->property("shownText").toString(), QStringLiteral("Analyze System Health"));
    }

    // The clipboard helper hands over exactly the text, as plain text only.
    void clipboardTakesPlainText()
    {
        Clipboard clipboard;
        const QString text = QStringLiteral("line one\nline \u00e9 two\n====");
        QVERIFY(clipboard.setText(text));
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
        QCOMPARE(clipboard.text(), text);
        QVERIFY(!QGuiApplication::clipboard()->mimeData()->hasHtml());
    }
};

QTEST_MAIN(TestSettingsPages)
#include "tst_SettingsPages.moc"
