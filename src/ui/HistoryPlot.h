#pragma once

#include <QColor>
#include <QList>
#include <QPainterPath>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

// The plot area of a history chart: grid lines and one or two series, oldest sample on the
// left, each scaled to its own top. Painted in C++ because a chart on a page that stays
// open all day repaints every second, and doing that in script cost more than the rest of
// the page. Samples that are not finite (no reading then) leave a gap in the line.
class HistoryPlot : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QList<qreal> values READ values WRITE setValues NOTIFY valuesChanged)
    Q_PROPERTY(QList<qreal> values2 READ values2 WRITE setValues2 NOTIFY values2Changed)
    Q_PROPERTY(qreal scaleTop READ scaleTop WRITE setScaleTop NOTIFY scaleTopChanged)
    Q_PROPERTY(qreal scaleTop2 READ scaleTop2 WRITE setScaleTop2 NOTIFY scaleTop2Changed)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(QColor color2 READ color2 WRITE setColor2 NOTIFY color2Changed)
    Q_PROPERTY(QColor gridColor READ gridColor WRITE setGridColor NOTIFY gridColorChanged)

public:
    explicit HistoryPlot(QQuickItem *parent = nullptr);

    QList<qreal> values() const { return m_values; }
    void setValues(const QList<qreal> &values);
    QList<qreal> values2() const { return m_values2; }
    void setValues2(const QList<qreal> &values);
    qreal scaleTop() const { return m_top; }
    void setScaleTop(qreal top);
    qreal scaleTop2() const { return m_top2; }
    void setScaleTop2(qreal top);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    QColor color2() const { return m_color2; }
    void setColor2(const QColor &color);
    QColor gridColor() const { return m_gridColor; }
    void setGridColor(const QColor &color);

    void paint(QPainter *painter) override;

Q_SIGNALS:
    void valuesChanged();
    void values2Changed();
    void scaleTopChanged();
    void scaleTop2Changed();
    void colorChanged();
    void color2Changed();
    void gridColorChanged();

private:
    enum class Shape { Line, Area };
    QPainterPath seriesPath(const QList<qreal> &samples, qreal top, Shape shape, qreal dpr) const;
    static constexpr float kAreaAlpha = 0.12f;
    static QColor faint(QColor colour);
    QColor firstAreaColour() const;
    static void strokeLine(QPainter *painter, const QPainterPath &line, const QColor &colour, qreal dpr);

    QList<qreal> m_values;
    QList<qreal> m_values2;
    qreal m_top = 1;
    qreal m_top2 = 1;
    QColor m_color{0x0a, 0x84, 0xff};
    QColor m_color2{0x30, 0xd1, 0x58};
    QColor m_gridColor{0x44, 0x44, 0x44};
};
