#include "DiskStatsReader.h"

#include "ProcFile.h"

#include <unistd.h>

namespace {
constexpr std::uint64_t kSectorBytes = 512;   // diskstats counts 512-byte sectors on every device

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}
}

DiskStatsReader::DiskStatsReader(const std::string &procRoot, const std::string &sysRoot)
    : m_file(procRoot + "/diskstats")
    , m_blockDir(sysRoot + "/block")
{
}

bool DiskStatsReader::looksLikeWholeDisk(std::string_view name)
{
    for (std::string_view layered : {"loop", "ram", "zram", "dm-", "md", "sr", "fd"})
        if (startsWith(name, layered))
            return false;
    const bool endsWithDigit = !name.empty() && name.back() >= '0' && name.back() <= '9';
    // nvme0n1, mmcblk0 and nbd0 end in a digit as whole disks; their partitions add "p<N>".
    if (startsWith(name, "nvme") || startsWith(name, "mmcblk") || startsWith(name, "nbd")) {
        const size_t p = name.rfind('p');
        return !(p != std::string_view::npos && p > 0 && p + 1 < name.size() && name[p - 1] >= '0' && name[p - 1] <= '9');
    }
    // sda, vdb, xvda, hda: partitions are sda1, vdb2...
    return !endsWithDigit;
}

bool DiskStatsReader::isPhysicalDisk(std::string_view name)
{
    if (!m_haveSysfs)
        m_haveSysfs = ::access(m_blockDir.c_str(), F_OK) == 0;
    if (!*m_haveSysfs)
        return looksLikeWholeDisk(name);

    std::string key(name);
    const auto it = m_physical.find(key);
    if (it != m_physical.end())
        return it->second;
    std::string sysName = key;
    for (char &c : sysName)
        if (c == '/')
            c = '!';   // "cciss/c0d0" is "cciss!c0d0" in sysfs
    const bool physical = ::access((m_blockDir + "/" + sysName + "/device").c_str(), F_OK) == 0;
    m_physical.emplace(std::move(key), physical);
    return physical;
}

std::optional<DiskTotals> DiskStatsReader::read(std::vector<DiskCounters> *perDisk)
{
    if (perDisk)
        perDisk->clear();
    if (!m_file.read(m_buffer))
        return std::nullopt;
    DiskTotals totals;
    bool parsedAny = false;
    std::string_view text(m_buffer);
    while (!text.empty()) {
        std::string_view line = ProcFile::nextLine(text);
        // major minor name reads merged sectorsRead msReading writes merged sectorsWritten ...
        ProcFile::nextField(line);
        ProcFile::nextField(line);
        const std::string_view name = ProcFile::nextField(line);
        unsigned long long f[7] = {};
        bool ok = !name.empty();
        for (int i = 0; ok && i < 7; ++i)
            ok = ProcFile::parseU64(ProcFile::nextField(line), f[i]);
        if (!ok)
            continue;
        parsedAny = true;
        if (!isPhysicalDisk(name))
            continue;
        totals.bytesRead += f[2] * kSectorBytes;
        totals.bytesWritten += f[6] * kSectorBytes;
        if (perDisk)
            perDisk->push_back({std::string(name), f[2] * kSectorBytes, f[6] * kSectorBytes});
    }
    if (!parsedAny)
        return std::nullopt;
    return totals;
}
