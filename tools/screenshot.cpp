// Renders Quillmoor's windows offscreen to PNG files, so screens can be looked at (and
// pictured in the README) without a display.
//
//   quillmoor-screenshot OUTDIR [--theme NAME] [--persona NAME] [--page TITLE] [--full] [--popover] [--sample-gpu]
//                        [--tour]
//
// --popover renders the tray icons and the popover's tabs only.
// --sample-gpu shows the process table of a sample machine with an AMD GPU (see
// SampleGpuMachine) instead of this machine's, so the GPU memory card has rows to show.
// --page renders only that dashboard page (and no popover); --full makes each dashboard
// window as tall as its page, so a page that scrolls is pictured whole.
// Writes tray.png and tray-compact.png (the two tray icon layouts), popover-<tab>.png for each popover tab
// (and popover-ai-<sub-page>.png for the AI tab's four), dashboard-<page>.png for
// every sidebar page of every persona, tour-step-<n>.png for each step of the guided tour
// over the dashboard, and advisory.png (a preset advisory without a terminal).
// --tour renders only the tour's steps.

#include "app/AppDelegate.h"
#include "exporter/MetricsEndpoint.h"
#include "app/NotificationCenter.h"
#include "app/Preferences.h"
#include "app/ThemeManager.h"
#include "app/WorkspacePersona.h"
#include "presets/PresetManager.h"
#include "processes/ProcessMonitor.h"
#include "telemetry/PingService.h"
#include "telemetry/SystemStatsProvider.h"
#include "ui/MenuBarView.h"
#include "SampleGpuMachine.h"
#include "SampleOllama.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {
QString slug(QString title)
{
    title = title.toLower();
    for (QChar &c : title)
        if (!c.isLetterOrNumber())
            c = QLatin1Char('-');
    while (title.contains(QLatin1String("--")))
        title.replace(QLatin1String("--"), QLatin1String("-"));
    return title;
}

// The height of the scrolling page the dashboard shows, or 0 when it has none.
qreal pageHeight(QQuickItem *root)
{
    QList<QQuickItem *> queue{root};
    while (!queue.isEmpty()) {
        QQuickItem *item = queue.takeFirst();
        if (item->objectName() == QLatin1String("pageContent")) {
            QObject *page = item->property("item").value<QObject *>();
            return page ? page->property("contentHeight").toReal() : 0;
        }
        queue += item->childItems();
    }
    return 0;
}

