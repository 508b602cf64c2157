#include "RaplReader.h"

#include "ProcFile.h"

#include <algorithm>
#include <dirent.h>

namespace {
// "intel-rapl:<digits>": a top-level zone, not a subzone ("intel-rapl:0:1").
bool isTopLevelZone(std::string_view name)
{
    constexpr std::string_view prefix = "intel-rapl:";
    if (name.substr(0, prefix.size()) != prefix || name.size() == prefix.size())
        return false;
    const std::string_view index = name.substr(prefix.size());
    return std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; });
}
}

RaplReader::RaplReader(std::string sysRoot)
    : m_classDir(std::move(sysRoot) + "/class/powercap")
{
}

void RaplReader::listZones()
{
    m_zones.clear();
    DIR *dir = ::opendir(m_classDir.c_str());
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir))
        if (isTopLevelZone(entry->d_name))
            m_zones.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(m_zones.begin(), m_zones.end());
}

std::vector<RaplZone> RaplReader::read()
{
    if (++m_readsSinceListing >= kRelist) {
        m_readsSinceListing = 0;
        listZones();
    }
    std::vector<RaplZone> zones;
    for (const std::string &zone : m_zones) {
        const std::string base = m_classDir + '/' + zone + '/';
        unsigned long long energy = 0;
        if (!ProcFile::read(base + "energy_uj", m_buffer) || !ProcFile::parseU64(ProcFile::trimmed(m_buffer), energy))
            continue;
        RaplZone reading;
        reading.zone = zone;
        reading.energyUj = energy;
        unsigned long long range = 0;
        if (ProcFile::read(base + "max_energy_range_uj", m_buffer) && ProcFile::parseU64(ProcFile::trimmed(m_buffer), range))
            reading.maxRangeUj = range;
        if (ProcFile::read(base + "name", m_buffer))
            reading.name = std::string(ProcFile::trimmed(m_buffer));
        zones.push_back(std::move(reading));
    }
    return zones;
}

std::optional<std::uint64_t> RaplReader::energyBetween(std::uint64_t beforeUj, std::uint64_t afterUj,
                                                       std::uint64_t maxRangeUj)
{
    if (afterUj >= beforeUj)
        return afterUj - beforeUj;
    if (maxRangeUj == 0 || beforeUj > maxRangeUj)
        return std::nullopt;
    // The counter ran up to its range, started again at 0 and went on to afterUj.
    return (maxRangeUj - beforeUj) + afterUj;
}
