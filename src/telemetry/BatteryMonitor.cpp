#include "BatteryMonitor.h"

#include <cmath>
#include <limits>

namespace {
// Minutes the stored energy (or charge) lasts at the present drain. Figures that give more
// minutes than a qint64 holds are a damaged reading, and a double that large cannot be
// converted at all: the time is then not known, 0.
qint64 minutesLeft(std::int64_t stored, std::int64_t drain)
{
    const double minutes = static_cast<double>(stored) / std::abs(static_cast<double>(drain)) * 60.0;
    constexpr double limit = static_cast<double>(std::numeric_limits<qint64>::max());   // 2^63
    return minutes > -limit && minutes < limit ? static_cast<qint64>(minutes) : 0;
}
}

std::optional<BatteryInfo> BatteryMonitor::infoFrom(const std::vector<PowerSupply> &supplies)
{
    const PowerSupply *battery = PowerSupplyReader::machineBattery(supplies);
    if (!battery)
        return std::nullopt;

    BatteryInfo info;
    info.percentage = PowerSupplyReader::chargePercent(*battery).value_or(0);

    info.isCharging = battery->status == "Charging";

    bool anyExternal = false;
    bool externalOnline = false;
    for (const PowerSupply &s : supplies) {
        if (s.type != "Mains" && s.type.compare(0, 3, "USB") != 0)
            continue;
        anyExternal = true;
        externalOnline = externalOnline || s.online.value_or(false);
    }
    // Some machines list no adapter at all; the battery's own status is all there is.
    info.isUnplugged = anyExternal ? !externalOnline : battery->status == "Discharging";

    if (battery->status == "Discharging") {
        if (battery->energyNow && battery->powerNow && *battery->powerNow != 0)
            info.timeToEmpty = minutesLeft(*battery->energyNow, *battery->powerNow);
        else if (battery->chargeNow && battery->currentNow && *battery->currentNow != 0)
            info.timeToEmpty = minutesLeft(*battery->chargeNow, *battery->currentNow);
    }

    if (battery->powerNow)
        info.wattage = std::abs(static_cast<double>(*battery->powerNow)) / 1e6;
    else if (battery->voltageNow && battery->currentNow)
        info.wattage = std::abs(static_cast<double>(*battery->voltageNow)) * std::abs(static_cast<double>(*battery->currentNow)) / 1e12;
    return info;
}
