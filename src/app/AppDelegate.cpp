#include "AppDelegate.h"


#include "NotificationCenter.h"
#include "Preferences.h"
#include "ThemeManager.h"
#include "copilot/AIService.h"
#include "exporter/MetricsEndpoint.h"
#include "platform/ApplicationLauncher.h"
#include "localai/LocalAIService.h"
#include "presets/PresetManager.h"
#include "telemetry/DriveHealthMonitor.h"
#include "telemetry/PingService.h"
#include "processes/ProcessMonitor.h"
#include "telemetry/SystemStatsProvider.h"
#include "ui/ApplicationIconProvider.h"
#include "ui/MenuBarView.h"
#include "ui/PersonaCatalog.h"
#include "ui/QmlServices.h"
#include "ui/SymbolImageProvider.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPixmap>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
// The memory free now, for the installed models' fit verdicts, from the telemetry's last
// sample: the GPU's as its driver reports it (the telemetry leaves 0 where the driver gives
// no figure), system memory as total less used, which is MemAvailable. Null before the
// first sample.
std::optional<FreeMemory> freeMemoryFrom(const SystemStatsProvider &stats)
{
    if (stats.memoryTotal() <= 0)
        return std::nullopt;
    const auto bytes = [](double gb) { return qint64(std::llround(std::max(gb, 0.0) * 1073741824.0)); };
    FreeMemory free;
    free.ramTotal = bytes(stats.memoryTotal());
    free.ramAvailable = bytes(stats.memoryTotal() - stats.memoryUsed());
    if (stats.gpuMemoryTotal() > 0) {
        free.gpuTotal = bytes(stats.gpuMemoryTotal());
        free.gpuFree = bytes(stats.gpuMemoryTotal() - stats.gpuMemoryUsed());
    }
    return free;
}

// Two-second work runs on one of every two telemetry passes rather than on a timer of its
// own: it shares the tick's wake-up, and an open window repaints once for both. `phase`
// picks which pass of each round (0 on the second, 1 on the first), so that work can be
// spread over the two.
template<typename Work>
void onSamples(SystemStatsProvider *stats, QObject *receiver, int intervalMs, int phase, Work work)
{
    const int every = std::max(1, intervalMs / SystemStatsProvider::kIntervalMs);
    QObject::connect(stats, &SystemStatsProvider::sampled, receiver, [every, phase, work, passes = 0]() mutable {
        if (++passes % every == phase)
            work();
    });
}

constexpr int kPopoverGap = 6;
constexpr qint64 kReopenGuardMs = 300;

const QUrl kPopoverSource(QStringLiteral("qrc:/Quillmoor/PopoverView.qml"));
const QUrl kDashboardSource(QStringLiteral("qrc:/Quillmoor/SettingsView.qml"));

QScreen *screenFor(const QRect &anchor)
{
    QScreen *screen = anchor.isValid() ? QGuiApplication::screenAt(anchor.center()) : nullptr;
    if (!screen)
        screen = QGuiApplication::screenAt(QCursor::pos());
    return screen ? screen : QGuiApplication::primaryScreen();
}
}

AppDelegate::AppDelegate(AppServices services, QObject *parent)
    : QObject(parent)
    , m_services(services)
{
}

AppDelegate::~AppDelegate()
{
    for (const QPointer<QQuickView> &retired : std::as_const(m_retiredDashboards))
        delete retired.data();
    // Its destruction hides it, which must not come back here half torn down.
    if (m_dashboardWindow)
        m_dashboardWindow->disconnect(this);
    delete m_dashboardWindow.data();
    delete m_advisoryWindow.data();
}

