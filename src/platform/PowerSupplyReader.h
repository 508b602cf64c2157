#pragma once

#include "KeptFile.h"

#include <cstdint>
#include <dirent.h>
#include <map>
#include <memory>
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

// Read every second: each supply's attribute files stay open between reads (a laptop's
// battery and adapter are two dozen of them), and are let go when the supply goes away.
// The class directory stays open too and is listed again from its start each time, which
// shows supplies that came and went since (the directory itself is there for good).
class PowerSupplyReader
{
public:
    explicit PowerSupplyReader(std::string sysRoot = "/sys");

    // Every supply, in name order.
    std::vector<PowerSupply> read() const;

    // The machine's own battery: the first Battery that is not a peripheral's (a wireless
    // mouse's or headset's battery is a Battery too, scoped to its device). Null if none.
    static const PowerSupply *machineBattery(const std::vector<PowerSupply> &supplies);
    // Charge in percent, truncated: capacity, else energy now / full, else charge now /
    // full; a full figure of 0 gives 0. Absent when the supply reports none of them.
    static std::optional<std::int64_t> chargePercent(const PowerSupply &battery);

private:
    struct DirCloser
    {
        void operator()(DIR *dir) const;
    };

    std::string m_root;
    mutable std::unique_ptr<DIR, DirCloser> m_dir;   // opened on the first read that finds it
    mutable std::map<std::string, std::vector<KeptFile>> m_files;   // by supply name
};
