#include "HwmonReader.h"

#include "ProcFile.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

namespace {
// Names of the form <prefix><digits><suffix> in a folder, as (number, name), by number.
std::vector<std::pair<int, std::string>> numbered(const std::string &folder, std::string_view prefix,
                                                  std::string_view suffix)
{
    std::vector<std::pair<int, std::string>> found;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return found;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix
            || name.substr(name.size() - suffix.size()) != suffix)
            continue;
        int number = 0;
        if (!ProcFile::parseInt(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()), number))
            continue;
        found.emplace_back(number, std::string(name));
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

std::string firstLine(const std::string &path)
{
    std::string text;
    if (!ProcFile::read(path, text))
        return {};
    return std::string(ProcFile::trimmed(text));
}

bool exists(const std::string &path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

std::optional<double> readNumber(const std::string &path)
{
    std::string text;
    if (!ProcFile::read(path, text))
        return std::nullopt;
    std::string_view field = ProcFile::trimmed(text);
    bool negative = false;
    if (!field.empty() && field.front() == '-') {
        negative = true;
        field.remove_prefix(1);
    }
    unsigned long long value = 0;
    if (!ProcFile::parseU64(field, value))
        return std::nullopt;
    return negative ? -static_cast<double>(value) : static_cast<double>(value);
}

std::optional<std::uint64_t> readU64(const std::string &path)
{
    std::string text;
    unsigned long long value = 0;
    if (!ProcFile::read(path, text) || !ProcFile::parseU64(ProcFile::trimmed(text), value))
        return std::nullopt;
    return value;
}
}

HwmonReader::HwmonReader(std::string sysRoot)
    : m_root(std::move(sysRoot))
{
}

std::vector<HwmonChip> HwmonReader::chips() const
{
    std::vector<HwmonChip> chips;
    const std::string classDir = m_root + "/class/hwmon";
    for (const auto &[number, folder] : numbered(classDir, "hwmon", "")) {
        HwmonChip chip;
        chip.path = classDir + '/' + folder;
        chip.name = firstLine(chip.path + "/name");
        if (exists(chip.path + "/device"))
            chip.device = chip.path + "/device";
        for (const auto &[index, file] : numbered(chip.path, "temp", "_input")) {
            const std::string stem = chip.path + "/temp" + std::to_string(index);
            chip.temperatures.push_back({firstLine(stem + "_label"), chip.path + '/' + file});
        }
        for (const auto &[index, file] : numbered(chip.path, "fan", "_input"))
            chip.fans.push_back(chip.path + '/' + file);
        for (const auto &[index, file] : numbered(chip.path, "pwm", "")) {
            HwmonPwm pwm;
            pwm.duty = chip.path + '/' + file;
            pwm.enable = pwm.duty + "_enable";
            pwm.writable = ::access(pwm.duty.c_str(), W_OK) == 0
                        && (!exists(pwm.enable) || ::access(pwm.enable.c_str(), W_OK) == 0);
            chip.pwms.push_back(std::move(pwm));
        }
        chips.push_back(std::move(chip));
    }
    return chips;
}

std::vector<ThermalZone> HwmonReader::thermalZones() const
{
    std::vector<ThermalZone> zones;
    const std::string classDir = m_root + "/class/thermal";
    for (const auto &[number, folder] : numbered(classDir, "thermal_zone", "")) {
        const std::string zone = classDir + '/' + folder;
        zones.push_back({firstLine(zone + "/type"), zone + "/temp"});
    }
    return zones;
}

std::optional<double> HwmonReader::readCelsius(const std::string &path)
{
    const std::optional<double> milli = readNumber(path);
    if (!milli)
        return std::nullopt;
    return *milli / 1000.0;
}

std::optional<double> HwmonReader::readRpm(const std::string &path)
{
    return readNumber(path);
}

bool HwmonReader::isSuspended(const std::string &device)
{
    return !device.empty() && firstLine(device + "/power/runtime_status") == "suspended";
}

GpuDeviceLoad HwmonReader::readGpuLoad(const std::string &device)
{
    GpuDeviceLoad load;
    if (device.empty())
        return load;
    load.busyPercent = readNumber(device + "/gpu_busy_percent");
    load.vramUsed = readU64(device + "/mem_info_vram_used");
    load.vramTotal = readU64(device + "/mem_info_vram_total");
    return load;
}

std::vector<std::string> HwmonReader::throttleCounterFolders() const
{
    std::vector<std::string> folders;
    const std::string cpuDir = m_root + "/devices/system/cpu";
    for (const auto &[number, folder] : numbered(cpuDir, "cpu", "")) {
        std::string base = cpuDir + '/' + folder + "/thermal_throttle/";
        if (exists(base + "core_throttle_count") || exists(base + "package_throttle_count"))
            folders.push_back(std::move(base));
    }
    return folders;
}

std::vector<std::uint64_t> HwmonReader::readThrottleCounts(const std::vector<std::string> &folders)
{
    std::vector<std::uint64_t> counts;
    counts.reserve(folders.size());
    for (const std::string &base : folders)
        counts.push_back(readU64(base + "core_throttle_count").value_or(0) + readU64(base + "package_throttle_count").value_or(0));
    return counts;
}
