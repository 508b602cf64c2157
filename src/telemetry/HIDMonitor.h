#pragma once

#include "platform/HwmonReader.h"
#include "platform/NvmlLibrary.h"

#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The GPU's own figures, where its driver gives them.
struct GpuLoad
{
    std::optional<double> usagePercent;
    std::optional<std::uint64_t> memoryUsed;    // bytes
    std::optional<std::uint64_t> memoryTotal;
};

// The temperature reader of the telemetry pass. Sensor codes name what is asked for:
// "Tp09" the CPU package (the SoC figure), "Tg05" the GPU, "Ts01" the SSD. Each code maps
// to the kernel's sensors for that part, in order of preference:
//   Tp09: coretemp "Package id N", k10temp/zenpower "Tctl" then "Tdie", thermal zones
//         x86_pkg_temp and cpu-thermal, then the first input of coretemp or k10temp and
//         the ACPI zone as a last resort;
//   Tg05: amdgpu, radeon, nouveau, i915 or xe "edge" or the chip's first input, then NVML;
//   Ts01: nvme "Composite" or its first input, then drivetemp.
// A reading of 0 or below counts as missing. Sensor files are found once and found again
// every minute, so hot-plugged drives and late-loading drivers show up.
class HIDMonitor
{
public:
    // `nvmlLibrary`: NVIDIA's management library to load, empty for none.
    explicit HIDMonitor(std::string sysRoot = "/sys", std::string nvmlLibrary = {});
    ~HIDMonitor();

    std::optional<double> readTemperature(const QString &code);
    GpuLoad readGpuLoad();
    // Every hwmon fan input, in chip order; empty when the machine reports no fan.
    std::vector<double> readFanRpms();
    // The kernel's per-CPU throttle event counts; empty where it keeps none.
    std::vector<std::uint64_t> readThrottleCounts() const;

    // Finds the sensor files again (at most once a minute unless forced).
    void refresh(bool force = false);
    bool hasThermalServices() const { return m_hasServices; }

private:
    struct Source { std::string path; std::string device; };   // device: skip while suspended
    std::optional<double> readFirst(const std::vector<Source> &sources) const;

    HwmonReader m_reader;
    std::unique_ptr<NvmlLibrary> m_nvml;
    std::vector<Source> m_cpu;
    std::vector<Source> m_gpu;
    std::vector<Source> m_ssd;
    std::vector<std::string> m_gpuDevices;   // amdgpu devices with load counters
    std::vector<std::string> m_fans;
    std::vector<std::string> m_throttleFolders;
    bool m_hasServices = false;
    bool m_reportedMissing = false;
    qint64 m_discoveredAt = -1;   // monotonic ms
};
