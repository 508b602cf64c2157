#pragma once

#include "HIDMonitor.h"
#include "platform/PwmFanControl.h"

#include <QList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ProcessTableReader;

// One tick's sensor figures, each a reading where the machine gives one and an estimate
// where it does not.
struct SensorReading
{
    std::optional<double> socTemperature;   // absent: the last figure stands
    // Without their own sensor these two are estimates, never below kAmbientFloor.
    double gpuTemperature = 0;
    bool gpuTemperatureMeasured = false;
    double ssdTemperature = 0;
    bool ssdTemperatureMeasured = false;
    double throttling = 0;                  // 0...100
    GpuLoad gpu;
    bool fanRPMsMeasured = false;
    QList<double> fanRPMs;
};

// The temperature sensors, the GPU's own load, throttling, the fans and their forced full
// duty, and the compiler probe that lets a build hold the fans at full duty.
class SensorSampler
{
public:
    using Draw = std::function<double(double low, double high)>;
    using FlagSource = std::function<bool()>;

    // °C. A running machine is never colder than the room it stands in, so an estimate
    // (built on a package figure of 0 before any reading, or jittered) never reads below
    // a cool room's temperature.
    static constexpr double kAmbientFloor = 20.0;

    SensorSampler(const std::string &sysRoot, const std::string &procRoot, const std::string &nvmlLibrary);
    ~SensorSampler();
    SensorSampler(const SensorSampler &) = delete;
    SensorSampler &operator=(const SensorSampler &) = delete;

    // The local AI service's build-turbo and demo switches; unset, both off.
    void setBuildTurboSource(FlagSource source) { m_buildTurbo = std::move(source); }
    void setDemoModeSource(FlagSource source) { m_demoMode = std::move(source); }

    // Reads every sensor and drives the fans: to full duty while `forceCooling` is on or a
    // build runs with build turbo on, handed back otherwise. `lastSocTemperature` stands in
    // where the package sensor gives nothing; `draw` jitters the estimates.
    SensorReading sample(double lastSocTemperature, bool forceCooling, const Draw &draw);

    bool fanControlAvailable() const { return m_fanControl.available(); }
    // Whether the fans can be driven, looking for outputs again when none were found.
    bool findFanControl() { return m_fanControl.available() || m_fanControl.refresh(); }
    void applyFanControl(bool forced);
    void releaseFans() { m_fanControl.release(); }

    // Whether a compiler runs: a substring test of every process name. Never in demo mode.
    bool isCompilerRunning();
    static bool namesContainCompiler(const std::string &names);
    static const std::vector<std::string> &compilerSubstrings();

private:
    HIDMonitor m_monitor;
    PwmFanControl m_fanControl;
    std::string m_procRoot;
    std::unique_ptr<ProcessTableReader> m_processReader;   // made on the first compiler probe
    std::vector<std::uint64_t> m_lastThrottleCounts;
    FlagSource m_buildTurbo;
    FlagSource m_demoMode;
};
