#include "app/AppDelegate.h"
#include "app/NotificationCenter.h"
#include "app/Preferences.h"
#include "app/ThemeManager.h"
#include "localai/LocalAIService.h"
#include "presets/PresetManager.h"
#include "telemetry/PingService.h"
#include "telemetry/SystemStatsProvider.h"
#include "support/FixtureTree.h"
#include "support/ScreenFixture.h"
#include "ui/PersonaCatalog.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QQuickItem>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
int visibleDashboards()
{
    int n = 0;
    for (QWindow *w : QGuiApplication::topLevelWindows())
        if (w->isVisible() && w->title() == QLatin1String("Quillmoor Dashboard"))
            ++n;
    return n;
}

QString pageTitle(AppDelegate &delegate)
{
    QQuickItem *root = delegate.dashboardWindow()->rootObject();
    auto *title = root ? root->findChild<QObject *>(QStringLiteral("pageTitle")) : nullptr;
    return title ? title->property("text").toString() : QString();
}

QStringList visibleTexts(QQuickItem *item)
{
    QStringList out;
    if (!item->isVisible())
        return out;
    const QVariant text = item->property("text");
    if (text.isValid())
        out << text.toString();
    for (QQuickItem *child : item->childItems())
        out << visibleTexts(child);
    return out;
}
}

class TestAppDelegate : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    int counter = 0;
    std::unique_ptr<Preferences> prefs;
    std::unique_ptr<ThemeManager> themes;
    std::unique_ptr<SystemStatsProvider> stats;
    std::unique_ptr<NotificationCenter> center;
    std::unique_ptr<LocalAIService> localAI;
    std::unique_ptr<PingService> ping;
    std::unique_ptr<PresetManager> presets;
    std::unique_ptr<AppDelegate> delegate;