bool save(QQuickWindow *window, const QString &path)
{
    // Long enough for a tab's fade-in to end.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    const QImage image = window->grabWindow();
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication app(argc, argv);

    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first().startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "usage: quillmoor-screenshot OUTDIR [--theme NAME] [--persona NAME]\n");
        return 2;
    }
    const QString outDir = args.first();
    QDir().mkpath(outDir);
    const QString theme = args.contains(QStringLiteral("--theme")) ? args.value(args.indexOf(QStringLiteral("--theme")) + 1) : QString();
    const QString persona = args.contains(QStringLiteral("--persona")) ? args.value(args.indexOf(QStringLiteral("--persona")) + 1) : QString();
    const QString onlyPage = args.contains(QStringLiteral("--page")) ? args.value(args.indexOf(QStringLiteral("--page")) + 1) : QString();
    const bool full = args.contains(QStringLiteral("--full"));
    const bool popoverOnly = args.contains(QStringLiteral("--popover"));
    const bool sampleGpu = args.contains(QStringLiteral("--sample-gpu"));
    const bool tourOnly = args.contains(QStringLiteral("--tour"));

    // A private settings file, so the user's own preferences are neither read nor changed.
    QTemporaryDir settingsDir;
    Preferences preferences(new QSettings(settingsDir.filePath(QStringLiteral("screenshot.conf")), QSettings::IniFormat));
    if (!persona.isEmpty())
        preferences.setWorkspacePersona(persona);
    // The pages are pictured without the first run's tour over them; the tour has its own.
    preferences.setHasCompletedOnboardingTour(true);
    ThemeManager themeManager(preferences);
    if (!theme.isEmpty())
        themeManager.setCurrentThemeName(theme);
    NotificationCenter notifications;

    // Two real passes a second apart, so the figures are this machine's.
    SystemStatsProvider stats(preferences, {}, SystemStatsProvider::Polling::Manual);
    stats.updateStats();
    QThread::msleep(1000);
    stats.updateStats();

    // Nothing leaves the machine: the pinger aims at loopback and presets reach no daemon.
    PingSources loopback;
    loopback.host = QStringLiteral("127.0.0.1");
    PingService ping(loopback, PingService::Polling::Manual);
    PresetManager presets;
    AppServices services{&stats, &themeManager, &preferences, &notifications};
    services.ping = &ping;
    services.presets = &presets;
    // The metrics endpoint switched on, serving this machine's figures on loopback, so the
    // settings page shows it at work.
    std::unique_ptr<MetricsEndpoint> metrics;
    services.metrics = QmlServices::Ref<MetricsEndpoint>([&] {
        MetricsSources sources;
        sources.stats = &stats;
        metrics = std::make_unique<MetricsEndpoint>(sources);
        preferences.setMetricsEndpointEnabled(true);
        // On the default address where it is free, so the address field and the line under
        // it agree; else on one the system picks, written back as the address.
        if (!metrics->start(QString::fromLatin1(MetricsEndpoint::kDefaultAddress))) {
            metrics->start(QStringLiteral("127.0.0.1:0"));
            preferences.setMetricsEndpointAddress(metrics->address());
        }
        return metrics.get();
    });
    // The relay in front of a loopback stand-in for Ollama, with a few chats through it.
    SampleOllama sampleOllama;
    std::unique_ptr<LocalAPIProxyService> proxy;
    services.proxy = QmlServices::Ref<LocalAPIProxyService>([&] {
        proxy = sampleOllama.relayWithTraffic();
        return proxy.get();
    });
    SampleGpuMachine gpuMachine;
    std::unique_ptr<ProcessMonitor> gpuProcesses;
    if (sampleGpu) {
        gpuProcesses = gpuMachine.monitor();
        services.processMonitor = gpuProcesses.get();
    }
    AppDelegate delegate(services);
    delegate.applicationDidFinishLaunching();
    // Two samples, so the process lists show this machine's CPU shares.
    delegate.processMonitor()->updateProcesses();
    QThread::msleep(500);
    delegate.processMonitor()->updateProcesses();
    // Once more now the delegate has handed the telemetry the loaded models' sizes, and the
    // model service has listed them (its first pass starts with it).
    QEventLoop listing;
    QTimer::singleShot(500, &listing, &QEventLoop::quit);
    listing.exec();
    stats.updateStats();

    bool ok = true;
    const MenuBarView::Figures figures = MenuBarView::figuresFrom(stats);
    ok &= MenuBarView::render(figures, 4.0).save(outDir + QStringLiteral("/tray.png"));
    ok &= MenuBarView::renderCompact(figures, 4.0).save(outDir + QStringLiteral("/tray-compact.png"));

    const QStringList tabs{QStringLiteral("cpu"), QStringLiteral("network"), QStringLiteral("disk"),
                           QStringLiteral("memory"), QStringLiteral("ai")};
    // The tour's six steps over the dashboard, each as it first appears.
    const auto renderTour = [&] {
        delegate.showSettings({{QStringLiteral("tab"), QStringLiteral("Settings")}});
        QQuickView *window = delegate.dashboardWindow();
        for (int step = 0; step <= 5; ++step) {
            preferences.setOnboardingTourStep(step);
            preferences.setShowOnboardingTour(true);
            ok &= save(window, outDir + QStringLiteral("/tour-step-%1.png").arg(step));
        }
        preferences.setShowOnboardingTour(false);
    };
    if (tourOnly) {
        renderTour();
        return ok ? 0 : 1;
    }

    if (onlyPage.isEmpty()) {
        delegate.handleOpenPopover();
        for (int i = 0; i < tabs.size(); ++i) {
            delegate.popover()->rootObject()->setProperty("selectedTab", i);
            ok &= save(delegate.popover(), outDir + QStringLiteral("/popover-%1.png").arg(tabs[i]));
        }
        // The AI tab's four sub-pages, each on its own.
        if (QObject *ai = delegate.popover()->rootObject()->findChild<QObject *>(QStringLiteral("aiTab"))) {
            const QStringList subTabs{QStringLiteral("telemetry"), QStringLiteral("optimizer"), QStringLiteral("caches"),
                                      QStringLiteral("servers")};
            for (int i = 0; i < subTabs.size(); ++i) {
                ai->setProperty("selectedSubTab", i);
                ok &= save(delegate.popover(), outDir + QStringLiteral("/popover-ai-%1.png").arg(subTabs[i]));
            }
        }
        delegate.handleClosePopover();
        if (popoverOnly)
            return ok ? 0 : 1;
    }

    QStringList titles;
    for (const WorkspacePersona &p : WorkspacePersona::allCases())
        for (const auto &list : {p.personaTools(), p.systemMonitorItems(), WorkspacePersona::utilityItems()})
            for (const SidebarEntry &entry : list)
                if (!titles.contains(entry.title))
                    titles << entry.title;
    if (!onlyPage.isEmpty())
        titles = QStringList{onlyPage};
    for (const QString &title : titles) {
        delegate.showSettings({{QStringLiteral("tab"), title}});
        QQuickView *window = delegate.dashboardWindow();
        if (title == QLatin1String("AI Co-Pilot")) {
            // The health report takes the co-pilot a second; picture it written (and
            // measure the page with it).
            QEventLoop report;
            QTimer::singleShot(1200, &report, &QEventLoop::quit);
            report.exec();
        }
        if (full) {
            QEventLoop layout;   // let the page lay itself out before it is measured
            QTimer::singleShot(100, &layout, &QEventLoop::quit);
            layout.exec();
            // The page starts below the title; 130 points hold the title and the margins.
            const int height = int(pageHeight(window->rootObject())) + 130;
            if (height > window->height())
                window->resize(window->width(), std::min(height, 4000));
        }
        ok &= save(window, outDir + QStringLiteral("/dashboard-%1.png").arg(slug(title)));
    }
    if (!onlyPage.isEmpty())
        return ok ? 0 : 1;

    renderTour();
    delegate.showAdvisoryWindow(PresetManager::developerAdvisoryLines());
    ok &= save(delegate.advisoryWindow(), outDir + QStringLiteral("/advisory.png"));
    return ok ? 0 : 1;
}
