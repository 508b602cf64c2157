#pragma once

#include <array>
#include <cstdint>
#include "KeptFile.h"

#include <string>
#include <vector>

// Cumulative tick counters of one logical CPU, as the kernel keeps them in /proc/stat.
struct CpuTicks
{
    enum Counter { User, Nice, System, Idle, IoWait, Irq, SoftIrq, Steal, CounterCount };

    int id = -1;                                  // the N of "cpuN"
    std::array<std::uint64_t, CounterCount> counters{};
};

// Busy and idle time of one CPU between two samples.
struct CpuLoadDelta
{
    std::uint64_t busy = 0;
    std::uint64_t idle = 0;
    std::uint64_t user = 0;     // user + nice: inside busy
    std::uint64_t system = 0;   // system + irq + softirq: inside busy (steal is neither)
};

// Reads the per-CPU lines of <procRoot>/stat.
class CpuTimesReader
{
public:
    explicit CpuTimesReader(const std::string &procRoot = "/proc");

    // Fills `out` with one entry per "cpuN" line, in file order. False when the file
    // cannot be read or holds no usable per-CPU line; `out` is then unspecified.
    bool read(std::vector<CpuTicks> &out);

    // Busy = user + nice + system + irq + softirq + steal, idle = idle + iowait (guest time
    // is already inside user). A counter that went backwards (iowait does, on some kernels)
    // contributes nothing rather than wrapping to a huge number.
    static CpuLoadDelta delta(const CpuTicks &previous, const CpuTicks &current);

private:
    KeptFile m_file;
    std::string m_buffer;
};
