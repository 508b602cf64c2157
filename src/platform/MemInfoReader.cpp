#include "MemInfoReader.h"

#include "ProcFile.h"

#include <dirent.h>

#include <cstring>

MemInfoReader::MemInfoReader(const std::string &procRoot, const std::string &sysRoot)
    : m_meminfo(procRoot + "/meminfo")
    , m_blockDir(sysRoot + "/block")
{
}

MemInfo MemInfoReader::parse(std::string_view text)
{
    MemInfo info;
    bool haveTotal = false, haveAvailable = false, haveSwapTotal = false, haveSwapFree = false;
    std::uint64_t zswap = 0;
    while (!text.empty()) {
        std::string_view line = ProcFile::nextLine(text);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, colon);
        std::string_view rest = line.substr(colon + 1);
        unsigned long long kib = 0;
        if (!ProcFile::parseU64(ProcFile::nextField(rest), kib))
            continue;
        const std::string_view unit = ProcFile::nextField(rest);
        const std::uint64_t bytes = unit == "kB" ? kib * 1024 : kib;

        if (key == "MemTotal") {
            info.total = bytes;
            haveTotal = true;
        } else if (key == "MemAvailable") {
            info.available = bytes;
            haveAvailable = true;
        } else if (key == "Unevictable" || key == "SUnreclaim") {
            info.wired += bytes;
        } else if (key == "KernelStack" || key == "PageTables") {
            info.wired += bytes;
            info.kernel += bytes;
        } else if (key == "Slab") {
            info.kernel += bytes;
        } else if (key == "Zswap") {
            zswap = bytes;
        } else if (key == "SwapTotal") {
            info.swapTotal = bytes;
            haveSwapTotal = true;
        } else if (key == "SwapFree") {
            info.swapFree = bytes;
            haveSwapFree = true;
        }
    }
    info.valid = haveTotal && haveAvailable && info.total > 0;
    info.swapValid = haveSwapTotal && haveSwapFree;
    info.compressed = zswap;
    return info;
}

std::uint64_t MemInfoReader::zramCompressedBytes()
{
    if (++m_readsSinceZramListing >= kZramRelist) {
        m_readsSinceZramListing = 0;
        m_zramStats.clear();
        if (DIR *dir = ::opendir(m_blockDir.c_str())) {
            while (const dirent *entry = ::readdir(dir)) {
                if (std::strncmp(entry->d_name, "zram", 4) != 0)
                    continue;
                // A device the module made but nobody set up (disksize 0, the usual case
                // where zram is loaded and unused) holds nothing: it is not read each
                // second, and is looked at again at the next listing.
                const std::string device = m_blockDir + "/" + entry->d_name;
                unsigned long long disksize = 0;
                if (ProcFile::read(device + "/disksize", m_buffer) && ProcFile::parseU64(ProcFile::trimmed(m_buffer), disksize)
                    && disksize == 0)
                    continue;
                m_zramStats.emplace_back(device + "/mm_stat");
            }
            ::closedir(dir);
        }
    }
    std::uint64_t sum = 0;
    for (KeptFile &stat : m_zramStats) {
        if (!stat.read(m_buffer))
            continue;
        // mm_stat: orig_data_size compr_data_size mem_used_total ...
        std::string_view text(m_buffer);
        ProcFile::nextField(text);
        unsigned long long compressed = 0;
        if (ProcFile::parseU64(ProcFile::nextField(text), compressed))
            sum += compressed;
    }
    return sum;
}

MemInfo MemInfoReader::read()
{
    if (!m_meminfo.read(m_buffer))
        return {};
    MemInfo info = parse(m_buffer);
    if (info.valid)
        info.compressed += zramCompressedBytes();
    return info;
}
