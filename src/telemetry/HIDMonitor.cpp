#include "HIDMonitor.h"

#include "platform/SteadyClock.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr qint64 kRediscoverMs = 60000;

bool isOneOf(const std::string &name, std::initializer_list<const char *> names)
{
    return std::any_of(names.begin(), names.end(), [&](const char *n) { return name == n; });
}

const HwmonTemperature *labelled(const HwmonChip &chip, std::string_view prefix)
{
    for (const HwmonTemperature &t : chip.temperatures)
        if (t.label.compare(0, prefix.size(), prefix) == 0)
            return &t;
    return nullptr;
}
}

HIDMonitor::HIDMonitor(std::string sysRoot, std::string nvmlLibrary)
    : m_reader(std::move(sysRoot))
{
    if (!nvmlLibrary.empty()) {
        m_nvml = std::make_unique<NvmlLibrary>(nvmlLibrary);
        if (!m_nvml->available())
            m_nvml.reset();
    }
    refresh(true);
}

HIDMonitor::~HIDMonitor() = default;

void HIDMonitor::refresh(bool force)
{
    const qint64 now = steadyMilliseconds();
    if (!force && m_discoveredAt >= 0 && now - m_discoveredAt < kRediscoverMs)
        return;
    m_discoveredAt = now;

    const std::vector<HwmonChip> chips = m_reader.chips();
    const std::vector<ThermalZone> zones = m_reader.thermalZones();
    m_cpu.clear();
    m_gpu.clear();
    m_ssd.clear();
    m_gpuDevices.clear();
    m_fans.clear();

    auto zone = [&](const char *type) {
        for (const ThermalZone &z : zones)
            if (z.type == type)
                m_cpu.push_back({z.temp, {}});
    };
    auto chipLabel = [&](std::initializer_list<const char *> names, std::string_view label, std::vector<Source> &out) {
        for (const HwmonChip &chip : chips)
            if (isOneOf(chip.name, names))
                if (const HwmonTemperature *t = labelled(chip, label))
                    out.push_back({t->input, chip.device});
    };
    auto chipFirst = [&](std::initializer_list<const char *> names, std::vector<Source> &out) {
        for (const HwmonChip &chip : chips)
            if (isOneOf(chip.name, names) && !chip.temperatures.empty())
                out.push_back({chip.temperatures.front().input, chip.device});
    };

    chipLabel({"coretemp"}, "Package id", m_cpu);
    chipLabel({"k10temp", "zenpower"}, "Tctl", m_cpu);
    chipLabel({"k10temp", "zenpower"}, "Tdie", m_cpu);
    zone("x86_pkg_temp");
    zone("cpu-thermal");
    zone("cpu_thermal");
    chipFirst({"coretemp", "k10temp", "zenpower", "cpu_thermal"}, m_cpu);
    zone("acpitz");

    const std::initializer_list<const char *> gpus{"amdgpu", "radeon", "nouveau", "i915", "xe"};
    chipLabel(gpus, "edge", m_gpu);
    chipFirst(gpus, m_gpu);
    for (const HwmonChip &chip : chips)
        if (chip.name == "amdgpu" && !chip.device.empty())
            m_gpuDevices.push_back(chip.device);

    chipLabel({"nvme"}, "Composite", m_ssd);
    chipFirst({"nvme"}, m_ssd);
    chipFirst({"drivetemp"}, m_ssd);

    for (const HwmonChip &chip : chips)
        m_fans.insert(m_fans.end(), chip.fans.begin(), chip.fans.end());

    m_throttleFolders = m_reader.throttleCounterFolders();

    m_hasServices = !chips.empty() || !zones.empty() || m_nvml;
    if (!m_hasServices && !m_reportedMissing) {
        m_reportedMissing = true;
        std::printf("HIDMonitor: No thermal services found.\n");
        std::fflush(stdout);
    }
}

std::optional<double> HIDMonitor::readFirst(const std::vector<Source> &sources) const
{
    for (const Source &source : sources) {
        // Reading a sleeping discrete GPU's sensor wakes it and costs battery.
        if (HwmonReader::isSuspended(source.device))
            continue;
        const std::optional<double> celsius = HwmonReader::readCelsius(source.path);
        if (celsius && *celsius > 0)
            return celsius;
    }
    return std::nullopt;
}

std::optional<double> HIDMonitor::readTemperature(const QString &code)
{
    if (code == QLatin1String("Tp09"))
        return readFirst(m_cpu);
    if (code == QLatin1String("Tg05")) {
        if (const std::optional<double> celsius = readFirst(m_gpu))
            return celsius;
        if (m_nvml)
            if (const std::optional<double> celsius = m_nvml->temperature(); celsius && *celsius > 0)
                return celsius;
        return std::nullopt;
    }
    if (code == QLatin1String("Ts01"))
        return readFirst(m_ssd);
    return std::nullopt;
}

GpuLoad HIDMonitor::readGpuLoad()
{
    GpuLoad load;
    for (const std::string &device : m_gpuDevices) {
        if (HwmonReader::isSuspended(device))
            continue;
        const GpuDeviceLoad amd = HwmonReader::readGpuLoad(device);
        if (!amd.busyPercent && !amd.vramTotal)
            continue;
        load.usagePercent = amd.busyPercent;
        load.memoryUsed = amd.vramUsed;
        load.memoryTotal = amd.vramTotal;
        return load;
    }
    if (m_nvml) {
        const NvmlSample sample = m_nvml->sample();
        load.usagePercent = sample.utilisation;
        load.memoryUsed = sample.memoryUsed;
        load.memoryTotal = sample.memoryTotal;
    }
    return load;
}

std::vector<double> HIDMonitor::readFanRpms()
{
    std::vector<double> rpms;
    rpms.reserve(m_fans.size());
    for (const std::string &fan : m_fans)
        if (const std::optional<double> rpm = HwmonReader::readRpm(fan); rpm && *rpm >= 0)
            rpms.push_back(*rpm);
    return rpms;
}

std::vector<std::uint64_t> HIDMonitor::readThrottleCounts() const
{
    return HwmonReader::readThrottleCounts(m_throttleFolders);
}
