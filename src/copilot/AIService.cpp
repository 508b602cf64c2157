#include "AIService.h"

#include <QHash>
#include <QStringDecoder>
#include <QTimer>

#include <cstdio>
#include <utility>

namespace {
struct KnownProcess
{
    QStringList names;
    const char *explanation;
};

const QList<KnownProcess> &knownProcesses()
{
    static const QList<KnownProcess> table{
        {{QStringLiteral("kernel_task")}, "This is macOS's core system process. High CPU usage here usually means the OS is managing heat by throttling the CPU, not necessarily doing heavy work."},
        {{QStringLiteral("windowserver")}, "Manages everything you see on the screen. High usage is common when using multiple monitors or heavy UI animations."},
        {{QStringLiteral("mdnsresponder")}, "Handles Bonjour networking, discovering devices on your local network."},
        {{QStringLiteral("trustd")}, "Evaluates security certificates. It ensures the apps and websites you connect to are authentic."},
        {{QStringLiteral("syspolicyd")}, "System Policy Daemon. Checks app signatures and Gatekeeper rules."},
        {{QStringLiteral("nsurlsessiond")}, "Handles background downloading and uploading for apps and iCloud."},
        {{QStringLiteral("corespotlightd")}, "Indexes your files for Spotlight search."},
        {{QStringLiteral("docker")}, "Runs containerized applications."},
        {{QStringLiteral("xcode")}, "Apple's IDE. Compiling consumes significant CPU and RAM."},
        {{QStringLiteral("chrome"), QStringLiteral("google chrome")}, "A web browser known for using isolated processes per tab."},
        {{QStringLiteral("systemd")}, "The first process of a Linux system: it starts, stops and supervises every service. Steady CPU use here usually means a service keeps restarting."},
        {{QStringLiteral("xorg")}, "The X display server. It draws windows and passes on keyboard and mouse input; high usage usually follows an application that redraws a lot."},
        {{QStringLiteral("xwayland")}, "Runs older X11 applications inside a Wayland session. Its load follows the X11 apps you have open."},
        {{QStringLiteral("gnome-shell")}, "GNOME's desktop shell and compositor: the top bar, the overview and the drawing of every window. Extensions and animations add to its load."},
        {{QStringLiteral("kwin_wayland")}, "KDE Plasma's window manager and compositor under Wayland. Desktop effects and several monitors raise its load."},
        {{QStringLiteral("pipewire")}, "The audio and video server: it carries sound and screen-sharing streams between applications and devices."},
        {{QStringLiteral("wireplumber")}, "PipeWire's session manager: it decides which device each audio or video stream uses."},
        {{QStringLiteral("dockerd")}, "The Docker daemon. It starts and manages your containers; the work inside them shows in their own processes."},
        {{QStringLiteral("containerd")}, "The container runtime beneath Docker and Kubernetes: it starts and supervises container processes."},
        {{QStringLiteral("ollama")}, "The Ollama server that runs local language models. High CPU, GPU and memory use while a model answers is expected."},
        {{QStringLiteral("tracker-miner-fs"), QStringLiteral("tracker-miner-fs-3")}, "GNOME's file indexer: it reads new and changed files so that search can find them, and calms down once it has caught up."},
        {{QStringLiteral("baloo_file")}, "KDE's file indexer: it reads new and changed files for desktop search, and calms down once it has caught up."},
        {{QStringLiteral("packagekitd")}, "The PackageKit daemon: it looks for and installs software updates for the desktop's software centre."},
        {{QStringLiteral("snapd")}, "The snap daemon: it installs, updates and mounts snap packages."},
    };
    return table;
}

// The forms of the keywords a lemmatiser would bring back to them.
const QHash<QString, QString> &lemmas()
{
    static const QHash<QString, QString> map{
        {QStringLiteral("fans"), QStringLiteral("fan")},
        {QStringLiteral("temperatures"), QStringLiteral("temperature")},
        {QStringLiteral("drains"), QStringLiteral("drain")},
        {QStringLiteral("drained"), QStringLiteral("drain")},
        {QStringLiteral("draining"), QStringLiteral("drain")},
        {QStringLiteral("lags"), QStringLiteral("lag")},
        {QStringLiteral("lagged"), QStringLiteral("lag")},
        {QStringLiteral("lagging"), QStringLiteral("lag")},
        {QStringLiteral("networks"), QStringLiteral("network")},
        {QStringLiteral("networking"), QStringLiteral("network")},
        {QStringLiteral("batteries"), QStringLiteral("battery")},
        {QStringLiteral("powers"), QStringLiteral("power")},
        {QStringLiteral("powered"), QStringLiteral("power")},
        {QStringLiteral("powering"), QStringLiteral("power")},
        {QStringLiteral("memories"), QStringLiteral("memory")},
        {QStringLiteral("hotter"), QStringLiteral("hot")},
        {QStringLiteral("hottest"), QStringLiteral("hot")},
        {QStringLiteral("slower"), QStringLiteral("slow")},
        {QStringLiteral("slowest"), QStringLiteral("slow")},
        {QStringLiteral("slows"), QStringLiteral("slow")},
        {QStringLiteral("slowed"), QStringLiteral("slow")},
        {QStringLiteral("slowing"), QStringLiteral("slow")},
    };
    return map;
}

QString oneDecimal(double value) { return QString::asprintf("%.1f", value); }
QString noDecimals(double value) { return QString::asprintf("%.0f", value); }
}

