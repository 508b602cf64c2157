#include "PagingMonitor.h"

#include "platform/ProcessTableReader.h"
#include "platform/SteadyClock.h"

namespace {
// KiB per second between two readings of one counter; a counter that went back (the
// kernel's counters do not, but a restored snapshot of the file could) reads 0.
double ratePerSecond(std::uint64_t now, std::uint64_t before, double kibPerUnit, double seconds)
{
    return now >= before ? static_cast<double>(now - before) * kibPerUnit / seconds : 0.0;
}
}

PagingMonitor::PagingMonitor(const std::string &procRoot, int intervalMs, Clock clock, std::uint64_t pageSize)
    : m_reader(procRoot)
    , m_clock(clock ? std::move(clock) : Clock(steadyMilliseconds))
    , m_pageSize(pageSize ? pageSize : ProcessTableReader::pageSize())
    , m_intervalMs(intervalMs)
{
}

PagingFigures PagingMonitor::sample()
{
    const qint64 at = m_clock();
    if (m_last && at - m_lastAt < m_intervalMs)
        return m_figures;
    const VmStat now = m_reader.read();
    if (!now.valid) {
        // Unreadable: nothing is claimed, and the next reading starts a fresh interval.
        m_last.reset();
        m_figures = PagingFigures{};
        return m_figures;
    }

    PagingFigures f;
    f.measured = true;
    f.swapMeasured = now.swapValid;
    f.pagedInBytes = static_cast<qint64>(now.pagedInKiB * 1024);
    f.pagedOutBytes = static_cast<qint64>(now.pagedOutKiB * 1024);
    if (now.swapValid) {
        f.swappedInBytes = static_cast<qint64>(now.swappedInPages * m_pageSize);
        f.swappedOutBytes = static_cast<qint64>(now.swappedOutPages * m_pageSize);
    }

    const double seconds = static_cast<double>(at - m_lastAt) / 1000.0;
    if (m_last && seconds <= 0.0) {
        // Two samples within the same millisecond: the last rates stand.
        f.pageInRate = m_figures.pageInRate;
        f.pageOutRate = m_figures.pageOutRate;
        f.swapInRate = m_figures.swapInRate;
        f.swapOutRate = m_figures.swapOutRate;
        m_figures = f;
        return f;
    }
    if (m_last) {
        f.pageInRate = ratePerSecond(now.pagedInKiB, m_last->pagedInKiB, 1.0, seconds);
        f.pageOutRate = ratePerSecond(now.pagedOutKiB, m_last->pagedOutKiB, 1.0, seconds);
        if (now.swapValid && m_last->swapValid) {
            const double kibPerPage = static_cast<double>(m_pageSize) / 1024.0;
            f.swapInRate = ratePerSecond(now.swappedInPages, m_last->swappedInPages, kibPerPage, seconds);
            f.swapOutRate = ratePerSecond(now.swappedOutPages, m_last->swappedOutPages, kibPerPage, seconds);
        }
    }
    m_last = now;
    m_lastAt = at;
    m_figures = f;
    return f;
}
