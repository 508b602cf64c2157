#pragma once

#include "BatteryInfo.h"
#include "platform/PowerSupplyReader.h"

#include <optional>
#include <string>
#include <vector>

// The machine's own battery and whether it runs on it, from the kernel's power supplies.
class BatteryMonitor
{
public:
    explicit BatteryMonitor(std::string sysRoot) : m_supplies(std::move(sysRoot)) {}

    // The internal battery; absent on a machine without one.
    std::optional<BatteryInfo> read() const { return infoFrom(m_supplies.read()); }
    // Every power supply, for a caller that reads more of them than the battery record.
    std::vector<PowerSupply> supplies() const { return m_supplies.read(); }
    static std::optional<BatteryInfo> infoFrom(const std::vector<PowerSupply> &supplies);

private:
    PowerSupplyReader m_supplies;
};