AIService::AIService(AIServiceSources sources, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
    , m_runner(m_sources.searchPath)
{
    // whatis says "nothing appropriate" on its standard error for every miss.
    m_runner.setDiscardsStandardError(true);
}

// ---- Process explanations -----------------------------------------------------------------

void AIService::explainProcess(const QString &name)
{
    explainProcess(name, [this, name](const QString &text) { Q_EMIT processExplained(name, text); });
}

void AIService::explainProcess(const QString &name, Answer done)
{
    QTimer::singleShot(m_sources.explainDelayMs, this, [this, name, done = std::move(done)] {
        const QString lower = name.toLower();
        // A name such as "-bash" (a login shell) must reach whatis as a name, not an option.
        const QStringList arguments = lower.startsWith(QLatin1Char('-')) ? QStringList{QStringLiteral("--"), lower}
                                                                         : QStringList{lower};
        m_runner.run(
            QStringLiteral("whatis"), arguments,
            [name, lower, done](const CommandRunner::Result &result) {
                if (!result.started || !result.error.isEmpty()) {
                    std::printf("whatis failed: %s\n", qPrintable(result.error));
                    std::fflush(stdout);
                }
                if (const std::optional<QString> manual = explanationFromWhatis(result.output))
                    done(*manual);
                else if (const std::optional<QString> known = knownProcess(lower))
                    done(*known);
                else
                    done(defaultExplanation(name));
            },
            kWhatisTimeoutMs);
    });
}

std::optional<QString> AIService::explanationFromWhatis(const QByteArray &output)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(output);
    if (decoder.hasError() || text.contains(QLatin1String("nothing appropriate")))
        return std::nullopt;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return QStringLiteral("Local AI (via man pages): ") + trimmed;
}

std::optional<QString> AIService::knownProcess(const QString &lowerName)
{
    for (const KnownProcess &row : knownProcesses())
        if (row.names.contains(lowerName))
            return QString::fromUtf8(row.explanation);
    return std::nullopt;
}

QString AIService::defaultExplanation(const QString &name)
{
    return QStringLiteral("This process is named '") + name
        + QStringLiteral("'. It is likely a standard application or a background service.");
}

// ---- Health report and thermal prediction -------------------------------------------------

void AIService::generateHealthReport(double cpu, double temp, double memory, int battery)
{
    generateHealthReport(cpu, temp, memory, battery, [this](const QString &text) { Q_EMIT healthReportReady(text); });
}

void AIService::generateHealthReport(double, double temp, double memory, int battery, Answer done)
{
    QTimer::singleShot(m_sources.reportDelayMs, this,
                       [temp, memory, battery, done = std::move(done)] { done(healthReport(temp, memory, battery)); });
}

QString AIService::healthReport(double temp, double memory, int battery)
{
    QString report = QStringLiteral("Based on local telemetry, your machine is operating ");
    report += temp > 80 ? QStringLiteral("hotter than usual. ") : QStringLiteral("within normal thermal parameters. ");
    report += memory > 80 ? QStringLiteral("Memory pressure is high; consider closing unused browser tabs. ")
                          : QStringLiteral("Memory usage is optimal. ");
    if (battery < 0)
        report += QStringLiteral("No battery is reported; the machine runs on external power. ");
    else if (battery < 20)
        report += QStringLiteral("Battery is low (") + QString::number(battery)
            + QStringLiteral("%). Connect to power soon to avoid degradation of your active sessions.");
    else
        report += QStringLiteral("Battery level is at ") + QString::number(battery) + QStringLiteral("%. ");
    report += QStringLiteral("\n\nLocal AI Recommendation: Keep ambient temperatures low to improve P-Core efficiency.");
    return report;
}

