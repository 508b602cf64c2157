#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// What the smart pause reads each pass. Each is optional: unset, the switch is off, the
// temperature unknown, the machine without a battery, on mains power.
struct SmartPauseInputs
{
    std::function<bool()> enabled;
    // The CPU package in °C, only when a sensor gave it: an estimate must never freeze a
    // model server, so none is passed here.
    std::function<std::optional<double>()> cpuTemperature;
    // The battery's charge in percent, only when the machine has one.
    std::function<std::optional<double>()> batteryPercent;
    std::function<bool()> isUnplugged;
};

// How it acts on processes; LocalAIService hands these in, so the freezing goes through
// the same checks and the same log as the compile guard's.
struct SmartPauseActions
{
    std::function<QList<int>()> localAIPids;       // the local AI processes there now
    std::function<bool(int pid)> freeze;           // true once the process is stopped
    std::function<void(int pid)> thaw;
    std::function<bool(int pid)> heldByCompileGuard;   // the compile guard still wants it stopped
    std::function<void(const QString &line)> log;
};

// Freezes the local AI processes while the CPU runs hot or the battery runs low on battery
// power, and thaws them when that is over. It freezes the processes there when the pause
// starts and only those: one started while it lasts is left alone, as the compile guard
// leaves one started mid-compile. It thaws exactly what it froze, except a process another
// the compile guard holds too, which the guard thaws when it lets go.
class SmartPause
{
public:
    static constexpr double kHotAboveC = 88.0;
    // A package that just crossed 88 °C hovers around it; thawing at 87 would freeze again
    // two seconds later, so the pause lasts until the CPU has really cooled.
    static constexpr double kCooledAtOrBelowC = 83.0;
    static constexpr double kLowBatteryBelowPercent = 20.0;

    struct Reading
    {
        bool enabled = false;
        std::optional<double> cpuTemperature;
        std::optional<double> batteryPercent;
        bool unplugged = false;
    };

    SmartPause(SmartPauseInputs inputs, SmartPauseActions actions);

    // One step of the pass: reads the inputs, starts or ends the pause. True when
    // active() or held() changed.
    bool apply();

    // Whether the pause is on, holding the processes it froze (possibly none).
    bool active() const { return m_active; }
    QList<int> held() const { return m_held; }
    bool holds(int pid) const { return m_held.contains(pid); }

    // Why a pause should start, or with `holding` go on, in words for the log; empty when
    // there is no cause. Without a temperature reading only the battery counts.
    static QString cause(const Reading &reading, bool holding);

private:
    Reading read() const;
    void start(const QString &why);
    void end(const Reading &reading);

    SmartPauseInputs m_inputs;
    SmartPauseActions m_actions;
    bool m_active = false;
    QList<int> m_held;
};
