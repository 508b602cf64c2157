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
    const qreal w = width();
    const qreal h = height();
    painter->setPen(QPen(m_gridColor, 1));
    for (int g = 1; g < 4; ++g) {
        const qreal y = std::round(g * h / 4) + 0.5;
        painter->drawLine(QPointF(0, y), QPointF(w, y));
    }
    drawSeries(painter, m_values, m_color, m_top);
    drawSeries(painter, m_values2, m_color2, m_top2);
}

void HistoryPlot::drawSeries(QPainter *painter, const QList<qreal> &samples, const QColor &colour, qreal top) const
{
    if (samples.size() < 2 || !(top > 0))
        return;
    const qreal w = width();
    const qreal h = height();
    const qreal usable = h - 2;
    const qreal step = w / qreal(samples.size() - 1);

    // One run of consecutive readings at a time: a gap stays a gap, neither a drop to 0
    // nor a line drawn across it.
    QPainterPath line;
    QPainterPath area;
    qsizetype runStart = -1;
    qreal lastX = 0;
    auto closeRun = [&] {
        if (runStart < 0)
            return;
        area.lineTo(lastX, h);
        area.lineTo(runStart * step, h);
        area.closeSubpath();
        runStart = -1;
    };
    for (qsizetype i = 0; i < samples.size(); ++i) {
        if (!std::isfinite(samples[i])) {
            closeRun();
            continue;
        }
        const qreal v = std::clamp(samples[i], qreal(0), top);
        const QPointF point(i * step, 1 + usable - v / top * usable);
        if (runStart < 0) {
            runStart = i;
            line.moveTo(point);
            area.moveTo(point);
        } else {
            line.lineTo(point);
            area.lineTo(point);
        }
        lastX = point.x();
    }
    closeRun();

    QColor fill = colour;
    fill.setAlphaF(0.12f);
    // A faint area under the line reads at a glance. Its edge lies under the line, so it
    // needs no antialiasing, which is most of what a repaint would otherwise cost.
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->fillPath(area, fill);
    painter->setRenderHint(QPainter::Antialiasing, true);
    QPen pen(colour, 1.6);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    painter->strokePath(line, pen);
}
