#include "PowerSupplyReader.h"

#include "ProcFile.h"

#include <algorithm>

namespace {
enum Attribute { Type, Scope, Status, Online, Capacity, EnergyNow, EnergyFull, ChargeNow, ChargeFull,
                 PowerNow, VoltageNow, CurrentNow, AttributeCount };
constexpr const char *kAttributeFiles[AttributeCount] = {"type", "scope", "status", "online", "capacity",
    "energy_now", "energy_full", "charge_now", "charge_full", "power_now", "voltage_now", "current_now"};

std::optional<std::int64_t> readInteger(KeptFile &file, std::string &buffer)
{
    if (!file.read(buffer))
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

std::string readWord(KeptFile &file, std::string &buffer)
{
    if (!file.read(buffer))
        return {};
    return std::string(ProcFile::trimmed(buffer));
}
}

void PowerSupplyReader::DirCloser::operator()(DIR *dir) const
{
    ::closedir(dir);
}

PowerSupplyReader::PowerSupplyReader(std::string sysRoot)
    : m_root(std::move(sysRoot))
{
}

std::vector<PowerSupply> PowerSupplyReader::read() const
{
    std::vector<PowerSupply> supplies;
    const std::string classDir = m_root + "/class/power_supply";
    // Rewound rather than opened each second: a fresh listing without the open, the
    // stream's allocation and the close.
    if (m_dir)
        ::rewinddir(m_dir.get());
    else
        m_dir.reset(::opendir(classDir.c_str()));
    if (!m_dir)
        return supplies;
    std::vector<std::string> names;
    while (const dirent *entry = ::readdir(m_dir.get()))
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    std::sort(names.begin(), names.end());

    // Supplies gone since the last read (a USB-C charger unplugged) let their files go.
    for (auto it = m_files.begin(); it != m_files.end();)
        it = std::binary_search(names.begin(), names.end(), it->first) ? std::next(it) : m_files.erase(it);

    std::string buffer;
    for (const std::string &name : names) {
        std::vector<KeptFile> &files = m_files[name];
        if (files.empty()) {
            const std::string base = classDir + '/' + name + '/';
            for (const char *attribute : kAttributeFiles)
                files.emplace_back(base + attribute);
        }
        PowerSupply supply;
        supply.name = name;
        supply.type = readWord(files[Type], buffer);
        supply.scope = readWord(files[Scope], buffer);
        supply.status = readWord(files[Status], buffer);
        if (const auto online = readInteger(files[Online], buffer))
            supply.online = *online != 0;
        supply.capacity = readInteger(files[Capacity], buffer);
        supply.energyNow = readInteger(files[EnergyNow], buffer);
        supply.energyFull = readInteger(files[EnergyFull], buffer);
        supply.chargeNow = readInteger(files[ChargeNow], buffer);
        supply.chargeFull = readInteger(files[ChargeFull], buffer);
        supply.powerNow = readInteger(files[PowerNow], buffer);
        supply.voltageNow = readInteger(files[VoltageNow], buffer);
        supply.currentNow = readInteger(files[CurrentNow], buffer);
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