void AppDelegate::setUpEngine(Preferences &preferences, NotificationCenter &center)
{
    m_engine = std::make_unique<QQmlEngine>();
    m_engine->addImageProvider(QStringLiteral("symbol"), new SymbolImageProvider);
    m_engine->addImageProvider(QStringLiteral("appicon"), new ApplicationIconProvider);
    connect(m_engine.get(), &QQmlEngine::quit, QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    m_personas = std::make_unique<PersonaCatalog>();
    QmlServices::Set set;
    set.stats = m_stats;
    set.processMonitor = m_processMonitor;
    set.theme = m_themeManager;
    set.preferences = &preferences;
    set.notifications = &center;
    set.aiService = m_ai;
    set.presets = m_presets;
    set.personas = m_personas.get();
    set.localAI = m_localAI;
    set.ping = m_ping;
    // The services below start work of their own once made, so they wait for a screen.
    set.buildCaches = m_services.buildCaches.orElse([] { return &BuildCacheService::shared(); });
    set.latencyProbe = m_services.latencyProbe.orElse([] { return &LocalAPILatencyService::shared(); });
    set.proxy = m_services.proxy.orElse([] { return &LocalAPIProxyService::shared(); });
    set.metrics = m_services.metrics.orElse([] { return &MetricsEndpoint::shared(); });
    set.updater = m_services.updater.orElse([] { return &AutoUpdater::shared(); });
    set.launchAtLogin = m_services.launchAtLogin.orElse([] { return &LaunchAtLoginManager::shared(); });
    set.driveHealth = m_services.driveHealth.orElse([] { return &DriveHealthMonitor::shared(); });
    QmlServices::install(*m_engine, std::move(set));
}

void AppDelegate::applicationDidFinishLaunching(const QString &firstPage)
{
    NotificationCenter &center = m_services.notifications ? *m_services.notifications : NotificationCenter::shared();
    Preferences &preferences = m_services.preferences ? *m_services.preferences : Preferences::shared();

    // 1. Dashboard requests from any screen.
    center.observe(NotificationCenter::OpenDashboard, this, [this](const QVariantMap &info) { showSettings(info); });

    // 2. Telemetry; creating it starts the one-second sampling.
    m_stats = m_services.stats ? m_services.stats : &SystemStatsProvider::shared();

    // The local AI service polls every two seconds from here on; the telemetry's AI memory
    // and neural-engine figures follow its loaded models, and its demo switch decides
    // whether an empty model hub shows the sample figure.
    m_localAI = m_services.localAI ? m_services.localAI : &LocalAIService::shared();
    m_stats->setLoadedModelSizesSource([ai = QPointer<LocalAIService>(m_localAI)] {
        return ai ? ai->loadedModelSizes() : QList<qint64>{};
    });
    m_stats->setShowsDemoHubFigure(m_localAI->demoMode());
    m_stats->setBuildTurboSource([ai = QPointer<LocalAIService>(m_localAI)] { return ai && ai->buildTurboEnabled(); });
    m_stats->setDemoModeSource([ai = QPointer<LocalAIService>(m_localAI)] { return ai && ai->demoMode(); });
    connect(m_localAI, &LocalAIService::demoModeChanged, m_stats,
            [stats = m_stats, ai = m_localAI] { stats->setShowsDemoHubFigure(ai->demoMode()); });
    // The installed models' verdicts follow the memory free, sample by sample.
    m_localAI->setFreeMemory(freeMemoryFrom(*m_stats));
    connect(m_stats, &SystemStatsProvider::sampled, m_localAI,
            [stats = m_stats, ai = m_localAI] { ai->setFreeMemory(freeMemoryFrom(*stats)); });
    if (!m_services.localAI) {
        // Its pass runs on the telemetry passes the process table skips.
        m_localAI->stopPolling();
        onSamples(m_stats, m_localAI, LocalAIService::kIntervalMs, 1, [ai = m_localAI] { ai->runPass(); });
    }

    // 3. The process table; it samples every two seconds from here on, with the telemetry.
    if (m_services.processMonitor) {
        m_processMonitor = m_services.processMonitor;
    } else {
        // NVIDIA's per-process figures come through the NVML handle the telemetry keeps
        // open, rather than the table loading the library a second time.
        ProcessSources processSources;
        processSources.nvmlProcesses = [stats = QPointer<SystemStatsProvider>(m_stats)] {
            return stats ? stats->gpuProcessMemory() : std::nullopt;
        };
        m_ownedProcessMonitor = std::make_unique<ProcessMonitor>(
            [stats = QPointer<SystemStatsProvider>(m_stats)] { return stats ? stats->cpuUsage() : 0.0; },
            std::move(processSources), ProcessMonitor::Polling::Manual);
        m_processMonitor = m_ownedProcessMonitor.get();
        onSamples(m_stats, m_processMonitor, ProcessMonitor::kIntervalMs, 0,
                  [monitor = m_processMonitor] { monitor->updateProcesses(); });
    }

    // 4. The pinger; one echo every two seconds from here on.
    if (m_services.ping) {
        m_ping = m_services.ping;
    } else {
        // Its echoes go out on the same ticks as the local-AI pass.
        m_ownedPing = std::make_unique<PingService>(PingSources{}, PingService::Polling::Manual);
        m_ping = m_ownedPing.get();
        onSamples(m_stats, m_ping, PingService::kIntervalMs, 1, [ping = m_ping] { ping->ping(); });
    }

    // Preset advisories that no terminal could show come to a window of their own.
    m_presets = m_services.presets ? m_services.presets : &PresetManager::shared();
    connect(m_presets, &PresetManager::advisoryNeedsWindow, this, &AppDelegate::showAdvisoryWindow);

    // The metrics endpoint listens from launch when switched on; off, it is made only when
    // the settings page first shows its switch.
    if (preferences.metricsEndpointEnabled())
        m_services.metrics.orElse([] { return &MetricsEndpoint::shared(); }).get();

    // The co-pilot answers from this telemetry.
    if (m_services.ai) {
        m_ai = m_services.ai;
    } else {
        AIServiceSources sources;
        sources.telemetry = [stats = QPointer<SystemStatsProvider>(m_stats)] {
            return stats ? CopilotTelemetry{stats->cpuUsage(), stats->memoryPressure(), stats->socTemperature(),
                                            stats->batteryPercentage()}
                         : CopilotTelemetry{};
        };
        m_ownedAI = std::make_unique<AIService>(std::move(sources));
        m_ai = m_ownedAI.get();
    }

    // 5. Theme.
    m_themeManager = m_services.themeManager ? m_services.themeManager : &ThemeManager::shared();

    setUpEngine(preferences, center);

    // 6. The telemetry tray icon and its menu.
    m_statusMenu = std::make_unique<QMenu>();
    QAction *settings = m_statusMenu->addAction(QStringLiteral("Settings..."), this, [this] { showSettings(); });
    settings->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    m_statusMenu->addSeparator();
    QAction *quit = m_statusMenu->addAction(QStringLiteral("Quit Quillmoor"), QCoreApplication::instance(), &QCoreApplication::quit);
    quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));

    m_statusItem = std::make_unique<QSystemTrayIcon>();
    m_statusItem->setContextMenu(m_statusMenu.get());
    connect(m_statusItem.get(), &QSystemTrayIcon::activated, this, &AppDelegate::handleStatusItemAction);
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        updateStatusIcon();
        connect(m_stats, &SystemStatsProvider::sampled, this, &AppDelegate::updateStatusIcon);
        m_statusItem->show();
    } else {
        std::printf("No system tray available: the dashboard is the way in.\n");
        std::fflush(stdout);
    }

    // 7-8. The popover and its content.
    m_popover = std::make_unique<QQuickView>(m_engine.get(), nullptr);
    m_popover->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_popover->setColor(Qt::transparent);
    m_popover->setResizeMode(QQuickView::SizeRootObjectToView);
    m_popover->resize(kPopoverSize);
    m_popover->setTitle(QStringLiteral("Quillmoor"));
    m_popover->setSource(kPopoverSource);
    for (const QQmlError &error : m_popover->errors())
        std::printf("PopoverView: %s\n", qPrintable(error.toString()));
    if (QQuickItem *root = m_popover->rootObject())
        connect(root, SIGNAL(openApplication(QString)), this, SLOT(openApplication(QString)));

    // 9. Tour-driven popover requests.
    center.observe(NotificationCenter::OpenPopover, this, [this](const QVariantMap &) { handleOpenPopover(); });
    center.observe(NotificationCenter::ClosePopover, this, [this](const QVariantMap &) { handleClosePopover(); });

    // 10. The dashboard opens at every launch.
    if (firstPage.isEmpty())
        showSettings();
    else
        showSettings({{QStringLiteral("tab"), firstPage}});
}

