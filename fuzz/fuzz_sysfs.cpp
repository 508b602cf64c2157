// The one-value sysfs files the sensors read: a power supply's attributes (and the battery
// record made of them), hwmon temperatures and fan speeds, an amdgpu device's load and
// memory, the CPUs' throttle counters and an NPU's busy time. Line N of an input becomes
// the Nth file below (with the newline the kernel ends it with); a missing line leaves its
// file absent, as a driver that lacks the attribute does.
#include "FuzzInput.h"

#include "platform/AcceleratorReader.h"
#include "platform/HwmonReader.h"
#include "platform/PowerSupplyReader.h"
#include "telemetry/BatteryMonitor.h"

#include <array>

namespace {
const std::array<const char *, 20> kFiles = {
    "class/power_supply/BAT0/type",
    "class/power_supply/BAT0/scope",
    "class/power_supply/BAT0/status",
    "class/power_supply/BAT0/online",
    "class/power_supply/BAT0/capacity",
    "class/power_supply/BAT0/energy_now",
    "class/power_supply/BAT0/energy_full",
    "class/power_supply/BAT0/charge_now",
    "class/power_supply/BAT0/charge_full",
    "class/power_supply/BAT0/power_now",
    "class/power_supply/BAT0/voltage_now",
    "class/power_supply/BAT0/current_now",
    "hwmon/temp1_input",
    "hwmon/fan1_input",
    "gpu/gpu_busy_percent",
    "gpu/mem_info_vram_used",
    "gpu/mem_info_vram_total",
    "throttle/core_throttle_count",
    "throttle/package_throttle_count",
    "npu/npu_busy_time_us",
};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::vector<std::string_view> lines = FuzzInput::lines(FuzzInput::text(data, size));
    std::array<std::string, kFiles.size()> paths;
    for (std::size_t i = 0; i < kFiles.size(); ++i)
        paths[i] = i < lines.size() ? FuzzInput::put(kFiles[i], std::string(lines[i]) + '\n') : FuzzInput::drop(kFiles[i]);

    const std::vector<PowerSupply> supplies = PowerSupplyReader(FuzzInput::root()).read();
    if (const PowerSupply *battery = PowerSupplyReader::machineBattery(supplies))
        (void)PowerSupplyReader::chargePercent(*battery);
    (void)BatteryMonitor::infoFrom(supplies);

    (void)HwmonReader::readCelsius(paths[12]);
    (void)HwmonReader::readRpm(paths[13]);
    (void)HwmonReader::readGpuLoad(FuzzInput::root() + "/gpu");
    (void)HwmonReader::readThrottleCounts({FuzzInput::root() + "/throttle/"});
    std::string buffer;
    (void)AcceleratorReader::readBusyTime(paths[19], buffer);
    return 0;
}