private Q_SLOTS:
    void init()
    {
        prefs = std::make_unique<Preferences>(new QSettings(dir.filePath(QStringLiteral("p%1.conf").arg(++counter)), QSettings::IniFormat));
        themes = std::make_unique<ThemeManager>(*prefs);
        stats = std::make_unique<SystemStatsProvider>(*prefs, TelemetrySources{}, SystemStatsProvider::Polling::Manual);
        center = std::make_unique<NotificationCenter>();
        LocalAISources ai;
        ai.ollamaUrl = QUrl(QStringLiteral("http://127.0.0.1:9"));   // nothing listens there
        ai.searchPath = QStringList{};
        ai.procRoot = dir.filePath(QStringLiteral("no-proc")).toStdString();
        localAI = std::make_unique<LocalAIService>(ai, LocalAIService::Polling::Manual);
        PingSources pingTarget;
        pingTarget.host = QStringLiteral("127.0.0.1");
        ping = std::make_unique<PingService>(pingTarget, PingService::Polling::Manual);
        presets = std::make_unique<PresetManager>();
        startDelegate();
    }
    void startDelegate()
    {
        AppServices services{stats.get(), themes.get(), prefs.get(), center.get()};
        services.localAI = localAI.get();
        services.ping = ping.get();
        services.presets = presets.get();
        delegate = std::make_unique<AppDelegate>(services);
        delegate->applicationDidFinishLaunching();
    }
    void cleanup()
    {
        delegate.reset();   // takes replaced dashboards still awaiting deletion with it
        center.reset();
        localAI.reset();
        ping.reset();
        presets.reset();
        stats.reset();
        themes.reset();
        prefs.reset();
    }

    void launchOpensDashboardOnAIHardware()
    {
        QVERIFY(delegate->dashboardWindow());
        QVERIFY(delegate->dashboardWindow()->isVisible());
        QCOMPARE(delegate->dashboardWindow()->size(), AppDelegate::kDashboardSize);
        QCOMPARE(pageTitle(*delegate), QStringLiteral("AI Hardware"));
        QVERIFY(delegate->popover());
        QVERIFY(delegate->popover()->errors().isEmpty());
        QVERIFY(delegate->dashboardWindow()->errors().isEmpty());
        QVERIFY(!delegate->isPopoverShown());
        QCOMPARE(delegate->popover()->size(), AppDelegate::kPopoverSize);
    }

    // "quillmoor --page Sensors": the launch dashboard opens on the page asked for.
    void launchOpensTheAskedPage()
    {
        AppServices services{stats.get(), themes.get(), prefs.get(), center.get()};
        services.localAI = localAI.get();
        services.ping = ping.get();
        services.presets = presets.get();
        AppDelegate own(services);
        own.applicationDidFinishLaunching(QStringLiteral("Sensors"));
        QVERIFY(own.dashboardWindow());
        QCOMPARE(pageTitle(own), QStringLiteral("Sensors"));
    }

    void advisoryWithoutTerminalOpensItsWindow()
    {
        PresetSources sources;
        sources.terminalSearchPath = QStringList{};   // no emulator anywhere
        sources.preferredTerminal = QString();
        PresetManager engine(sources);
        AppServices services{stats.get(), themes.get(), prefs.get(), center.get()};
        services.localAI = localAI.get();
        services.ping = ping.get();
        services.presets = &engine;
        AppDelegate own(services);
        own.applicationDidFinishLaunching();
        engine.openGamerAdvisory();
        QVERIFY(own.advisoryWindow());
        QVERIFY(own.advisoryWindow()->errors().isEmpty());
        QVERIFY(own.advisoryWindow()->isVisible());
        QCOMPARE(own.advisoryWindow()->rootObject()->property("lines").toStringList(), PresetManager::gamerAdvisoryLines());
        QMetaObject::invokeMethod(own.advisoryWindow()->rootObject(), "closeRequested");
        QVERIFY(!own.advisoryWindow()->isVisible());
    }

    void telemetryFollowsTheLocalAIService()
    {
        QCOMPARE(delegate->localAI(), localAI.get());
        QCOMPARE(delegate->pingService(), ping.get());
        // Demo switch on at start: the hub, not yet measured, shows the sample figure.
        QCOMPARE(stats->huggingFaceCacheSizeInGB(), SystemStatsProvider::kDemoHuggingFaceCacheGB);
        localAI->setDemoMode(false);
        QCOMPARE(stats->huggingFaceCacheSizeInGB(), 0.0);
        localAI->setDemoMode(true);

        QSignalSpy finished(localAI.get(), &LocalAIService::passFinished);
        QVERIFY(localAI->runPass());
        QVERIFY(finished.wait(5000));
        qint64 bytes = 0;
        for (qint64 size : localAI->loadedModelSizes())
            bytes += size;
        QVERIFY(bytes > 0);
        stats->updateStats();
        QCOMPARE(stats->aiVramUsed(), bytes / 1073741824.0);
    }

    // The installed models are judged against what each telemetry sample reads, in bytes:
    // the GPU's free memory from its driver (total less used), MemAvailable for system
    // memory. The demo keeps its sample machine whatever this one has.
    void modelFitFollowsTheTelemetry()
    {
        constexpr qint64 GiB = 1024LL * 1024 * 1024;
        ScreenFixture machine(true, [](FixtureTree &tree) {
            tree.write("sys/class/hwmon/hwmon7/name", "amdgpu\n");
            tree.write("sys/class/hwmon/hwmon7/device/mem_info_vram_total", "8589934592\n");
            tree.write("sys/class/hwmon/hwmon7/device/mem_info_vram_used", "3221225472\n");
        });
        machine.setMemory(32, 12);
        AppServices services{machine.stats.get(), themes.get(), prefs.get(), center.get()};
        services.localAI = localAI.get();
        services.ping = ping.get();
        services.presets = presets.get();
        AppDelegate own(services);
        own.applicationDidFinishLaunching();
        QCOMPARE(localAI->fitGpuBudget(), 4 * GiB);   // the demo's sample machine
        localAI->setDemoMode(false);
        machine.sample({10, 10, 10, 10});
        QCOMPARE(localAI->fitGpuBudget(), 5 * GiB);
        QCOMPARE(localAI->fitRamBudget(), 12 * GiB);

        machine.tree.write("sys/class/hwmon/hwmon7/device/mem_info_vram_used", "7516192768\n");
        machine.setMemory(32, 9);
        machine.sample({10, 10, 10, 10});
        QCOMPARE(localAI->fitGpuBudget(), 1 * GiB);
        QCOMPARE(localAI->fitRamBudget(), 9 * GiB);
        localAI->setDemoMode(true);
        QCOMPARE(localAI->fitRamBudget(), 48 * GiB);
    }

    void dashboardTabRouting_data()
    {
        QTest::addColumn<QVariantMap>("info");
        QTest::addColumn<QString>("tab");
        QTest::newRow("none") << QVariantMap{} << "AI Hardware";
        QTest::newRow("old name") << QVariantMap{{"tab", "AI Monitor"}} << "AI Hardware";
        QTest::newRow("network") << QVariantMap{{"tab", "Network"}} << "Network";
        QTest::newRow("not text") << QVariantMap{{"tab", 3}} << "AI Hardware";
    }
    void dashboardTabRouting()
    {
        QFETCH(QVariantMap, info);
        QFETCH(QString, tab);
        QCOMPARE(AppDelegate::dashboardTab(info), tab);
        center->post(NotificationCenter::OpenDashboard, info);
        QCOMPARE(pageTitle(*delegate), tab);
    }

    void repeatedRequestsLeaveOneDashboard()
    {
        QCOMPARE(visibleDashboards(), 1);
        center->post(NotificationCenter::OpenDashboard, {{"tab", "Settings"}});
        center->post(NotificationCenter::OpenDashboard, {{"tab", "Memory"}});
        QCOMPARE(visibleDashboards(), 1);
        QCOMPARE(pageTitle(*delegate), QStringLiteral("Memory"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        int windows = 0;
        for (QWindow *w : QGuiApplication::topLevelWindows())
            windows += w->title() == QLatin1String("Quillmoor Dashboard");
        QCOMPARE(windows, 1);   // replaced windows are gone, not just hidden
    }

    // A user's close frees the dashboard: a hidden one would keep following every sample.
    void closingTheDashboardFreesIt()
    {
        QPointer<QQuickView> window = delegate->dashboardWindow();
        QVERIFY(window);
        window->close();
        QVERIFY(!delegate->dashboardWindow());
        QTRY_VERIFY(window.isNull());
        center->post(NotificationCenter::OpenDashboard, {{"tab", "Memory"}});
        QVERIFY(delegate->dashboardWindow());
        QCOMPARE(pageTitle(*delegate), QStringLiteral("Memory"));
        QCOMPARE(visibleDashboards(), 1);
    }

    void teardownTakesReplacedDashboards()
    {
        center->post(NotificationCenter::OpenDashboard, {{"tab", "Power"}});
        delegate.reset();   // the replaced dashboard's deferred deletion has not run yet
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (QWindow *w : QGuiApplication::topLevelWindows())
            QVERIFY(w->title() != QLatin1String("Quillmoor Dashboard"));
    }

    // With the popover closed the samples keep coming, yet the popover draws nothing and
    // holds no tab, and the tray gets a new icon only when the picture changes.
    void closedPopoverStaysIdle()
    {
        FixtureTree proc;
        const auto writeStat = [&](int busy, int idle) {
            proc.write(QStringLiteral("stat"), QStringLiteral("cpu  %1 0 0 %2 0 0 0 0 0 0\ncpu0 %1 0 0 %2 0 0 0 0 0 0\n")
                                                   .arg(busy).arg(idle).toUtf8());
        };
        writeStat(0, 1000);
        delegate.reset();
        TelemetrySources sources;
        sources.procRoot = proc.root({});
        sources.sysRoot = proc.root(QStringLiteral("no-sys"));
        stats = std::make_unique<SystemStatsProvider>(*prefs, sources, SystemStatsProvider::Polling::Manual);
        startDelegate();
        stats->updateStats();

        delegate->handleOpenPopover();
        QVERIFY(QTest::qWaitForWindowExposed(delegate->popover()));
        auto *tab = delegate->popover()->rootObject()->findChild<QObject *>(QStringLiteral("tabContent"));
        QVERIFY(tab);
        QVERIFY(tab->property("item").value<QObject *>());
        delegate->handleClosePopover();
        QTRY_VERIFY(!delegate->popover()->isVisible());
        QVERIFY(!tab->property("item").value<QObject *>());

        QSignalSpy frames(delegate->popover(), &QQuickWindow::frameSwapped);
        delegate->updateStatusIcon();
        const qint64 icon = delegate->statusItem()->icon().cacheKey();
        writeStat(0, 2000);   // idle again: the same figure
        stats->updateStats();
        delegate->updateStatusIcon();
        QCOMPARE(delegate->statusItem()->icon().cacheKey(), icon);
        writeStat(1000, 3000);   // busy: a new figure
        stats->updateStats();
        QVERIFY(stats->cpuUsage() > 10);
        delegate->updateStatusIcon();
        QVERIFY(delegate->statusItem()->icon().cacheKey() != icon);
        QTest::qWait(300);
        QCOMPARE(frames.count(), 0);
    }

    void popoverToggleAndNotifications()
    {
        delegate->togglePopover();
        QVERIFY(delegate->isPopoverShown());
        center->post(NotificationCenter::OpenPopover);   // already shown: nothing happens
        QVERIFY(delegate->isPopoverShown());
        delegate->togglePopover();
        QVERIFY(!delegate->isPopoverShown());
        center->post(NotificationCenter::ClosePopover);   // already hidden
        QVERIFY(!delegate->isPopoverShown());
        center->post(NotificationCenter::OpenPopover);
        QVERIFY(delegate->isPopoverShown());
        center->post(NotificationCenter::ClosePopover);
        QVERIFY(!delegate->isPopoverShown());
    }

    void rightClickNeverOpensPopover()
    {
        delegate->handleStatusItemAction(QSystemTrayIcon::Context);
        QVERIFY(!delegate->isPopoverShown());
        delegate->handleStatusItemAction(QSystemTrayIcon::Trigger);
        QVERIFY(delegate->isPopoverShown());
        delegate->handleStatusItemAction(QSystemTrayIcon::Context);
        QVERIFY(delegate->isPopoverShown());
        delegate->handleStatusItemAction(QSystemTrayIcon::Trigger);
        QVERIFY(!delegate->isPopoverShown());
    }

    void openingDashboardClosesPopover()
    {
        delegate->handleOpenPopover();
        QVERIFY(delegate->isPopoverShown());
        center->post(NotificationCenter::OpenDashboard, {{"tab", "Settings"}});
        QVERIFY(!delegate->isPopoverShown());
    }

    void deactivationClosesPopover()
    {
        delegate->handleOpenPopover();
        QVERIFY(QTest::qWaitForWindowActive(delegate->popover()));
        // A click elsewhere: another window takes the focus.
        delegate->dashboardWindow()->requestActivate();
        QTRY_VERIFY(!delegate->isPopoverShown());
        // The click that closed it does not reopen it at once.
        delegate->togglePopover();
        QVERIFY(!delegate->isPopoverShown());
        QTest::qWait(350);
        delegate->togglePopover();
        QVERIFY(delegate->isPopoverShown());
    }

    void statusMenuEntries()
    {
        QMenu *menu = delegate->statusMenu();
        QVERIFY(menu);
        const QList<QAction *> actions = menu->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions[0]->text(), QStringLiteral("Settings..."));
        QVERIFY(actions[1]->isSeparator());
        QCOMPARE(actions[2]->text(), QStringLiteral("Quit Quillmoor"));
        QCOMPARE(delegate->statusItem()->contextMenu(), menu);

        delegate->handleOpenPopover();
        actions[0]->trigger();
        QVERIFY(!delegate->isPopoverShown());
        QCOMPARE(pageTitle(*delegate), QStringLiteral("AI Hardware"));
        QCOMPARE(visibleDashboards(), 1);
    }

    void popoverButtonsPostNotifications()
    {
        QSignalSpy posted(center.get(), &NotificationCenter::posted);
        delegate->handleOpenPopover();
        QQuickItem *root = delegate->popover()->rootObject();
        QVERIFY(QMetaObject::invokeMethod(root->property("notifications").value<QObject *>(), "post",
                                          Q_ARG(QString, QStringLiteral("TourUpdatePopoverTab")),
                                          Q_ARG(QVariantMap, (QVariantMap{{"tabIndex", 3}}))));
        QCOMPARE(root->property("selectedTab").toInt(), 3);
        delegate->handleClosePopover();
        center->post(NotificationCenter::TourUpdatePopoverTab, {{"tabIndex", 1}});
        QCOMPARE(root->property("selectedTab").toInt(), 3);   // closed popover ignores the tour
    }

    void sidebarFollowsPersona()
    {
        QStringList texts = visibleTexts(delegate->dashboardWindow()->rootObject());
        QVERIFY(texts.contains("AI INTELLIGENCE"));
        QVERIFY(texts.contains("Network"));
        QVERIFY(texts.contains("History"));

        prefs->setWorkspacePersona(QStringLiteral("Gamer"));
        center->post(NotificationCenter::OpenDashboard, {{"tab", "Game Caches"}});
        texts = visibleTexts(delegate->dashboardWindow()->rootObject());
        QVERIFY(texts.contains("GAMER SUITE"));
        QVERIFY(texts.contains("Fans & Cooling"));
        QVERIFY(!texts.contains("Network"));
        QVERIFY(!texts.contains("History"));
        QVERIFY(texts.contains("PREFERENCES"));
        QVERIFY(texts.contains("AI-FIRST CO-PILOT"));
    }

    void pageSelection()
    {
        QCOMPARE(PersonaCatalog::pageFor("Game Caches"), QStringLiteral("DiskPage"));
        QCOMPARE(PersonaCatalog::pageFor("Disk"), QStringLiteral("DiskPage"));
        QCOMPARE(PersonaCatalog::pageFor("Fans & Cooling"), QStringLiteral("FansPage"));
        QCOMPARE(PersonaCatalog::pageFor("VRAM Shield"), QStringLiteral("MemoryPage"));
        QCOMPARE(PersonaCatalog::pageFor("System Info"), QStringLiteral("SystemInfoPage"));
        QCOMPARE(PersonaCatalog::pageFor("Nowhere"), QString());
    }

    void popoverPlacement()
    {
        const QRect screen(0, 0, 1920, 1080);
        const QSize size = AppDelegate::kPopoverSize;
        // Top panel: hangs below the icon, centred on it.
        QCOMPARE(AppDelegate::popoverPosition(QRect(1000, 0, 22, 22), QRect(0, 28, 1920, 1052), size), QPoint(850, 28));
        // Bottom panel near the right edge: above the icon, kept on screen.
        const QPoint bottom = AppDelegate::popoverPosition(QRect(1890, 1050, 22, 30), QRect(0, 0, 1920, 1044), size);
        QCOMPARE(bottom.x(), 1920 - 320);
        QCOMPARE(bottom.y(), 1050 - 6 - 620);
        // No geometry from the tray host: top-right corner of the screen.
        QCOMPARE(AppDelegate::popoverPosition(QRect(), screen, size), QPoint(1920 - 6 - 320, 6));
        // A screen smaller than the popover pins it to the top-left.
        QCOMPARE(AppDelegate::popoverPosition(QRect(), QRect(0, 0, 300, 400), size), QPoint(0, 0));
    }

    void themeButtonWrapsInPopover()
    {
        themes->setCurrentTheme(AppTheme::Light);
        QVERIFY(QMetaObject::invokeMethod(themes.get(), "selectNextTheme"));
        QCOMPARE(themes->currentThemeName(), QStringLiteral("Standard"));
        QCOMPARE(delegate->popover()->rootObject()->property("color").value<QColor>(), QColor::fromString(themes->contentBackground()));
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_AppDelegate.moc"
