#pragma once

#include <QImage>
#include <QList>

class SystemStatsProvider;

// Draws the telemetry tray icon: a CPU ring, the CPU percentage over the SoC temperature,
// a sparkline of the CPU history and, when the machine has a battery, its charge.
class MenuBarView
{
public:
    struct Figures
    {
        double cpuUsage = 0;
        double socTemperature = 0;
        QList<double> cpuHistory;
        int batteryPercentage = 0;
        bool batteryIsCharging = false;
        bool hasBattery = false;
    };

    static constexpr int kHeight = 22;

    static Figures figuresFrom(const SystemStatsProvider &stats);

    // The icon at the given device pixel ratio; its logical height is kHeight.
    static QImage render(const Figures &figures, qreal devicePixelRatio = 2.0);

    // A one-line summary for the icon's tooltip (trays that squeeze the icon still show it).
    static QString toolTip(const Figures &figures);
};
