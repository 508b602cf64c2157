#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The NPU's load from the driver's cumulative busy counter: the share of wall time it was
// busy between two readings. The first reading is taken at construction, so the first
// tick already covers an interval.
class NpuMonitor
{
public:
    using Clock = std::function<std::int64_t()>;   // monotonic µs

    // `busyTimePath`: the counter file (µs); empty: nothing to measure. `clock` unset: the
    // steady clock.
    explicit NpuMonitor(std::string busyTimePath = {}, Clock clock = {});

    // Busy percent (0...100) since the previous reading; absent when nothing is measured:
    // no counter, an unreadable one, no time passed, or a counter that went back (the
    // driver was reloaded), after which the next reading measures again.
    std::optional<double> sample();

private:
    std::int64_t now() const;

    std::string m_path;
    Clock m_clock;
    std::string m_buffer;
    std::optional<std::uint64_t> m_lastBusy;
    std::int64_t m_lastAt = 0;
};
