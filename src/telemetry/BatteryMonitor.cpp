#include "BatteryMonitor.h"

#include <cmath>

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
            info.timeToEmpty = static_cast<qint64>(static_cast<double>(*battery->energyNow) / std::abs(static_cast<double>(*battery->powerNow)) * 60.0);
        else if (battery->chargeNow && battery->currentNow && *battery->currentNow != 0)
            info.timeToEmpty = static_cast<qint64>(static_cast<double>(*battery->chargeNow) / std::abs(static_cast<double>(*battery->currentNow)) * 60.0);
    }

    if (battery->powerNow)
        info.wattage = std::abs(static_cast<double>(*battery->powerNow)) / 1e6;
    else if (battery->voltageNow && battery->currentNow)
        info.wattage = std::abs(static_cast<double>(*battery->voltageNow)) * std::abs(static_cast<double>(*battery->currentNow)) / 1e12;
    return info;
}
