#include "PresetManager.h"

#include "platform/PowerProfilesClient.h"
#include "platform/PowerSupplyReader.h"
#include "platform/ProcessTableReader.h"
#include "platform/SleepInhibitor.h"
#include "platform/TerminalLauncher.h"

#include <cstdio>
#include <unistd.h>

namespace {
const QStringList kAIKeywords{QStringLiteral("ollama"), QStringLiteral("llama"), QStringLiteral("lm studio"),
                              QStringLiteral("python3"), QStringLiteral("python"), QStringLiteral("localai")};

QStringList advisoryLines(const QString &title, const QString &pauseHeading, const QString &resumeHeading,
                          const QString &pattern)
{
    const QString command = QStringLiteral("  pgrep -f \"") + pattern + QStringLiteral("\" | xargs kill -");
    return {title, QString(), pauseHeading, command + QStringLiteral("STOP"), QString(), resumeHeading,
            command + QStringLiteral("CONT")};
}
}

const QString PresetManager::kDeveloperPattern =
    QStringLiteral("ollama|llama|python|localai|postgres|mysql|redis-server|docker|colima");
const QString PresetManager::kCreativePattern = kDeveloperPattern + QStringLiteral("|swiftc|clang|rustc");
const QString PresetManager::kGamerPattern = kCreativePattern + QStringLiteral("|cargo|go|javac|node|bun");

PresetSources PresetSources::forThisMachine()
{
    PresetSources sources;
    sources.loginBus = QDBusConnection::systemBus();
    sources.powerProfilesBus = QDBusConnection::systemBus();
    return sources;
}

