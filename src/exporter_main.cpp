// quillmoor-exporter: the metrics endpoint without a desktop, for servers and for scripts.
// It runs the telemetry, the Ollama listing and the cache walks the app runs, but none of
// the app's protections or windows: it reads, and never freezes, kills or deletes.

#include "app/Preferences.h"
#include "caches/BuildCacheService.h"
#include "exporter/MetricsEndpoint.h"
#include "exporter/MetricsFormatter.h"
#include "localai/LocalAIService.h"
#include "platform/QuitSignals.h"
#include "platform/StdoutDiversion.h"
#include "telemetry/SystemStatsProvider.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {
// How often the exporter reads the machine, asks Ollama for its loaded models and walks the
// caches. The app reads every second because a screen shows it; here nobody looks between
// scrapes (every 15 s by Prometheus's default), and the kernel's counters are read at the
// scrape itself, so a telemetry pass every 5 s keeps the CPU share and the power draw fresh
// at a fifth of the cost. Caches grow over hours, and walking them costs far more.
constexpr int kTelemetryIntervalMs = 5000;
constexpr int kModelsIntervalMs = 15000;
constexpr int kCachesIntervalMs = 10 * 60 * 1000;
// For --once: the CPU share needs two readings of the counters this far apart.
constexpr int kOnceIntervalMs = 1000;

struct Engine
{
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<SystemStatsProvider> stats;
    std::unique_ptr<LocalAIService> localAI;
    std::unique_ptr<BuildCacheService> caches;
};

Engine makeEngine(bool withCaches)
{
    Engine engine;
    // Its own settings file: the desktop app's baselines and switches stay the app's.
    engine.preferences = std::make_unique<Preferences>(
        new QSettings(QStringLiteral("Quillmoor"), QStringLiteral("quillmoor-exporter")));
    TelemetrySources telemetry = TelemetrySources::forThisMachine();
    telemetry.publicAddressUrl = QUrl();   // the public address is not exported: never asked for
    engine.stats = std::make_unique<SystemStatsProvider>(*engine.preferences, std::move(telemetry),
                                                         SystemStatsProvider::Polling::Manual);
    // A server has no one to show a high-CPU alert to, and a desktop has the app for that.
    engine.stats->setNotificationBus(QDBusConnection(QStringLiteral("quillmoor-exporter-no-bus")));
    engine.localAI = std::make_unique<LocalAIService>(LocalAISources{}, LocalAIService::Polling::Manual);
    engine.localAI->setDemoMode(false);   // the desktop's sample workspace has no place here
    if (withCaches)
        engine.caches = std::make_unique<BuildCacheService>(BuildCacheSources{}, BuildCacheService::Polling::Manual);
    return engine;
}

MetricsSources sourcesOf(const Engine &engine)
{
    MetricsSources sources;
    sources.stats = engine.stats.get();
    sources.localAI = engine.localAI.get();
    sources.caches = engine.caches.get();
    return sources;
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quillmoor"));
    QCoreApplication::setApplicationName(QStringLiteral("quillmoor-exporter"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLMOOR_VERSION));

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "Serves Quillmoor's figures for Prometheus at /metrics, or prints one sample and exits."));
    options.addHelpOption();
    options.addVersionOption();
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Where to serve /metrics (default %1).").arg(QLatin1String(MetricsEndpoint::kDefaultAddress)),
                                    QStringLiteral("address:port"), QLatin1String(MetricsEndpoint::kDefaultAddress));
    const QCommandLineOption once(QStringLiteral("once"), QStringLiteral("Print one sample and exit (cache sizes are left out: walking them takes too long)."));
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("With --once: openmetrics, prometheus or json (default openmetrics)."),
                                    QStringLiteral("format"), QStringLiteral("openmetrics"));
    options.addOptions({listen, once, format});
    options.process(app);

    if (options.isSet(once)) {
        const QString name = options.value(format).toLower();
        MetricsFormatter::Format chosen;
        if (name == QLatin1String("openmetrics"))
            chosen = MetricsFormatter::Format::OpenMetrics;
        else if (name == QLatin1String("prometheus"))
            chosen = MetricsFormatter::Format::Prometheus;
        else if (name == QLatin1String("json"))
            chosen = MetricsFormatter::Format::Json;
        else {
            std::fprintf(stderr, "quillmoor-exporter: unknown format \"%s\" (openmetrics, prometheus or json)\n",
                         qPrintable(name));
            return 2;
        }
        // The services' log lines go to standard error: standard output carries the sample only.
        const StdoutDiversion output;
        Engine engine = makeEngine(false);
        engine.stats->updateStats();
        int pending = 2;   // the second telemetry reading and Ollama's listing
        const auto finish = [&] {
            if (--pending > 0)
                return;
            MetricsEndpoint endpoint(sourcesOf(engine));
            app.exit(output.write(MetricsFormatter::write(endpoint.collect(), chosen)) ? 0 : 1);
        };
        QTimer::singleShot(kOnceIntervalMs, &app, [&] {
            engine.stats->updateStats();
            finish();
        });
        engine.localAI->updateModels(finish);
        return app.exec();
    }

    Engine engine = makeEngine(true);
    MetricsEndpoint endpoint(sourcesOf(engine));
    if (!endpoint.start(options.value(listen))) {
        std::fprintf(stderr, "quillmoor-exporter: %s\n", qPrintable(endpoint.errorString()));
        return 1;
    }
    std::printf("quillmoor-exporter: serving http://%s/metrics\n", qPrintable(endpoint.address()));
    std::fflush(stdout);

    QTimer telemetry;
    QObject::connect(&telemetry, &QTimer::timeout, engine.stats.get(), [&] { engine.stats->updateStats(); });
    telemetry.start(kTelemetryIntervalMs);
    engine.stats->updateStats();
    QTimer models;
    QObject::connect(&models, &QTimer::timeout, engine.localAI.get(), [&] { engine.localAI->updateModels(); });
    models.start(kModelsIntervalMs);
    engine.localAI->updateModels();
    QTimer caches;
    QObject::connect(&caches, &QTimer::timeout, engine.caches.get(), [&] { engine.caches->scanCaches(); });
    caches.start(kCachesIntervalMs);
    engine.caches->scanCaches();
    // `systemctl --user stop` sends SIGTERM: the listener closes and a cache walk in
    // progress is waited for, and the unit ends with status 0 instead of by a signal.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, &QCoreApplication::quit);
    return app.exec();
}