void AppDelegate::openApplication(const QString &path)
{
    if (!ApplicationLauncher::open(path)) {
        std::printf("Failed to open %s\n", qPrintable(path));
        std::fflush(stdout);
    }
}

void AppDelegate::updateStatusIcon()
{
    const MenuBarView::Figures figures = MenuBarView::figuresFrom(*m_stats);
    const QString toolTip = MenuBarView::toolTip(figures);
    if (toolTip != m_statusItem->toolTip())
        m_statusItem->setToolTip(toolTip);
    // The slot is asked for only when the picture is due, and then at most every
    // kSlotRecheckMs: on X11 each ask is a round trip to the server, it was a third of
    // what a new picture cost, and slots rarely change size.
    if (m_statusIcon && MenuBarView::drawsSame(m_statusIcon->figures, figures, m_statusIcon->layout))
        return;
    const qreal dpr = qApp->devicePixelRatio() > 1 ? qApp->devicePixelRatio() : 2.0;
    if (!m_slotAsked.isValid() || m_slotAsked.hasExpired(kSlotRecheckMs)) {
        m_slotLayout = MenuBarView::layoutFor(m_statusItem->geometry());
        m_slotAsked.start();
    }
    const MenuBarView::Layout layout = m_slotLayout;
    const QImage icon = layout == MenuBarView::Layout::Wide ? MenuBarView::render(figures, dpr)
                                                            : MenuBarView::renderCompact(figures, dpr);
    const bool changed = !m_statusIcon || icon != m_statusIcon->image;
    m_statusIcon = StatusIcon{figures, layout, icon};
    if (changed)
        m_statusItem->setIcon(QIcon(QPixmap::fromImage(icon)));
}

