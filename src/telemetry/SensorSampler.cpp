#include "SensorSampler.h"

#include "platform/ProcessTableReader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

SensorSampler::SensorSampler(const std::string &sysRoot, const std::string &procRoot, const std::string &nvmlLibrary)
    : m_monitor(sysRoot, nvmlLibrary)
    , m_fanControl(sysRoot)
    , m_procRoot(procRoot)
{
    m_fanControl.refresh();
}

SensorSampler::~SensorSampler() = default;

SensorReading SensorSampler::sample(double lastSocTemperature, bool forceCooling, const Draw &draw)
{
    SensorReading r;
    m_monitor.refresh();
    r.socTemperature = m_monitor.readTemperature(QStringLiteral("Tp09"));
    const double soc = r.socTemperature.value_or(lastSocTemperature);
    // The estimates follow the package (a GPU sharing its die or its cooler) or sit at an
    // idle drive's usual figure. Before any package reading the GPU's would sit near 0 °C,
    // and a wild jitter could take either below the room: both stop at the floor.
    const std::optional<double> gpu = m_monitor.readTemperature(QStringLiteral("Tg05"));
    r.gpuTemperatureMeasured = gpu.has_value();
    r.gpuTemperature = gpu ? *gpu : std::max(soc * 0.9 + draw(-2.0, 2.0), kAmbientFloor);
    const std::optional<double> ssd = m_monitor.readTemperature(QStringLiteral("Ts01"));
    r.ssdTemperatureMeasured = ssd.has_value();
    r.ssdTemperature = ssd ? *ssd : std::max(35.0 + draw(-1.0, 3.0), kAmbientFloor);

    // The kernel counts throttle events per CPU where it can; the share of CPUs that
    // throttled since the last tick beats guessing from the temperature.
    const std::vector<std::uint64_t> counts = m_monitor.readThrottleCounts();
    if (!counts.empty()) {
        if (counts.size() == m_lastThrottleCounts.size()) {
            size_t rising = 0;
            for (size_t i = 0; i < counts.size(); ++i)
                rising += counts[i] > m_lastThrottleCounts[i];
            r.throttling = static_cast<double>(rising) / static_cast<double>(counts.size()) * 100.0;
        }
        m_lastThrottleCounts = counts;
    } else if (soc > 95) {
        r.throttling = (soc - 95) * 5;
    }

    r.gpu = m_monitor.readGpuLoad();

    // The compiler probe lists every process, so it runs only when its answer matters.
    const bool buildTurbo = m_buildTurbo && m_buildTurbo();
    applyFanControl(forceCooling || (buildTurbo && isCompilerRunning()));

    const std::vector<double> measured = m_monitor.readFanRpms();
    r.fanRPMsMeasured = !measured.empty();
    if (!measured.empty()) {
        r.fanRPMs = QList<double>(measured.begin(), measured.end());
    } else if (m_fanControl.forced()) {
        // Driven to full duty with no tachometer to read back.
        r.fanRPMs.append(6800 + draw(-50.0, 50.0));
    } else if (soc <= 55) {
        r.fanRPMs.append(0.0);
    } else {
        r.fanRPMs.append(std::min((soc - 55) * 120 + 1200, 7200.0));
    }
    return r;
}

void SensorSampler::applyFanControl(bool forced)
{
    if (forced && !m_fanControl.forced()) {
        if (!m_fanControl.force()) {
            std::printf("Failed to drive the fans: no PWM output took full duty\n");
            std::fflush(stdout);
        }
    } else if (!forced && m_fanControl.forced()) {
        m_fanControl.release();
    }
}

const std::vector<std::string> &SensorSampler::compilerSubstrings()
{
    static const std::vector<std::string> names{"swiftc", "rustc", "clang", "xcodebuild", "cargo", "gcc"};
    return names;
}

bool SensorSampler::namesContainCompiler(const std::string &names)
{
    std::string lower(names);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const std::string &needle : compilerSubstrings())
        if (lower.find(needle) != std::string::npos)
            return true;
    return false;
}

bool SensorSampler::isCompilerRunning()
{
    if (m_demoMode && m_demoMode())
        return false;
    if (!m_processReader)
        m_processReader = std::make_unique<ProcessTableReader>(m_procRoot);
    std::vector<ProcessStat> table;
    if (!m_processReader->readAll(table))
        return false;
    std::string names;
    for (const ProcessStat &p : table) {
        names += p.comm;
        names += '\n';
    }
    return namesContainCompiler(names);
}
