#pragma once

#include "platform/VmStatReader.h"

#include <QtGlobal>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The kernel's paging since boot and its pace: what moved between memory and disk (page
// cache reads and write-back as well as swap), and what moved to and from swap alone.
// The totals are kept as they are so any window can be taken of them; the rates are per
// second over the time between two readings, 0 on the first.
struct PagingFigures
{
    bool measured = false;        // the kernel's counters could be read
    bool swapMeasured = false;    // its swap counters too (absent on a kernel built without swap)
    qint64 pagedInBytes = 0;
    qint64 pagedOutBytes = 0;
    qint64 swappedInBytes = 0;
    qint64 swappedOutBytes = 0;
    double pageInRate = 0;        // KiB/s
    double pageOutRate = 0;
    double swapInRate = 0;
    double swapOutRate = 0;

    bool operator==(const PagingFigures &) const = default;
};

class PagingMonitor
{
public:
    // Milliseconds on a clock that never goes back.
    using Clock = std::function<qint64()>;

    // Reading /proc/vmstat costs tens of microseconds (the kernel sums every CPU's
    // counters), several times the rest of a memory reading, so by default it is read
    // every fifth second, not every pass.
    static constexpr int kDefaultIntervalMs = 5000;

    // pageSize 0: this machine's. Samples less than intervalMs after the last reading
    // return that reading's figures.
    explicit PagingMonitor(const std::string &procRoot, int intervalMs = kDefaultIntervalMs, Clock clock = {},
                           std::uint64_t pageSize = 0);

    PagingFigures sample();

private:
    VmStatReader m_reader;
    Clock m_clock;
    std::uint64_t m_pageSize;
    qint64 m_intervalMs;
    std::optional<VmStat> m_last;
    qint64 m_lastAt = 0;
    PagingFigures m_figures;
};
