#include "PowerSupplyReader.h"

#include "ProcFile.h"

#include <algorithm>
#include <dirent.h>

namespace {
std::optional<std::int64_t> readInteger(const std::string &path, std::string &buffer)
{
    if (!ProcFile::read(path, buffer))
        return std::nullopt;
    std::string_view field = ProcFile::trimmed(buffer);
    const bool negative = !field.empty() && field.front() == '-';
    if (negative)
        field.remove_prefix(1);
    unsigned long long value = 0;
    // Past INT64_MAX the figure is garbage, and negating INT64_MIN has no answer.
    if (!ProcFile::parseU64(field, value) || value > static_cast<unsigned long long>(INT64_MAX))
        return std::nullopt;
    const auto magnitude = static_cast<std::int64_t>(value);
    return negative ? -magnitude : magnitude;
}

std::string readWord(const std::string &path, std::string &buffer)
{
    if (!ProcFile::read(path, buffer))
        return {};
    return std::string(ProcFile::trimmed(buffer));
}
}

PowerSupplyReader::PowerSupplyReader(std::string sysRoot)
    : m_root(std::move(sysRoot))
{
}

std::vector<PowerSupply> PowerSupplyReader::read() const
{
    std::vector<PowerSupply> supplies;
    const std::string classDir = m_root + "/class/power_supply";
    DIR *dir = ::opendir(classDir.c_str());
    if (!dir)
        return supplies;
    std::vector<std::string> names;
    while (const dirent *entry = ::readdir(dir))
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());

    std::string buffer;
    for (const std::string &name : names) {
        const std::string base = classDir + '/' + name + '/';
        PowerSupply supply;
        supply.name = name;
        supply.type = readWord(base + "type", buffer);
        supply.scope = readWord(base + "scope", buffer);
        supply.status = readWord(base + "status", buffer);
        if (const auto online = readInteger(base + "online", buffer))
            supply.online = *online != 0;
        supply.capacity = readInteger(base + "capacity", buffer);
        supply.energyNow = readInteger(base + "energy_now", buffer);
        supply.energyFull = readInteger(base + "energy_full", buffer);
        supply.chargeNow = readInteger(base + "charge_now", buffer);
        supply.chargeFull = readInteger(base + "charge_full", buffer);
        supply.powerNow = readInteger(base + "power_now", buffer);
        supply.voltageNow = readInteger(base + "voltage_now", buffer);
        supply.currentNow = readInteger(base + "current_now", buffer);
        supplies.push_back(std::move(supply));
    }
    return supplies;
}

const PowerSupply *PowerSupplyReader::machineBattery(const std::vector<PowerSupply> &supplies)
{
    const auto battery = std::find_if(supplies.begin(), supplies.end(), [](const PowerSupply &s) {
        return s.type == "Battery" && s.scope != "Device";
    });
    return battery == supplies.end() ? nullptr : &*battery;
}

std::optional<std::int64_t> PowerSupplyReader::chargePercent(const PowerSupply &battery)
{
    auto ratio = [](std::int64_t now, std::int64_t full) -> std::int64_t {
        if (full <= 0 || now <= 0)
            return 0;
        // A worn battery can report a little more than full; anything far beyond is a bad
        // reading, and a double past int64's range cannot be converted at all.
        return static_cast<std::int64_t>(std::min(static_cast<double>(now) / static_cast<double>(full) * 100.0, 100.0));
    };
    if (battery.capacity)
        return *battery.capacity;
    if (battery.energyNow && battery.energyFull)
        return ratio(*battery.energyNow, *battery.energyFull);
    if (battery.chargeNow && battery.chargeFull)
        return ratio(*battery.chargeNow, *battery.chargeFull);
    return std::nullopt;
}