PresetManager::PresetManager(PresetSources sources, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
    , m_inhibitor(std::make_unique<SleepInhibitor>(m_sources.loginBus))
{
    if (m_sources.powerProfilesBus) {
        m_profiles = std::make_unique<PowerProfilesClient>(*m_sources.powerProfilesBus);
        connect(m_profiles.get(), &PowerProfilesClient::profileSet, this, [](bool ok, const QString &error) {
            if (!ok) {
                std::printf("Failed to switch the power profile: %s\n", qPrintable(error));
                std::fflush(stdout);
            }
        });
        m_profiles->probe();
    }
    updateBatteryStatus();
}

PresetManager::~PresetManager() = default;

// ---- Applying ----------------------------------------------------------------------------

void PresetManager::applyPreset(const QString &rawValue)
{
    if (const std::optional<PerformancePreset> preset = PerformancePreset::fromRawValue(rawValue))
        applyPreset(*preset);
}

void PresetManager::applyPreset(PerformancePreset preset)
{
    // A step may wait on logind; later applies queue behind it so their steps never mix.
    m_queue.push_back(preset);
    if (!m_isExecuting)
        runNext();
}

void PresetManager::runNext()
{
    if (m_queue.empty())
        return;
    const PerformancePreset preset = m_queue.front();
    m_queue.pop_front();

    if (!m_isExecuting) {
        m_isExecuting = true;
        Q_EMIT isExecutingChanged();
    }
    m_activePreset = preset;
    Q_EMIT activePresetChanged();
    setStatus(QStringLiteral("Initializing ") + preset.rawValue() + QStringLiteral("..."));

    Next next = [this, name = preset.rawValue()] {
        Q_EMIT presetApplied(name);
        finishApply();
    };
    switch (preset.value()) {
    case PerformancePreset::InferenceMax: applyInferenceMax(std::move(next)); break;
    case PerformancePreset::LocalTraining: applyLocalTraining(std::move(next)); break;
    case PerformancePreset::CompileMax: applyCompileMax(std::move(next)); break;
    case PerformancePreset::CreativeMax: applyCreativeMax(std::move(next)); break;
    case PerformancePreset::GameMode: applyGameMode(std::move(next)); break;
    case PerformancePreset::EcoDev: applyEcoDev(std::move(next)); break;
    case PerformancePreset::VanillaMac: applyVanillaMac(std::move(next)); break;
    }
}

void PresetManager::finishApply()
{
    if (!m_queue.empty()) {
        runNext();
        return;
    }
    m_isExecuting = false;
    Q_EMIT isExecutingChanged();
    updateBatteryStatus();
}

void PresetManager::setStatus(const QString &status)
{
    m_currentStatus = status;
    Q_EMIT currentStatusChanged();
}

void PresetManager::releaseAssertion()
{
    if (m_sleepAssertionID == 0)
        return;
    m_heldAssertion = QDBusUnixFileDescriptor();   // the last copy closes: logind lets go
    m_sleepAssertionID = 0;
    ++m_assertionGeneration;
}

void PresetManager::takeAssertion(const QString &name, std::function<void(bool)> done)
{
    const unsigned generation = m_assertionGeneration;
    m_inhibitor->inhibit(name, [this, generation, done = std::move(done)](const QDBusUnixFileDescriptor &held, const QString &error) {
        if (!held.isValid()) {
            std::printf("Failed to hold the sleep assertion: %s\n", qPrintable(error));
            std::fflush(stdout);
            done(false);
            return;
        }
        if (generation == m_assertionGeneration) {
            releaseAssertion();
            m_heldAssertion = held;
            m_sleepAssertionID = static_cast<quint32>(held.fileDescriptor());
        }
        done(true);
    });
}

void PresetManager::selectProfile(const QString &profile)
{
    if (!m_profiles || !m_profiles->available())
        return;
    if (m_profileBeforePresets.isEmpty())
        m_profileBeforePresets = m_profiles->activeProfile();
    // Always asked for: the known profile lags while an earlier switch is on its way.
    m_profiles->setActiveProfile(profile);
}

void PresetManager::restoreProfile()
{
    if (!m_profiles || !m_profiles->available() || m_profileBeforePresets.isEmpty())
        return;
    m_profiles->setActiveProfile(m_profileBeforePresets);
    m_profileBeforePresets.clear();
}

void PresetManager::applyInferenceMax(Next next)
{
    setStatus(QStringLiteral("Reclaiming inactive memory caches..."));
    if (m_sources.purgeMemory)
        m_sources.purgeMemory();
    setStatus(QStringLiteral("Inference Max active — memory pressure applied"));
    next();
}

void PresetManager::applyLocalTraining(Next next)
{
    setStatus(QStringLiteral("Preventing system idle sleep..."));
    releaseAssertion();
    selectProfile(QStringLiteral("performance"));
    takeAssertion(QStringLiteral("Quillmoor: Local Training Mode active"), [this, next](bool held) {
        setStatus(held ? QStringLiteral("Local Training active — system will not sleep during builds")
                       : QStringLiteral("Local Training active (sleep assertion unavailable)"));
        next();
    });
}

void PresetManager::applyCompileMax(Next next)
{
    setStatus(QStringLiteral("Initializing Compile Max mode..."));
    releaseAssertion();
    selectProfile(QStringLiteral("performance"));
    setStatus(QStringLiteral("Compile Max active — sleep prevented. Opening developer advisory..."));
    takeAssertion(QStringLiteral("Quillmoor: Compile Max active"), [this, next](bool) {
        openDeveloperAdvisory();
        next();
    });
}

void PresetManager::applyCreativeMax(Next next)
{
    setStatus(QStringLiteral("Initializing Creative Max mode..."));
    releaseAssertion();
    selectProfile(QStringLiteral("performance"));
    if (m_sources.purgeMemory)
        m_sources.purgeMemory();
    takeAssertion(QStringLiteral("Quillmoor: Creative Max active"), [this, next](bool) {
        openCreativeAdvisory();
        setStatus(QStringLiteral("Creative Max active — VRAM flushed, sleep assertion active"));
        next();
    });
}

void PresetManager::applyGameMode(Next next)
{
    setStatus(QStringLiteral("Initializing Game Mode..."));
    releaseAssertion();
    selectProfile(QStringLiteral("performance"));
    openGamerAdvisory();
    setStatus(QStringLiteral("Game Mode active — system RAM optimized"));
    next();
}

void PresetManager::applyEcoDev(Next next)
{
    setStatus(QStringLiteral("Detecting background AI and database processes..."));
    selectProfile(PowerProfilesClient::kPowerSaver);
    const QStringList names = detectRunningAIProcessNames();
    if (names.isEmpty()) {
        setStatus(QStringLiteral("No active AI daemons detected"));
    } else {
        setStatus(QStringLiteral("Found: ") + names.join(QStringLiteral(", ")) + QStringLiteral(" — opening Terminal advisory..."));
        openTerminalAdvisory(names);
    }
    next();
}

void PresetManager::applyVanillaMac(Next next)
{
    setStatus(QStringLiteral("Restoring macOS defaults..."));
    releaseAssertion();
    restoreProfile();
    setStatus(QStringLiteral("Vanilla Mac — all overrides released, macOS defaults restored"));
    next();
}

// ---- Battery -----------------------------------------------------------------------------

void PresetManager::updateBatteryStatus()
{
    QString text = QStringLiteral("100%");
    const std::vector<PowerSupply> supplies = PowerSupplyReader(m_sources.sysRoot).read();
    if (const PowerSupply *battery = PowerSupplyReader::machineBattery(supplies))
        if (const std::optional<std::int64_t> percent = PowerSupplyReader::chargePercent(*battery))
            text = QString::number(*percent) + u'%';
    m_batteryStatus = text;
    Q_EMIT batteryStatusChanged();
}

// ---- Advisories --------------------------------------------------------------------------

QStringList PresetManager::matchAIKeywords(const QStringList &names)
{
    QStringList found;
    for (const QString &keyword : kAIKeywords)
        for (const QString &name : names)
            if (name.contains(keyword)) {
                found.append(keyword);
                break;
            }
    return found;
}

QStringList PresetManager::detectRunningAIProcessNames() const
{
    // Only this user's processes: the system's own Python daemons are not "AI tools".
    const long long uid = m_sources.uid ? static_cast<long long>(*m_sources.uid) : static_cast<long long>(::getuid());
    ProcessTableReader reader(m_sources.procRoot);
    std::vector<ProcessStat> table;
    if (!reader.readAll(table))
        return {};
    QStringList names;
    for (const ProcessStat &p : table) {
        if (reader.ownerUid(p.pid) != uid)
            continue;
        names.append(QString::fromStdString(p.comm).toLower());
        const std::string path = reader.fullPath(p.pid, p.comm);
        names.append(QString::fromUtf8(ProcessTableReader::lastComponent(path)).toLower());
    }
    return matchAIKeywords(names);
}

QStringList PresetManager::developerAdvisoryLines()
{
    return advisoryLines(QStringLiteral("--- Quillmoor Compile Max Developer Advisory ---"),
                         QStringLiteral("PAUSE Docker, AI & Database Daemons to free CPU execution units:"),
                         QStringLiteral("RESUME when done:"), kDeveloperPattern);
}

QStringList PresetManager::creativeAdvisoryLines()
{
    return advisoryLines(QStringLiteral("--- Quillmoor Creative Max Advisor ---"),
                         QStringLiteral("PAUSE backend compilers and Docker engines to free GPU/CPU execution units:"),
                         QStringLiteral("RESUME when done:"), kCreativePattern);
}

QStringList PresetManager::gamerAdvisoryLines()
{
    return advisoryLines(QStringLiteral("--- Quillmoor Game Mode Advisor ---"),
                         QStringLiteral("PAUSE dev tools, databases, and AI servers to maximize gaming FPS:"),
                         QStringLiteral("RESUME when done:"), kGamerPattern);
}

QStringList PresetManager::ecoDevAdvisoryLines(const QStringList &names)
{
    const QString pattern = names.join(u'|');
    return advisoryLines(QStringLiteral("--- Quillmoor Eco Dev Advisory ---"),
                         QStringLiteral("PAUSE AI processes (") + pattern + QStringLiteral("):"),
                         QStringLiteral("RESUME later:"), pattern);
}

QString PresetManager::shellText(const QStringList &lines)
{
    QStringList commands;
    for (QString line : lines) {
        // Single quotes cannot be escaped inside single quotes: close, escape, reopen.
        line.replace(u'\'', QStringLiteral("'\\''"));
        commands.append(QStringLiteral("echo '") + line + u'\'');
    }
    return commands.join(QStringLiteral(" && "));
}

QString PresetManager::ecoDevShellText(const QStringList &names)
{
    return shellText(ecoDevAdvisoryLines(names));
}

void PresetManager::openAdvisory(const QStringList &lines, const QString &shell)
{
    const TerminalLauncher launcher(m_sources.terminalSearchPath, m_sources.preferredTerminal);
    if (!launcher.open(shell))
        Q_EMIT advisoryNeedsWindow(lines);
}

void PresetManager::openDeveloperAdvisory()
{
    const QStringList lines = developerAdvisoryLines();
    openAdvisory(lines, shellText(lines));
}

void PresetManager::openCreativeAdvisory()
{
    const QStringList lines = creativeAdvisoryLines();
    openAdvisory(lines, shellText(lines));
}

void PresetManager::openGamerAdvisory()
{
    const QStringList lines = gamerAdvisoryLines();
    openAdvisory(lines, shellText(lines));
}

void PresetManager::openTerminalAdvisory(const QStringList &names)
{
    if (names.isEmpty())
        return;
    openAdvisory(ecoDevAdvisoryLines(names), ecoDevShellText(names));
}
