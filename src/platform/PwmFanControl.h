#pragma once

#include "HwmonReader.h"

#include <string>
#include <vector>

// Drives the writable PWM fan outputs to full duty and hands them back to whatever
// controlled them before. Writing needs root or a udev rule granting the files to the
// user; outputs that cannot be written are left alone.
class PwmFanControl
{
public:
    explicit PwmFanControl(std::string sysRoot = "/sys");
    ~PwmFanControl();   // releases a forced state

    // Whether any output could be driven; rescans the chips.
    bool refresh();
    bool available() const { return !m_outputs.empty(); }

    // Full duty on every writable output; false when none took it.
    bool force();
    // Restores each forced output's mode and duty.
    void release();
    bool forced() const { return m_forced; }

private:
    struct Saved { HwmonPwm pwm; std::string enable; std::string duty; };
    static bool writeFile(const std::string &path, const std::string &text);

    HwmonReader m_reader;
    std::vector<HwmonPwm> m_outputs;
    std::vector<Saved> m_saved;
    bool m_forced = false;
};
