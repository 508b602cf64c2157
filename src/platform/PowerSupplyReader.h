#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One supply under class/power_supply, as its attribute files give it. Energy is in µWh,
// charge in µAh, power in µW, voltage in µV and current in µA; absent files stay absent.
struct PowerSupply
{
    std::string name;     // "BAT0", "AC", "ucsi-source-psy-USBC000:001" ...
    std::string type;     // "Battery", "Mains", "USB" ...
    std::string scope;    // "Device" for a peripheral's battery (mouse, headset)
    std::string status;   // "Charging", "Discharging", "Full", "Not charging" ...
    std::optional<bool> online;
    std::optional<std::int64_t> capacity;   // percent
    std::optional<std::int64_t> energyNow, energyFull;
    std::optional<std::int64_t> chargeNow, chargeFull;
    std::optional<std::int64_t> powerNow, voltageNow, currentNow;
};

class PowerSupplyReader
{
public:
    explicit PowerSupplyReader(std::string sysRoot = "/sys");

    // Every supply, in name order.
    std::vector<PowerSupply> read() const;

private:
    std::string m_root;
};
