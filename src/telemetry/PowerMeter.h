#pragma once

#include "platform/PowerSupplyReader.h"
#include "platform/RaplReader.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the machine draws, where Linux can tell.
struct PowerFigure
{
    double watts = 0;        // 0 when not measured
    bool measured = false;
    // "battery": the battery's own discharge figure, the whole machine's draw;
    // "rapl": the processor packages' energy counters, the processor's share only;
    // empty: nothing readable tells it.
    QString source;

    bool operator==(const PowerFigure &) const = default;
};

// The machine's power draw: a discharging battery says what the machine takes from it
// (power_now, or current_now × voltage_now). On mains the battery's figure is what goes
// into it, not what the machine draws, so there the RAPL counters are used where they
// can be read (root-only on most kernels); where neither is there nothing is measured
// and no figure is made up.
class PowerMeter
{
public:
    // Milliseconds on a clock that never goes back.
    using Clock = std::function<qint64()>;

    explicit PowerMeter(const std::string &sysRoot, Clock clock = {});

    PowerFigure sample(const std::vector<PowerSupply> &supplies);

    // Watts a discharging battery delivers; absent when it is not discharging or reports
    // neither power nor both current and voltage.
    static std::optional<double> dischargeWatts(const PowerSupply &battery);

private:
    std::optional<double> raplWatts();

    RaplReader m_rapl;
    Clock m_clock;
    std::vector<RaplZone> m_lastZones;
    qint64 m_lastAt = 0;
    std::optional<double> m_lastRaplWatts;
};