void AppDelegate::handleStatusItemAction(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Context)
        return;   // the host drops the menu down; a left click afterwards still toggles
    togglePopover();
}

bool AppDelegate::isPopoverShown() const
{
    return m_popover && m_popover->isVisible();
}

void AppDelegate::togglePopover()
{
    if (!m_popover)
        return;
    if (isPopoverShown()) {
        closePopover();
        return;
    }
    if (m_sinceOutsideClose.isValid() && m_sinceOutsideClose.elapsed() < kReopenGuardMs)
        return;
    openPopover();
}

void AppDelegate::handleOpenPopover()
{
    if (m_popover && !isPopoverShown())
        openPopover();
}

void AppDelegate::handleClosePopover()
{
    if (isPopoverShown())
        closePopover();
}

QPoint AppDelegate::popoverPosition(const QRect &anchor, const QRect &available, QSize size)
{
    QPoint pos;
    if (anchor.isValid() && !anchor.isEmpty()) {
        pos.setX(anchor.center().x() - size.width() / 2);
        // Hang below a top panel, stand above a bottom one.
        if (anchor.center().y() < available.center().y())
            pos.setY(anchor.bottom() + 1 + kPopoverGap);
        else
            pos.setY(anchor.top() - kPopoverGap - size.height());
        // A side panel: beside the icon instead.
        if (anchor.center().x() < available.left() || anchor.center().x() > available.right()) {
            pos.setX(anchor.center().x() < available.left() ? available.left() + kPopoverGap
                                                             : available.right() + 1 - kPopoverGap - size.width());
            pos.setY(anchor.center().y() - size.height() / 2);
        }
    } else {
        pos = QPoint(available.right() + 1 - kPopoverGap - size.width(), available.top() + kPopoverGap);
    }
    const int maxX = std::max(available.left(), available.right() + 1 - size.width());
    const int maxY = std::max(available.top(), available.bottom() + 1 - size.height());
    return {std::clamp(pos.x(), available.left(), maxX), std::clamp(pos.y(), available.top(), maxY)};
}