QString AIService::predictThermalState(double currentTemp, double cpuUsage)
{
    if (cpuUsage > 80 && currentTemp > 75)
        return QStringLiteral("Thermal throttling predicted in 4 minutes. Initiating preemptive fan curve.");
    if (cpuUsage > 50)
        return QStringLiteral("Temperature stable, but expected to rise. Monitoring closely.");
    return QStringLiteral("Thermals optimal. Passive cooling sufficient.");
}

// ---- Chat ---------------------------------------------------------------------------------

void AIService::chatWithSystem(const QString &query)
{
    chatWithSystem(query, [this, query](const QString &answer) { Q_EMIT chatAnswered(query, answer); });
}

void AIService::chatWithSystem(const QString &query, Answer done)
{
    QTimer::singleShot(m_sources.chatDelayMs, this, [this, query, done = std::move(done)] {
        const CopilotTelemetry stats = m_sources.telemetry ? m_sources.telemetry() : CopilotTelemetry{};
        done(answerFor(topicFor(query), stats));
    });
}

QStringList AIService::tokens(const QString &query)
{
    QStringList words;
    QString word;
    const auto flush = [&] {
        if (word.isEmpty())
            return;
        const QString lower = word.toLower();
        words.append(lemmas().value(lower, lower));
        word.clear();
    };
    for (const QChar c : query) {
        if (c.isLetter())
            word += c;
        else
            flush();
    }
    flush();
    return words;
}

AIService::Topic AIService::topicFor(const QString &query)
{
    const QStringList words = tokens(query);
    const QString lq = query.toLower();
    const auto token = [&](const char *w) { return words.contains(QLatin1String(w)); };
    const auto text = [&](const char *t) { return lq.contains(QLatin1String(t)); };
    if (token("hot") || token("temperature") || token("fan") || text("hot"))
        return Topic::Thermal;
    if (token("battery") || token("power") || token("drain") || text("battery"))
        return Topic::Battery;
    if (token("slow") || token("lag") || token("memory") || text("slow"))
        return Topic::Memory;
    if (token("network") || token("privacy") || text("network"))
        return Topic::Network;
    return Topic::General;
}

QString AIService::answerFor(Topic topic, const CopilotTelemetry &stats)
{
    switch (topic) {
    case Topic::Thermal:
        if (stats.socTemperature > 80)
            return QStringLiteral("Your CPU package is currently running hot at ") + oneDecimal(stats.socTemperature)
                + QStringLiteral("°C. The system is under heavy load. I recommend checking the CPU tab and freezing the top process.");
        return QStringLiteral("Your machine is running cool at ") + oneDecimal(stats.socTemperature)
            + QStringLiteral("°C. There is no immediate risk of thermal throttling right now.");
    case Topic::Battery:
        if (stats.batteryPercentage < 50)
            return QStringLiteral("Your battery is at ") + QString::number(stats.batteryPercentage)
                + QStringLiteral("%. You are draining power. Freezing inactive apps using the snowflake icon in the CPU tab will significantly extend your remaining time.");
        return QStringLiteral("Your battery health is excellent at ") + QString::number(stats.batteryPercentage)
            + QStringLiteral("%. No extreme drain detected at the moment.");
    case Topic::Memory:
        if (stats.memoryPressure > 75)
            return QStringLiteral("Memory pressure is high at ") + noDecimals(stats.memoryPressure)
                + QStringLiteral("%. Your system is likely swapping to disk, which causes lag. Try closing background apps or browser tabs.");
        return QStringLiteral("Memory pressure is low (") + noDecimals(stats.memoryPressure)
            + QStringLiteral("%) and CPU is optimal. If you're experiencing lag, it might be an issue isolated to a specific app.");
    case Topic::Network:
        return QStringLiteral("I am currently monitoring your active network connections. Check the Network tab to ensure no unwanted tracking domains are active.");
    case Topic::General:
        break;
    }
    return QStringLiteral("I am analyzing your system locally with rules over live telemetry; no model and no network are involved. Your CPU is at ")
        + oneDecimal(stats.cpuUsage) + QStringLiteral("% and Memory Pressure is ") + noDecimals(stats.memoryPressure)
        + QStringLiteral("%. How else can I help?");
}
