#pragma once

#include <QImage>
#include <QList>
#include <QRect>

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
        bool operator==(const Figures &) const = default;
    };

    static constexpr int kHeight = 22;

    static Figures figuresFrom(const SystemStatsProvider &stats);

    enum class Layout { Wide, Compact };

    // Most Linux tray hosts (XEmbed trays, KDE's and GNOME's StatusNotifierItem hosts) give
    // each icon a square slot and squeeze anything wider into it. The full row is drawn only
    // where the host reports a slot wide enough for it; otherwise a square icon with the
    // ring and the CPU figure, the rest going to the tooltip.
    static Layout layoutFor(const QRect &slot);

    // The full row at the given device pixel ratio; its logical height is kHeight.
    static QImage render(const Figures &figures, qreal devicePixelRatio = 2.0);

    // The square icon, kHeight by kHeight logical pixels; the last kKeptCompactIcons
    // pictures are kept and handed out again.
    static constexpr size_t kKeptCompactIcons = 12;
    static QImage renderCompact(const Figures &figures, qreal devicePixelRatio = 2.0);

    // Whether the two would come out as the same picture in `layout`: the square icon
    // shows only the whole CPU percentage (and whether it is above 80), so most samples
    // leave it as it was.
    static bool drawsSame(const Figures &a, const Figures &b, Layout layout);

    // A one-line summary for the icon's tooltip (trays that squeeze the icon still show it).
    static QString toolTip(const Figures &figures);

private:
    static QImage drawCompact(const Figures &figures, qreal devicePixelRatio);
};
