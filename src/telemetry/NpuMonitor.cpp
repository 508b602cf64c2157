#include "NpuMonitor.h"

#include "platform/AcceleratorReader.h"

#include <algorithm>
#include <chrono>
#include <utility>

NpuMonitor::NpuMonitor(std::string busyTimePath, Clock clock)
    : m_path(std::move(busyTimePath))
    , m_clock(std::move(clock))
{
    if (m_path.empty())
        return;
    m_lastBusy = AcceleratorReader::readBusyTime(m_path, m_buffer);
    m_lastAt = now();
}

std::int64_t NpuMonitor::now() const
{
    if (m_clock)
        return m_clock();
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::optional<double> NpuMonitor::sample()
{
    if (m_path.empty())
        return std::nullopt;
    const std::optional<std::uint64_t> busy = AcceleratorReader::readBusyTime(m_path, m_buffer);
    const std::int64_t at = now();
    const std::optional<std::uint64_t> before = std::exchange(m_lastBusy, busy);
    const std::int64_t wall = at - std::exchange(m_lastAt, at);
    if (!busy || !before || *busy < *before || wall <= 0)
        return std::nullopt;
    // The counter and the clock are read a moment apart, so a fully busy NPU can read a
    // hair over 100 %.
    const double percent = static_cast<double>(*busy - *before) / static_cast<double>(wall) * 100.0;
    return std::clamp(percent, 0.0, 100.0);
}
