#pragma once

#include <QtGlobal>

// The internal battery as the power supply reports it.
struct BatteryInfo
{
    qint64 percentage = 0;    // truncated toward zero
    bool isCharging = false;
    qint64 timeToEmpty = 0;   // minutes; 0 when not discharging or not known
    double wattage = 0;
    bool isUnplugged = false;

    bool operator==(const BatteryInfo &) const = default;
};
