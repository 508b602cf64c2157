#pragma once

#include <cstdint>
#include "KeptFile.h"

#include <string>
#include <string_view>

// The kernel's cumulative paging counters from <procRoot>/vmstat. pgpgin and pgpgout count
// KiB moved between memory and block devices (file reads and writes as well as swap);
// pswpin and pswpout count pages moved to and from swap alone.
struct VmStat
{
    bool valid = false;              // pgpgin and pgpgout were both read
    std::uint64_t pagedInKiB = 0;
    std::uint64_t pagedOutKiB = 0;
    bool swapValid = false;          // pswpin and pswpout were both read
    std::uint64_t swappedInPages = 0;
    std::uint64_t swappedOutPages = 0;
};

class VmStatReader
{
public:
    explicit VmStatReader(const std::string &procRoot = "/proc");

    // Nothing valid when the file cannot be read.
    VmStat read();
    static VmStat parse(std::string_view text);

private:
    KeptFile m_file;
    std::string m_buffer;
};
