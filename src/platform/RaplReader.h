#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One top-level RAPL power zone: its cumulative energy counter in µJ, which wraps to 0
// after maxRangeUj.
struct RaplZone
{
    std::string zone;          // "intel-rapl:0"
    std::string name;          // "package-0", "psys"
    std::uint64_t energyUj = 0;
    std::uint64_t maxRangeUj = 0;   // 0: the kernel did not say
};

// The energy counters under <sysRoot>/class/powercap. Only the top-level intel-rapl zones
// are read (AMD's RAPL driver lists its packages there too); their subzones (core, uncore,
// dram) are parts of a package and would count its energy twice. Since 2020 the kernel
// lets only root read energy_uj, so on most desktops this finds nothing readable.
class RaplReader
{
public:
    explicit RaplReader(std::string sysRoot = "/sys");

    // The zones whose counter could be read, in zone order; empty when none could.
    std::vector<RaplZone> read();

    // The energy a counter gathered between two readings, across one wrap at maxRangeUj.
    // Absent when that cannot be told: the counter went back with no known range, or
    // read beyond its own range.
    static std::optional<std::uint64_t> energyBetween(std::uint64_t beforeUj, std::uint64_t afterUj,
                                                      std::uint64_t maxRangeUj);

private:
    void listZones();

    std::string m_classDir;
    std::string m_buffer;
    std::vector<std::string> m_zones;
    // Zones appear with the driver only; listing them every second costs more than the
    // reading, so the list is taken again every kRelist readings.
    static constexpr int kRelist = 30;
    int m_readsSinceListing = kRelist;
};
