#include "support/FakeHttpServer.h"
#include "support/QmlPageHarness.h"
#include "support/ScreenFixture.h"
#include "support/AutoUpdater.h"
#include "support/LaunchAtLoginManager.h"
#include "ui/Clipboard.h"
#include "ui/DVRTimeline.h"

#include <QClipboard>
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
