#pragma once

#include "ui/MenuBarView.h"
#include "ui/QmlServices.h"

#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QQuickView>
#include <QSize>
#include <QRect>
#include <QSystemTrayIcon>
#include <QVariantMap>

#include <memory>
#include <optional>

class AIService;
class LocalAIService;
class NotificationCenter;
class PersonaCatalog;
class Preferences;
class QMenu;
class QQmlEngine;

class PingService;
class PresetManager;
class ProcessMonitor;
class SystemStatsProvider;
class ThemeManager;

// The services the shell wires together. Null members are taken from their shared()
// instances at the step of start-up that needs them; tests hand in their own.
struct AppServices
{
    SystemStatsProvider *stats = nullptr;
    ThemeManager *themeManager = nullptr;
    Preferences *preferences = nullptr;
    NotificationCenter *notifications = nullptr;
    ProcessMonitor *processMonitor = nullptr;   // null: the delegate creates and owns one
    LocalAIService *localAI = nullptr;          // null: LocalAIService::shared()
    PingService *ping = nullptr;                // null: the delegate creates and owns one
    PresetManager *presets = nullptr;           // null: PresetManager::shared()
    AIService *ai = nullptr;                    // null: the delegate creates one over `stats`
    // Made the first time a screen asks for them; unset: their shared() instances.
    QmlServices::Ref<BuildCacheService> buildCaches = {};
    QmlServices::Ref<LocalAPILatencyService> latencyProbe = {};
    QmlServices::Ref<LocalAPIProxyService> proxy = {};
    QmlServices::Ref<MetricsEndpoint> metrics = {};
    QmlServices::Ref<AutoUpdater> updater = {};
    QmlServices::Ref<LaunchAtLoginManager> launchAtLogin = {};
    QmlServices::Ref<DriveHealthMonitor> driveHealth = {};
};

// Builds the telemetry tray icon, the popover and the dashboard window, and routes clicks
// and the in-process notifications between them.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    static constexpr QSize kPopoverSize{320, 620};
    static constexpr QSize kDashboardSize{960, 700};

    explicit AppDelegate(AppServices services = {}, QObject *parent = nullptr);
    ~AppDelegate() override;

    // `firstPage`: the page the launch dashboard opens on; empty for the usual one.
    void applicationDidFinishLaunching(const QString &firstPage = {});

    // A click on the telemetry tray icon. The tray host shows the context menu on a right
    // click itself; every other activation toggles the popover.
    void handleStatusItemAction(QSystemTrayIcon::ActivationReason reason);
    void togglePopover();
    void handleOpenPopover();
    void handleClosePopover();
    // (Re)creates the dashboard on the page named by userInfo["tab"].
    void showSettings(const QVariantMap &userInfo = {});

    // The page a dashboard request opens: its "tab" text, "AI Hardware" without one, and
    // "AI Hardware" for the old name "AI Monitor".
    static QString dashboardTab(const QVariantMap &userInfo);

    // Where the popover goes: next to the tray icon when the host reports its geometry,
    // else at the top-right corner of the available area; always inside that area.
    static QPoint popoverPosition(const QRect &anchor, const QRect &available, QSize size);

    bool isPopoverShown() const;
    QQuickView *popover() const { return m_popover.get(); }
    QQuickView *dashboardWindow() const { return m_dashboardWindow; }
    QSystemTrayIcon *statusItem() const { return m_statusItem.get(); }
    QMenu *statusMenu() const { return m_statusMenu.get(); }
    QQmlEngine *engine() const { return m_engine.get(); }
    ProcessMonitor *processMonitor() const { return m_processMonitor; }
    PingService *pingService() const { return m_ping; }
    PresetManager *presets() const { return m_presets; }
    // The window that shows an advisory's lines when no terminal could be opened.
    QQuickView *advisoryWindow() const { return m_advisoryWindow; }
    void showAdvisoryWindow(const QStringList &lines);
    LocalAIService *localAI() const { return m_localAI; }
    AIService *aiService() const { return m_ai; }

    // Draws the tray icon from the latest sample. The host hears of it only when the
    // picture or the tooltip changed: each new icon crosses D-Bus and repaints the panel.
    void updateStatusIcon();

private Q_SLOTS:
    // A click on an application icon in the popover's tray.
    void openApplication(const QString &path);

private:
    void openPopover();
    void closePopover();
    void retireDashboard();
    void setUpEngine(Preferences &preferences, NotificationCenter &center);

    AppServices m_services;
    SystemStatsProvider *m_stats = nullptr;
    std::unique_ptr<ProcessMonitor> m_ownedProcessMonitor;
    PingService *m_ping = nullptr;
    std::unique_ptr<PingService> m_ownedPing;
    PresetManager *m_presets = nullptr;
    AIService *m_ai = nullptr;
    std::unique_ptr<AIService> m_ownedAI;
    QPointer<QQuickView> m_advisoryWindow;
    ProcessMonitor *m_processMonitor = nullptr;
    LocalAIService *m_localAI = nullptr;
    ThemeManager *m_themeManager = nullptr;

    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<PersonaCatalog> m_personas;
    std::unique_ptr<QSystemTrayIcon> m_statusItem;
    // What the tray shows now, so a sample that would draw the same picture draws nothing.
    struct StatusIcon
    {
        MenuBarView::Figures figures;
        MenuBarView::Layout layout;
        QImage image;
    };
    std::optional<StatusIcon> m_statusIcon;
    static constexpr qint64 kSlotRecheckMs = 10'000;
    QElapsedTimer m_slotAsked;
    MenuBarView::Layout m_slotLayout = MenuBarView::Layout::Compact;
    std::unique_ptr<QMenu> m_statusMenu;
    std::unique_ptr<QQuickView> m_popover;
    QPointer<QQuickView> m_dashboardWindow;
    // Replaced dashboards waiting for their deferred deletion; they need the engine, so
    // any still waiting go before it does.
    QList<QPointer<QQuickView>> m_retiredDashboards;

    // The outside-click watch: armed while the popover is open.
    QMetaObject::Connection m_deactivationWatch;
    QMetaObject::Connection m_appStateWatch;
    // A click on the tray icon first deactivates the open popover, closing it; the click
    // that follows must not open it again.
    QElapsedTimer m_sinceOutsideClose;
};
