#include "PowerMeter.h"

#include "platform/SteadyClock.h"

#include <cmath>

namespace {
// Beyond this the counters may have wrapped more than once (a machine back from sleep):
// the interval is not used and the readings start again.
constexpr qint64 kLongestIntervalMs = 60 * 1000;
}

PowerMeter::PowerMeter(const std::string &sysRoot, Clock clock)
    : m_rapl(sysRoot)
    , m_clock(clock ? std::move(clock) : Clock(steadyMilliseconds))
{
}

std::optional<double> PowerMeter::dischargeWatts(const PowerSupply &battery)
{
    if (battery.status != "Discharging")
        return std::nullopt;
    if (battery.powerNow)
        return std::abs(static_cast<double>(*battery.powerNow)) / 1e6;
    if (battery.currentNow && battery.voltageNow)
        return std::abs(static_cast<double>(*battery.currentNow)) * std::abs(static_cast<double>(*battery.voltageNow)) / 1e12;
    return std::nullopt;
}

std::optional<double> PowerMeter::raplWatts()
{
    std::vector<RaplZone> zones = m_rapl.read();
    const qint64 at = m_clock();
    if (zones.empty()) {
        m_lastZones.clear();
        m_lastRaplWatts.reset();
        return std::nullopt;
    }
    const qint64 elapsed = at - m_lastAt;
    if (!m_lastZones.empty() && elapsed <= 0)
        return m_lastRaplWatts;   // twice in one millisecond: the last figure stands

    // The platform zone (psys) covers the packages and more; where it is there, it alone
    // is the figure, otherwise the packages are added up.
    bool hasPlatform = false;
    for (const RaplZone &z : zones)
        hasPlatform = hasPlatform || z.name == "psys";

    std::optional<double> watts;
    const bool sameZones = zones.size() == m_lastZones.size()
        && std::equal(zones.begin(), zones.end(), m_lastZones.begin(),
                      [](const RaplZone &a, const RaplZone &b) { return a.zone == b.zone; });
    if (sameZones && elapsed <= kLongestIntervalMs) {
        double joules = 0;
        bool known = true;
        for (size_t i = 0; i < zones.size() && known; ++i) {
            if (hasPlatform != (zones[i].name == "psys"))
                continue;
            const std::optional<std::uint64_t> uj =
                RaplReader::energyBetween(m_lastZones[i].energyUj, zones[i].energyUj, zones[i].maxRangeUj);
            known = uj.has_value();
            if (uj)
                joules += static_cast<double>(*uj) / 1e6;
        }
        if (known)
            watts = joules / (static_cast<double>(elapsed) / 1000.0);
    }
    m_lastZones = std::move(zones);
    m_lastAt = at;
    m_lastRaplWatts = watts;
    return watts;
}

PowerFigure PowerMeter::sample(const std::vector<PowerSupply> &supplies)
{
    // Read every time, so the interval is one tick whichever source is shown.
    const std::optional<double> rapl = raplWatts();
    if (const PowerSupply *battery = PowerSupplyReader::machineBattery(supplies))
        if (const std::optional<double> watts = dischargeWatts(*battery))
            return {*watts, true, QStringLiteral("battery")};
    if (rapl)
        return {*rapl, true, QStringLiteral("rapl")};
    return {};
}
