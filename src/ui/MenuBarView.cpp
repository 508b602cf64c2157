#include "MenuBarView.h"

#include "telemetry/SystemStatsProvider.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
const QColor kPrimary(242, 242, 247);
const QColor kSecondary(174, 174, 178);
const QColor kBlue(10, 132, 255);
const QColor kRed(255, 69, 58);
const QColor kPurple(191, 90, 242);
const QColor kGreen(48, 209, 88);

constexpr int kSpacing = 8;
constexpr int kPadding = 4;
constexpr int kRing = 14;
constexpr int kSparkWidth = 20;
constexpr int kSparkHeight = 14;

QFont monoFont(qreal points, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

QString cpuText(double cpu)
{
    return QString::asprintf("%.0f%%", cpu);
}

QString temperatureText(double celsius)
{
    // No sensor reading yet: a dash rather than a made-up 0°.
    return celsius > 0 ? QString::asprintf("%.0f\u00B0", celsius) : QStringLiteral("\u2013\u00B0");
}

void drawBolt(QPainter &p, const QRectF &r, const QColor &color)
{
    QPainterPath bolt;
    bolt.moveTo(r.left() + r.width() * 0.60, r.top());
    bolt.lineTo(r.left() + r.width() * 0.10, r.top() + r.height() * 0.58);
    bolt.lineTo(r.left() + r.width() * 0.45, r.top() + r.height() * 0.58);
    bolt.lineTo(r.left() + r.width() * 0.35, r.bottom());
    bolt.lineTo(r.left() + r.width() * 0.90, r.top() + r.height() * 0.40);
    bolt.lineTo(r.left() + r.width() * 0.55, r.top() + r.height() * 0.40);
    bolt.closeSubpath();
    p.fillPath(bolt, color);
}

QImage transparentImage(QSize logical, qreal dpr)
{
    QImage image(logical * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    return image;
}

// The CPU ring: a faint full circle with the load arc over it, from the top, clockwise,
// never more than one full turn.
int wholePercent(double cpu)
{
    return static_cast<int>(std::lround(std::clamp(cpu, 0.0, 100.0)));
}

// The faint full circle under the load arc is the same in every icon: stroking it was half
// of what drawing the icon cost each second, so it is drawn once per size and scale and
// copied after that. Its picture starts on a whole device pixel, with the ring at the same
// fraction inside it as on the icon, so the copy is exact.
void drawTrack(QPainter &p, const QRectF &ring, qreal width)
{
    struct Track {
        QRectF ring;
        qreal width;
        qreal dpr;
        QImage image;
        QPointF origin;
    };
    static std::vector<Track> drawn;   // a handful: one per icon layout and scale
    const qreal dpr = p.device() ? p.device()->devicePixelRatio() : 1.0;
    for (const Track &t : drawn)
        if (t.ring == ring && t.width == width && t.dpr == dpr) {
            p.drawImage(t.origin, t.image);
            return;
        }
    const qreal margin = width / 2 + 1;
    const QPointF origin(std::floor((ring.left() - margin) * dpr) / dpr, std::floor((ring.top() - margin) * dpr) / dpr);
    const QSizeF logical(ring.right() + margin - origin.x(), ring.bottom() + margin - origin.y());
    QImage image((logical * dpr).toSize() + QSize(1, 1), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    {
        QPainter tp(&image);
        tp.setRenderHint(QPainter::Antialiasing);
        QColor track = kPrimary;
        track.setAlphaF(0.2);
        tp.setPen(QPen(track, width));
        tp.setBrush(Qt::NoBrush);
        tp.drawEllipse(ring.translated(-origin));
    }
    if (drawn.size() >= 8)
        drawn.erase(drawn.begin());
    drawn.push_back({ring, width, dpr, image, origin});
    p.drawImage(origin, image);
}

void drawRing(QPainter &p, const QRectF &ring, double cpu, qreal width, bool hot)
{
    drawTrack(p, ring, width);
    const double fraction = std::clamp(cpu / 100.0, 0.0, 1.0);
    if (fraction > 0) {
        p.setPen(QPen(hot ? kRed : kBlue, width, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(ring, 90 * 16, -static_cast<int>(fraction * 360 * 16));
    }
}

void drawBattery(QPainter &p, const QRectF &r, int percent, const QColor &color)
{
    const QRectF body(r.left(), r.top() + 1, r.width() - 2, r.height() - 2);
    p.setPen(QPen(color, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(body, 1.5, 1.5);
    p.fillRect(QRectF(body.right() + 0.5, body.center().y() - 1.5, 1.5, 3), color);
    const double level = std::clamp(percent, 0, 100) / 100.0;
    p.fillRect(QRectF(body.left() + 1.5, body.top() + 1.5, (body.width() - 3) * level, body.height() - 3), color);
}
}

MenuBarView::Layout MenuBarView::layoutFor(const QRect &slot)
{
    return slot.isValid() && slot.width() >= 3 * slot.height() ? Layout::Wide : Layout::Compact;
}

MenuBarView::Figures MenuBarView::figuresFrom(const SystemStatsProvider &stats)
{
    Figures f;
    f.cpuUsage = stats.cpuUsage();
    f.socTemperature = stats.socTemperature();
    f.cpuHistory = stats.cpuHistory();
    f.batteryPercentage = stats.batteryPercentage();
    f.batteryIsCharging = stats.batteryIsCharging();
    f.hasBattery = stats.batteryPercentage() > 0 || stats.batteryIsCharging() || stats.isUnplugged();
    return f;
}

QString MenuBarView::toolTip(const Figures &f)
{
    QString tip = QStringLiteral("Quillmoor \u2014 CPU %1").arg(cpuText(f.cpuUsage));
    if (f.socTemperature > 0)
        tip += QStringLiteral(", %1C").arg(temperatureText(f.socTemperature));
    if (f.hasBattery)
        tip += QStringLiteral(", battery %1%%2").arg(f.batteryPercentage).arg(f.batteryIsCharging ? QStringLiteral(" (charging)") : QString());
    return tip;
}

QImage MenuBarView::render(const Figures &f, qreal dpr)
{
    const QFont cpuFont = monoFont(9, QFont::Bold);
    const QFont tempFont = monoFont(8, QFont::Normal);
    const QFont batteryFont = monoFont(9, QFont::Medium);
    const QString cpu = cpuText(f.cpuUsage);
    const QString temp = temperatureText(f.socTemperature);
    const QString battery = QStringLiteral("%1%").arg(f.batteryPercentage);

    // Widths come from the text so "100%" is never clipped.
    const int textWidth = std::max(QFontMetrics(cpuFont).horizontalAdvance(QStringLiteral("100%")),
                                   QFontMetrics(tempFont).horizontalAdvance(temp));
    const int batteryTextWidth = QFontMetrics(batteryFont).horizontalAdvance(QStringLiteral("100%"));
    int width = kPadding + kRing + kSpacing + textWidth + kSpacing + kSparkWidth + kPadding;
    if (f.hasBattery)
        width += kSpacing + 12 + 2 + batteryTextWidth;

    QImage image = transparentImage(QSize(width, kHeight), dpr);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    int x = kPadding;
    const qreal mid = kHeight / 2.0;

    drawRing(p, QRectF(x + 1.5, mid - kRing / 2.0 + 1.5, kRing - 3, kRing - 3), f.cpuUsage, 3, f.cpuUsage > 80);
    x += kRing + kSpacing;

    // Two-line figures.
    p.setFont(cpuFont);
    p.setPen(kPrimary);
    p.drawText(QRectF(x, 0, textWidth, mid + 1), Qt::AlignLeft | Qt::AlignBottom, cpu);
    p.setFont(tempFont);
    p.setPen(f.socTemperature > 80 ? kRed : kSecondary);
    p.drawText(QRectF(x, mid - 1, textWidth, mid + 1), Qt::AlignLeft | Qt::AlignTop, temp);
    x += textWidth + kSpacing;

    // Sparkline of the history on a fixed 0-100 scale.
    const qsizetype n = f.cpuHistory.size();
    if (n >= 2) {
        const QRectF box(x, mid - kSparkHeight / 2.0, kSparkWidth, kSparkHeight);
        QPainterPath line;
        for (qsizetype i = 0; i < n; ++i) {
            const double v = std::clamp(f.cpuHistory[i], 0.0, 100.0);
            const QPointF pt(box.left() + i * box.width() / (n - 1), box.bottom() - v / 100.0 * box.height());
            i == 0 ? line.moveTo(pt) : line.lineTo(pt);
        }
        p.setPen(QPen(kPurple, 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(line);
    }
    x += kSparkWidth;

    if (f.hasBattery) {
        x += kSpacing;
        const QRectF glyph(x, mid - 5, 12, 10);
        if (f.batteryIsCharging)
            drawBolt(p, glyph, kGreen);
        else
            drawBattery(p, glyph, f.batteryPercentage, kPrimary);
        x += 12 + 2;
        p.setFont(batteryFont);
        p.setPen(kPrimary);
        p.drawText(QRectF(x, 0, batteryTextWidth, kHeight), Qt::AlignLeft | Qt::AlignVCenter, battery);
    }
    return image;
}

bool MenuBarView::drawsSame(const Figures &a, const Figures &b, Layout layout)
{
    if (layout == Layout::Compact)
        return wholePercent(a.cpuUsage) == wholePercent(b.cpuUsage) && (a.cpuUsage > 80) == (b.cpuUsage > 80);
    return a == b;   // the wide icon draws every figure
}

QImage MenuBarView::renderCompact(const Figures &f, qreal dpr)
{
    // The square icon shows only the whole percent and whether it is red, and an idle
    // machine moves among a few values: the last pictures are kept, since shaping and
    // drawing the figure was most of what a change of it cost.
    struct Kept {
        int cpu;
        bool hot;
        qreal dpr;
        QImage image;
    };
    static std::vector<Kept> kept;   // most recent last
    const int percent = wholePercent(f.cpuUsage);
    const bool hot = f.cpuUsage > 80;
    for (auto it = kept.begin(); it != kept.end(); ++it)
        if (it->cpu == percent && it->hot == hot && it->dpr == dpr) {
            std::rotate(it, it + 1, kept.end());
            return kept.back().image;
        }
    if (kept.size() >= kKeptCompactIcons)
        kept.erase(kept.begin());
    kept.push_back({percent, hot, dpr, drawCompact(f, dpr)});
    return kept.back().image;
}

QImage MenuBarView::drawCompact(const Figures &f, qreal dpr)
{
    QImage image = transparentImage(QSize(kHeight, kHeight), dpr);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The ring shows the figure drawn inside it, in red when the load is above 80.
    const int cpu = wholePercent(f.cpuUsage);
    drawRing(p, QRectF(1.5, 1.5, kHeight - 3, kHeight - 3), cpu, 2.5, f.cpuUsage > 80);
    // The figure without its percent sign, so two digits fit the ring.
    QFont font = monoFont(cpu >= 100 ? 6 : 7.5, QFont::Bold);
    p.setFont(font);
    p.setPen(kPrimary);
    p.drawText(QRectF(0, 0, kHeight, kHeight), Qt::AlignCenter, QString::number(cpu));
    return image;
}
