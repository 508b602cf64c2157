#pragma once

#include <cstdint>
#include "KeptFile.h"

#include <string>
#include <vector>
#include <string_view>

// Memory figures in bytes, from <procRoot>/meminfo and the zram devices under <sysRoot>/block.
struct MemInfo
{
    bool valid = false;             // MemTotal and MemAvailable were both read
    std::uint64_t total = 0;
    std::uint64_t available = 0;
    std::uint64_t wired = 0;        // Unevictable + SUnreclaim + KernelStack + PageTables
    std::uint64_t compressed = 0;   // zswap pool + zram compressed data
    std::uint64_t kernel = 0;       // the kernel's own: Slab + KernelStack + PageTables

    bool swapValid = false;         // SwapTotal and SwapFree were both read
    std::uint64_t swapTotal = 0;
    std::uint64_t swapFree = 0;
};

class MemInfoReader
{
public:
    explicit MemInfoReader(const std::string &procRoot = "/proc", const std::string &sysRoot = "/sys");

    MemInfo read();

    // Parses the text of a meminfo file (zram not included).
    static MemInfo parse(std::string_view text);

private:
    std::uint64_t zramCompressedBytes();

    KeptFile m_meminfo;
    std::string m_blockDir;
    std::string m_buffer;
    // zram devices come and go rarely, and listing the block devices every second costs
    // more than the rest of the reading; the list is taken again every kZramRelist readings.
    static constexpr int kZramRelist = 30;
    std::vector<KeptFile> m_zramStats;
    int m_readsSinceZramListing = kZramRelist;
};
