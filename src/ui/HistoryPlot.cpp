#include "HistoryPlot.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstring>

HistoryPlot::HistoryPlot(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    // An opaque background colour makes the plot opaque, so the renderer can skip whatever
    // lies under it.
    connect(this, &QQuickPaintedItem::fillColorChanged, this, [this] { setOpaquePainting(fillColor().alpha() == 255); });
}

namespace {
// Bit for bit, so a gap (NaN) equals the same gap. QList's own == hands memcmp a null
// pointer when one list has never held data.
bool sameSamples(const QList<qreal> &a, const QList<qreal> &b)
{
    return a.size() == b.size() && (a.isEmpty() || std::memcmp(a.constData(), b.constData(), a.size() * sizeof(qreal)) == 0);
}
}

// Each setter repaints only on a real change: a service republishing the same history
// costs nothing here.
void HistoryPlot::setValues(const QList<qreal> &values)
{
    if (sameSamples(values, m_values))
        return;
    m_values = values;
    update();
    Q_EMIT valuesChanged();
}

void HistoryPlot::setValues2(const QList<qreal> &values)
{
    if (sameSamples(values, m_values2))
        return;
    m_values2 = values;
    update();
    Q_EMIT values2Changed();
}

void HistoryPlot::setScaleTop(qreal top)
{
    if (qFuzzyCompare(top, m_top))
        return;
    m_top = top;
    update();
    Q_EMIT scaleTopChanged();
}

void HistoryPlot::setScaleTop2(qreal top)
{
    if (qFuzzyCompare(top, m_top2))
        return;
    m_top2 = top;
    update();
    Q_EMIT scaleTop2Changed();
}

void HistoryPlot::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
    Q_EMIT colorChanged();
}

void HistoryPlot::setColor2(const QColor &color)
{
    if (color == m_color2)
        return;
    m_color2 = color;
    update();
    Q_EMIT color2Changed();
}

void HistoryPlot::setGridColor(const QColor &color)
{
    if (color == m_gridColor)
        return;
    m_gridColor = color;
    update();
    Q_EMIT gridColorChanged();
}

void HistoryPlot::paint(QPainter *painter)
{
    // A repaint every second on a page that stays open all day, so each stroke takes the
    // raster engine's fast paths: areas without antialiasing, the first one copied rather
    // than blended (the image starts transparent and nothing lies under it yet), the grid as
    // filled rows, and the lines as one-device-pixel cosmetic strokes. Widened strokes with
    // round joins cost ten times as much here for a line half a pixel thicker.
    // Device pixels per logical one: the software renderer paints into an image of that
    // ratio, the GPU renderers into a plain image through a scaled painter.
    const qreal dpr = std::max(qreal(1), std::abs(painter->deviceTransform().m22()));
    const QPainterPath area = seriesPath(m_values, m_top, Shape::Area, dpr);
    const QPainterPath area2 = seriesPath(m_values2, m_top2, Shape::Area, dpr);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setCompositionMode(QPainter::CompositionMode_Source);
    painter->fillPath(area, firstAreaColour());
    painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter->fillPath(area2, faint(m_color2));

    const qreal w = width();
    const qreal h = height();
    for (int g = 1; g < 4; ++g)
        painter->fillRect(QRectF(0, std::round(g * h / 4), w, 1), m_gridColor);

    painter->setRenderHint(QPainter::Antialiasing, true);
    strokeLine(painter, seriesPath(m_values, m_top, Shape::Line, dpr), m_color, dpr);
    strokeLine(painter, seriesPath(m_values2, m_top2, Shape::Line, dpr), m_color2, dpr);
}

QColor HistoryPlot::faint(QColor colour)
{
    colour.setAlphaF(kAreaAlpha);
    return colour;
}

// The first area is copied over what lies under it: a transparent picture, or, on a card,
// the card's own colour, which the area's faint colour is mixed into here. An opaque plot
// spares the renderer the card and page under it each second.
QColor HistoryPlot::firstAreaColour() const
{
    const QColor under = fillColor();
    if (!opaquePainting() || under.alpha() != 255)
        return faint(m_color);
    const auto mix = [](int below, int above) { return qRound(below + (above - below) * kAreaAlpha); };
    return QColor(mix(under.red(), m_color.red()), mix(under.green(), m_color.green()), mix(under.blue(), m_color.blue()));
}

void HistoryPlot::strokeLine(QPainter *painter, const QPainterPath &line, const QColor &colour, qreal dpr)
{
    if (line.isEmpty())
        return;
    QPen pen(colour, 1);
    pen.setCosmetic(true);
    painter->strokePath(line, pen);
    // At 200 % one device pixel would read as a hairline: a second stroke one device pixel
    // lower gives the line its weight at a quarter of a widened stroke's cost.
    if (dpr >= 1.5)
        painter->strokePath(line.translated(0, 1 / dpr), pen);
}

QPainterPath HistoryPlot::seriesPath(const QList<qreal> &samples, qreal top, Shape shape, qreal dpr) const
{
    QPainterPath path;
    if (samples.size() < 2 || !(top > 0))
        return path;
    const qreal w = width();
    const qreal h = height();
    const qreal usable = h - 2;
    const qreal step = w / qreal(samples.size() - 1);
    // Lines run through device pixel centres, so a flat stretch is one crisp row, not two
    // half rows.
    const qreal lift = shape == Shape::Line ? 0.5 / dpr : 0;

    // One run of consecutive readings at a time: a gap stays a gap, neither a drop to 0
    // nor a line drawn across it.
    qsizetype runStart = -1;
    qreal lastX = 0;
    auto closeRun = [&] {
        if (runStart < 0)
            return;
        if (shape == Shape::Area) {
            path.lineTo(lastX, h);
            path.lineTo(runStart * step, h);
            path.closeSubpath();
        }
        runStart = -1;
    };
    for (qsizetype i = 0; i < samples.size(); ++i) {
        if (!std::isfinite(samples[i])) {
            closeRun();
            continue;
        }
        const qreal v = std::clamp(samples[i], qreal(0), top);
        const QPointF point(i * step, 1 + usable - v / top * usable + lift);
        if (runStart < 0) {
            runStart = i;
            path.moveTo(point);
        } else {
            path.lineTo(point);
        }
        lastX = point.x();
    }
    closeRun();
    return path;
}