void AppDelegate::openPopover()
{
    const QRect anchor = m_statusItem && m_statusItem->isVisible() ? m_statusItem->geometry() : QRect();
    QScreen *screen = screenFor(anchor);
    if (screen) {
        m_popover->setScreen(screen);
        m_popover->setPosition(popoverPosition(anchor, screen->availableGeometry(), kPopoverSize));
    }
    m_popover->show();
    m_popover->raise();
    m_popover->requestActivate();

    // Outside clicks: the popover loses activation, or the whole app does.
    QObject::disconnect(m_deactivationWatch);
    QObject::disconnect(m_appStateWatch);
    m_deactivationWatch = connect(m_popover.get(), &QWindow::activeChanged, this, [this] {
        if (m_popover && !m_popover->isActive() && m_popover->isVisible()) {
            m_sinceOutsideClose.start();
            closePopover();
        }
    });
    m_appStateWatch = connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive && isPopoverShown()) {
            m_sinceOutsideClose.start();
            closePopover();
        }
    });
}

void AppDelegate::closePopover()
{
    QObject::disconnect(m_deactivationWatch);
    QObject::disconnect(m_appStateWatch);
    if (m_popover)
        m_popover->hide();
}

QString AppDelegate::dashboardTab(const QVariantMap &userInfo)
{
    const QVariant tab = userInfo.value(QStringLiteral("tab"));
    QString name = tab.typeId() == QMetaType::QString ? tab.toString() : QStringLiteral("AI Hardware");
    if (name == QLatin1String("AI Monitor"))
        name = QStringLiteral("AI Hardware");
    return name;
}

void AppDelegate::showAdvisoryWindow(const QStringList &lines)
{
    if (m_advisoryWindow) {
        m_advisoryWindow->close();
        m_advisoryWindow->deleteLater();
    }
    auto *window = new QQuickView(m_engine.get(), nullptr);
    window->setTitle(QStringLiteral("Quillmoor Advisory"));
    window->setResizeMode(QQuickView::SizeRootObjectToView);
    window->resize(QSize(900, 260));
    window->setInitialProperties({{QStringLiteral("lines"), lines}});
    window->setSource(QUrl(QStringLiteral("qrc:/Quillmoor/AdvisoryView.qml")));
    for (const QQmlError &error : window->errors())
        std::printf("AdvisoryView: %s\n", qPrintable(error.toString()));
    if (QQuickItem *root = window->rootObject())
        connect(root, SIGNAL(closeRequested()), window, SLOT(close()));
    m_advisoryWindow = window;
    window->show();
    window->raise();
}

void AppDelegate::retireDashboard()
{
    // The window may be the sender of what led here (a button on it, its close), so it is
    // hidden now and deleted once control is back in the event loop.
    QPointer<QQuickView> window = m_dashboardWindow;
    m_dashboardWindow = nullptr;
    if (!window)
        return;
    window->disconnect(this);
    window->close();
    window->deleteLater();
    m_retiredDashboards.removeAll(nullptr);
    m_retiredDashboards.append(window);
}

void AppDelegate::showSettings(const QVariantMap &userInfo)
{
    if (isPopoverShown())
        closePopover();

    const QString tab = dashboardTab(userInfo);

    // A fresh window every time.
    retireDashboard();

    auto *window = new QQuickView(m_engine.get(), nullptr);
    window->setTitle(QStringLiteral("Quillmoor Dashboard"));
    window->setResizeMode(QQuickView::SizeRootObjectToView);
    window->resize(kDashboardSize);
    window->setMinimumSize(QSize(760, 520));
    window->setInitialProperties({{QStringLiteral("initialTab"), tab}});
    window->setSource(kDashboardSource);
    for (const QQmlError &error : window->errors())
        std::printf("SettingsView: %s\n", qPrintable(error.toString()));

    if (QScreen *screen = screenFor(QRect())) {
        window->setScreen(screen);
        const QRect area = screen->availableGeometry();
        window->setPosition(area.center() - QPoint(kDashboardSize.width() / 2, kDashboardSize.height() / 2));
    }
    m_dashboardWindow = window;
    // A closed dashboard is not kept: hidden, its pages would still follow every sample.
    connect(window, &QWindow::visibleChanged, this, [this, window](bool visible) {
        if (!visible && window == m_dashboardWindow)
            retireDashboard();
    });
    window->show();
    window->raise();
    window->requestActivate();
}
