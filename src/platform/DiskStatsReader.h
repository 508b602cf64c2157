#pragma once

#include <cstdint>
#include <optional>
#include "KeptFile.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Bytes read from and written to the machine's physical disks since boot.
struct DiskTotals
{
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
};

// One physical disk's traffic since boot.
struct DiskCounters
{
    std::string name;
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
};

// Reads <procRoot>/diskstats, counting whole physical disks only. Partitions would count
// their disk's traffic twice, and loop, ram, zram, device-mapper and md devices are layers
// over other devices (or over memory). A physical disk is one that sysfs lists under
// <sysRoot>/block with a backing `device`; without sysfs a name-based rule stands in.
class DiskStatsReader
{
public:
    explicit DiskStatsReader(const std::string &procRoot = "/proc", const std::string &sysRoot = "/sys");

    // With `perDisk`, also each physical disk's own counters, in file order.
    std::optional<DiskTotals> read(std::vector<DiskCounters> *perDisk = nullptr);

    // Name-based rule used when sysfs is not available.
    static bool looksLikeWholeDisk(std::string_view name);

private:
    bool isPhysicalDisk(std::string_view name);

    KeptFile m_file;
    std::string m_blockDir;
    std::string m_buffer;
    std::optional<bool> m_haveSysfs;
    std::unordered_map<std::string, bool> m_physical;   // per device name; names rarely change
};
