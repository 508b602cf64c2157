#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One temperature input of a hwmon chip.
struct HwmonTemperature
{
    std::string label;   // temp<N>_label, empty when the driver gives none
    std::string input;   // path of temp<N>_input (millidegrees Celsius)
};

// One PWM fan output; written only through PwmFanControl.
struct HwmonPwm
{
    std::string duty;     // pwm<N>, 0...255
    std::string enable;   // pwm<N>_enable: 0 full speed, 1 manual, 2+ automatic
    bool writable = false;
};

// One chip under class/hwmon, with its inputs in index order (temp1 before temp2).
struct HwmonChip
{
    std::string path;     // the hwmon<N> folder
    std::string name;     // "coretemp", "k10temp", "amdgpu", "nvme" ...
    std::string device;   // the device folder behind it, empty when there is none
    std::vector<HwmonTemperature> temperatures;
    std::vector<std::string> fans;   // fan<N>_input paths (RPM)
    std::vector<HwmonPwm> pwms;
};

// One zone under class/thermal.
struct ThermalZone
{
    std::string type;   // "x86_pkg_temp", "cpu-thermal", "acpitz" ...
    std::string temp;   // path of temp (millidegrees Celsius)
};

// What an amdgpu device reports of its own load.
struct GpuDeviceLoad
{
    std::optional<double> busyPercent;
    std::optional<std::uint64_t> vramUsed;    // bytes
    std::optional<std::uint64_t> vramTotal;
};

// The kernel's sensor tree under a sysfs root: hwmon chips, thermal zones and the CPUs'
// throttle counters. Discovery walks folders and is meant to be repeated rarely; the
// reads are one small file each.
class HwmonReader
{
public:
    explicit HwmonReader(std::string sysRoot = "/sys");

    // Chips in hwmon<N> order (hwmon2 before hwmon10).
    std::vector<HwmonChip> chips() const;
    std::vector<ThermalZone> thermalZones() const;

    // A millidegree file in degrees Celsius; absent when unreadable or not a number.
    static std::optional<double> readCelsius(const std::string &path);
    // A fan input in RPM.
    static std::optional<double> readRpm(const std::string &path);

    // Whether the device is runtime-suspended: reading its sensors would wake it up.
    static bool isSuspended(const std::string &device);
    static GpuDeviceLoad readGpuLoad(const std::string &device);

    // The thermal_throttle folders of every CPU that has one, CPU order; empty when the
    // kernel keeps no counts (not Intel, or a virtual machine).
    std::vector<std::string> throttleCounterFolders() const;
    // Core plus package throttle events of each folder; an unreadable folder counts 0.
    static std::vector<std::uint64_t> readThrottleCounts(const std::vector<std::string> &folders);

private:
    std::string m_root;
};
