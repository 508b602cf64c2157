#include "SymbolIcon.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>

namespace {
const QHash<QString, QString> &themeNames()
{
    static const QHash<QString, QString> names{
        {QStringLiteral("bolt.fill"), QStringLiteral("battery-full-charging")},
        {QStringLiteral("cpu"), QStringLiteral("cpu")},
        {QStringLiteral("cpu.fill"), QStringLiteral("cpu")},
        {QStringLiteral("terminal.fill"), QStringLiteral("utilities-terminal")},
        {QStringLiteral("terminal"), QStringLiteral("utilities-terminal")},
        {QStringLiteral("slider.horizontal.3"), QStringLiteral("configure")},
        {QStringLiteral("gamecontroller.fill"), QStringLiteral("input-gaming")},
        {QStringLiteral("gamecontroller"), QStringLiteral("input-gaming")},
        {QStringLiteral("leaf.fill"), QStringLiteral("battery-profile-powersave")},
        {QStringLiteral("desktopcomputer"), QStringLiteral("computer")},
        {QStringLiteral("gearshape.fill"), QStringLiteral("preferences-system")},
        {QStringLiteral("memorychip"), QStringLiteral("media-flash")},
        {QStringLiteral("externaldrive.fill"), QStringLiteral("drive-harddisk")},
        {QStringLiteral("network"), QStringLiteral("network-wired")},
        {QStringLiteral("link"), QStringLiteral("network-wired")},
        {QStringLiteral("info.circle.fill"), QStringLiteral("help-about")},
        {QStringLiteral("book.fill"), QStringLiteral("help-contents")},
        {QStringLiteral("power"), QStringLiteral("system-shutdown")},
        {QStringLiteral("app.fill"), QStringLiteral("application-x-executable")},
    };
    return names;
}

// Glyphs are drawn on a 24-unit grid and scaled to the requested size.
// A closed outline through `points`, filled in `color`.
void fillPolygon(QPainter &p, const QColor &color, std::initializer_list<QPointF> points)
{
    QPainterPath path;
    path.addPolygon(QPolygonF(points));
    path.closeSubpath();
    p.fillPath(path, color);
}

// The shield several symbols are built on, on the 24-point grid.
QPainterPath shieldOutline()
{
    QPainterPath shield;
    shield.moveTo(12, 2);
    shield.lineTo(20, 5);
    shield.cubicTo(20, 13, 17, 19, 12, 22);
    shield.cubicTo(7, 19, 4, 13, 4, 5);
    shield.closeSubpath();
    return shield;
}

void drawGlyph(QPainter &p, const QString &symbol, const QColor &color)
{
    const QPen pen(color, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    if (symbol.startsWith(QLatin1String("checkmark.square")) || symbol == QLatin1String("square")) {
        // A check box: filled with a check when on, an empty outline when off.
        if (symbol == QLatin1String("square")) {
            p.drawRoundedRect(QRectF(4, 4, 16, 16), 3.5, 3.5);
        } else {
            QPainterPath box;
            box.addRoundedRect(QRectF(3, 3, 18, 18), 4, 4);
            p.fillPath(box, color);
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            p.setPen(QPen(Qt::transparent, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.drawPolyline(QPolygonF({QPointF(7.5, 12.5), QPointF(10.5, 15.5), QPointF(16.5, 8.5)}));
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
    } else if (symbol.startsWith(QLatin1String("checkmark.shield"))) {
        p.drawPath(shieldOutline());
        p.drawPolyline(QPolygonF({QPointF(8.5, 12), QPointF(11, 14.5), QPointF(15.5, 9)}));
    } else if (symbol == QLatin1String("display")) {
        // A graphics card's business: a screen on a stand.
        p.drawRoundedRect(QRectF(2.5, 4, 19, 12.5), 2, 2);
        p.drawLine(QPointF(12, 16.5), QPointF(12, 20));
        p.drawLine(QPointF(8, 20.5), QPointF(16, 20.5));
    } else if (symbol.startsWith(QLatin1String("cylinder"))) {
        // A database: a stack of discs.
        p.drawEllipse(QRectF(4, 3, 16, 5));
        p.drawLine(QPointF(4, 5.5), QPointF(4, 18.5));
        p.drawLine(QPointF(20, 5.5), QPointF(20, 18.5));
        p.drawArc(QRectF(4, 9.5, 16, 5), 180 * 16, 180 * 16);
        p.drawArc(QRectF(4, 16, 16, 5), 180 * 16, 180 * 16);
    } else if (symbol.startsWith(QLatin1String("chart.bar"))) {
        // Bars standing on an axis.
        p.drawLine(QPointF(3, 21), QPointF(21, 21));
        const double tops[] = {13, 6, 10};
        for (int i = 0; i < 3; ++i)
            p.fillRect(QRectF(5 + i * 5.5, tops[i], 3.5, 18 - tops[i]), color);
    } else if (symbol.startsWith(QLatin1String("exclamationmark.triangle"))) {
        p.drawPolygon(QPolygonF({QPointF(12, 3), QPointF(22, 20.5), QPointF(2, 20.5)}));
        p.drawLine(QPointF(12, 9), QPointF(12, 14));
        p.setBrush(color);
        p.drawEllipse(QPointF(12, 17.5), 0.8, 0.8);
    } else if (symbol.startsWith(QLatin1String("brain"))) {
        // A head in profile with the fold of a brain inside: models, not processors.
        QPainterPath head;
        head.moveTo(8, 21);
        head.lineTo(8, 17);
        head.cubicTo(3, 14, 3, 4, 11, 3);
        head.cubicTo(17, 2.5, 20, 7, 19, 11);
        head.lineTo(21, 14.5);
        head.lineTo(19, 15);
        head.lineTo(19, 18);
        head.lineTo(15, 18.5);
        head.lineTo(15, 21);
        p.drawPath(head);
        p.drawArc(QRectF(8, 6.5, 5, 5), 30 * 16, 240 * 16);
        p.drawArc(QRectF(11.5, 6.5, 5, 5), -90 * 16, 240 * 16);
    } else if (symbol.startsWith(QLatin1String("eject"))) {
        fillPolygon(p, color, {QPointF(12, 4), QPointF(20, 14), QPointF(4, 14)});
        p.fillRect(QRectF(4, 17, 16, 3), color);
    } else if (symbol.startsWith(QLatin1String("folder"))) {
        fillPolygon(p, color, {QPointF(2, 6), QPointF(9, 6), QPointF(11, 8), QPointF(22, 8), QPointF(22, 20),
                                 QPointF(2, 20)});
    } else if (symbol.startsWith(QLatin1String("waveform"))) {
        // A heartbeat trace: the latency probe's pulse.
        p.drawPolyline(QPolygonF({QPointF(2, 13), QPointF(7, 13), QPointF(9.5, 6), QPointF(13, 19),
                                   QPointF(15.5, 10), QPointF(17, 13), QPointF(22, 13)}));
    } else if (symbol.startsWith(QLatin1String("network.badge.shield"))) {
        // The sandbox switch: three linked nodes under a small shield.
        p.drawLine(QPointF(5, 17), QPointF(12, 9));
        p.drawLine(QPointF(19, 17), QPointF(12, 9));
        p.setBrush(color);
        p.drawEllipse(QPointF(5, 18), 2.2, 2.2);
        p.drawEllipse(QPointF(12, 18), 2.2, 2.2);
        p.setBrush(Qt::NoBrush);
        QPainterPath shield;
        shield.moveTo(12, 2);
        shield.lineTo(16, 3.5);
        shield.cubicTo(16, 7.5, 14.5, 9.5, 12, 11);
        shield.cubicTo(9.5, 9.5, 8, 7.5, 8, 3.5);
        shield.closeSubpath();
        p.fillPath(shield, color);
        p.drawLine(QPointF(15, 18), QPointF(19, 18));
    } else if (symbol.startsWith(QLatin1String("bolt.shield"))) {
        // The presets: a shield outline carrying a bolt, unlike Power's bare bolt.
        p.drawPath(shieldOutline());
        fillPolygon(p, color, {QPointF(13, 6), QPointF(8.5, 13), QPointF(11.5, 13), QPointF(10.5, 18),
                                 QPointF(15.5, 11), QPointF(12.5, 11)});
    } else if (symbol.startsWith(QLatin1String("bolt.horizontal"))) {
        // The API relay: a ring with a bolt lying across it, as traffic passing through.
        p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
        fillPolygon(p, color, {QPointF(5, 11), QPointF(11, 8), QPointF(11, 11), QPointF(19, 13), QPointF(13, 16),
                                 QPointF(13, 13)});
    } else if (symbol == QLatin1String("memorychip")) {
        // A memory module: a long board with its contacts along the bottom and a notch.
        p.drawRoundedRect(QRectF(2, 6, 20, 10), 1.5, 1.5);
        for (int i = 0; i < 3; ++i)
            p.drawRect(QRectF(5 + i * 5.5, 9.5, 3, 3));
        for (int i = 0; i < 6; ++i)
            p.drawLine(QPointF(4 + i * 3.2, 16), QPointF(4 + i * 3.2, 19));
    } else if (symbol.startsWith(QLatin1String("lightbulb"))) {
        p.drawEllipse(QRectF(6, 2, 12, 12));
        p.drawLine(QPointF(9, 14), QPointF(9.5, 17));
        p.drawLine(QPointF(15, 14), QPointF(14.5, 17));
        p.drawLine(QPointF(9.5, 18), QPointF(14.5, 18));
        p.drawLine(QPointF(10.5, 21), QPointF(13.5, 21));
    } else if (symbol.startsWith(QLatin1String("doc.on.doc"))) {
        p.drawRoundedRect(QRectF(8, 6, 12, 16), 2, 2);
        p.drawPolyline(QPolygonF({QPointF(5, 17), QPointF(4, 17), QPointF(4, 2), QPointF(15, 2), QPointF(15, 4)}));
    } else if (symbol.startsWith(QLatin1String("square.and.arrow.up"))) {
        p.drawPolyline(QPolygonF({QPointF(8, 9), QPointF(5, 9), QPointF(5, 21), QPointF(19, 21), QPointF(19, 9), QPointF(16, 9)}));
        p.drawLine(QPointF(12, 15), QPointF(12, 2));
        p.drawPolyline(QPolygonF({QPointF(8, 6), QPointF(12, 2), QPointF(16, 6)}));
    } else if (symbol == QLatin1String("wind")) {
        QPainterPath gusts;
        gusts.moveTo(3, 8);
        gusts.lineTo(15, 8);
        gusts.cubicTo(19, 8, 19, 3, 15.5, 3.5);
        gusts.moveTo(3, 13);
        gusts.lineTo(19, 13);
        gusts.cubicTo(23, 13, 23, 18, 19.5, 18);
        gusts.moveTo(3, 18);
        gusts.lineTo(12, 18);
        p.drawPath(gusts);
    } else if (symbol.startsWith(QLatin1String("trash"))) {
        p.drawLine(QPointF(3, 6), QPointF(21, 6));
        p.drawPolyline(QPolygonF({QPointF(9, 6), QPointF(9, 3), QPointF(15, 3), QPointF(15, 6)}));
        p.drawPolyline(QPolygonF({QPointF(5, 6), QPointF(6.5, 21), QPointF(17.5, 21), QPointF(19, 6)}));
        p.drawLine(QPointF(10, 10), QPointF(10, 17));
        p.drawLine(QPointF(14, 10), QPointF(14, 17));
    } else if (symbol.startsWith(QLatin1String("xmark"))) {
        if (symbol.contains(QLatin1String("circle")))
            p.drawEllipse(QPointF(12, 12), 10, 10);
        p.drawLine(QPointF(8, 8), QPointF(16, 16));
        p.drawLine(QPointF(16, 8), QPointF(8, 16));
    } else if (symbol.startsWith(QLatin1String("battery"))) {
        p.drawRoundedRect(QRectF(2, 7, 17, 10), 2.5, 2.5);
        p.drawLine(QPointF(21.5, 10.5), QPointF(21.5, 13.5));
        p.fillRect(QRectF(4.5, 9.5, 9, 5), color);
    } else if (symbol.startsWith(QLatin1String("gauge"))) {
        p.drawArc(QRectF(3, 4, 18, 18), -30 * 16, 240 * 16);
        p.drawLine(QPointF(12, 13), QPointF(16.5, 8.5));
        p.setBrush(color);
        p.drawEllipse(QPointF(12, 13), 1.5, 1.5);
    } else if (symbol.startsWith(QLatin1String("bolt"))) {
        fillPolygon(p, color, {QPointF(14, 2), QPointF(4, 14), QPointF(11, 14), QPointF(9, 22), QPointF(20, 10),
                                 QPointF(13, 10)});
    } else if (symbol.startsWith(QLatin1String("cpu"))) {
        p.drawRoundedRect(QRectF(6, 6, 12, 12), 2, 2);
        for (int i = 0; i < 3; ++i) {
            const double c = 9 + i * 3;
            p.drawLine(QPointF(c, 2), QPointF(c, 5));
            p.drawLine(QPointF(c, 19), QPointF(c, 22));
            p.drawLine(QPointF(2, c), QPointF(5, c));
            p.drawLine(QPointF(19, c), QPointF(22, c));
        }
    } else if (symbol.startsWith(QLatin1String("terminal"))) {
        p.drawRoundedRect(QRectF(2, 4, 20, 16), 3, 3);
        p.drawPolyline(QPolygonF({QPointF(6, 9), QPointF(9, 12), QPointF(6, 15)}));
        p.drawLine(QPointF(11, 15), QPointF(16, 15));
    } else if (symbol.startsWith(QLatin1String("slider"))) {
        for (int i = 0; i < 3; ++i) {
            const double y = 6 + i * 6;
            p.drawLine(QPointF(3, y), QPointF(21, y));
            p.setBrush(color);
            p.drawEllipse(QPointF(i == 1 ? 15 : 8, y), 2, 2);
            p.setBrush(Qt::NoBrush);
        }
    } else if (symbol.startsWith(QLatin1String("gamecontroller"))) {
        p.drawRoundedRect(QRectF(2, 7, 20, 11), 5, 5);
        p.drawLine(QPointF(7, 10), QPointF(7, 15));
        p.drawLine(QPointF(4.5, 12.5), QPointF(9.5, 12.5));
        p.setBrush(color);
        p.drawEllipse(QPointF(16, 11), 1, 1);
        p.drawEllipse(QPointF(18, 14), 1, 1);
    } else if (symbol.startsWith(QLatin1String("leaf"))) {
        QPainterPath leaf;
        leaf.moveTo(4, 20);
        leaf.cubicTo(4, 8, 12, 3, 21, 3);
        leaf.cubicTo(21, 12, 16, 20, 4, 20);
        p.fillPath(leaf, color);
    } else if (symbol == QLatin1String("desktopcomputer")) {
        p.drawRoundedRect(QRectF(2, 3, 20, 13), 2, 2);
        p.drawLine(QPointF(12, 16), QPointF(12, 20));
        p.drawLine(QPointF(7, 21), QPointF(17, 21));
    } else if (symbol.startsWith(QLatin1String("gearshape"))) {
        p.drawEllipse(QPointF(12, 12), 6, 6);
        p.drawEllipse(QPointF(12, 12), 2, 2);
        for (int i = 0; i < 8; ++i) {
            p.save();
            p.translate(12, 12);
            p.rotate(i * 45);
            p.drawLine(QPointF(0, 7), QPointF(0, 10));
            p.restore();
        }
    } else if (symbol == QLatin1String("network")) {
        p.drawEllipse(QPointF(12, 12), 9, 9);
        p.drawEllipse(QRectF(8, 3, 8, 18));
        p.drawLine(QPointF(3, 12), QPointF(21, 12));
    } else if (symbol.startsWith(QLatin1String("externaldrive"))) {
        p.drawRoundedRect(QRectF(2, 7, 20, 10), 3, 3);
        p.setBrush(color);
        p.drawEllipse(QPointF(17, 12), 1.2, 1.2);
    } else if (symbol.startsWith(QLatin1String("sparkles"))) {
        QPainterPath star;
        star.moveTo(10, 3);
        star.quadTo(11, 11, 18, 12);
        star.quadTo(11, 13, 10, 21);
        star.quadTo(9, 13, 2, 12);
        star.quadTo(9, 11, 10, 3);
        p.fillPath(star, color);
        p.drawLine(QPointF(19, 3), QPointF(19, 7));
        p.drawLine(QPointF(17, 5), QPointF(21, 5));
    } else if (symbol.startsWith(QLatin1String("clock"))) {
        p.drawEllipse(QPointF(12, 12), 9, 9);
        p.drawPolyline(QPolygonF({QPointF(12, 7), QPointF(12, 12), QPointF(16, 14)}));
    } else if (symbol.startsWith(QLatin1String("info"))) {
        p.drawEllipse(QPointF(12, 12), 9, 9);
        p.drawLine(QPointF(12, 11), QPointF(12, 17));
        p.setBrush(color);
        p.drawEllipse(QPointF(12, 7.5), 0.8, 0.8);
    } else if (symbol.startsWith(QLatin1String("book"))) {
        p.drawPolyline(QPolygonF({QPointF(12, 6), QPointF(7, 4), QPointF(2, 5), QPointF(2, 19), QPointF(7, 18), QPointF(12, 20), QPointF(17, 18), QPointF(22, 19), QPointF(22, 5), QPointF(17, 4), QPointF(12, 6), QPointF(12, 20)}));
    } else if (symbol.startsWith(QLatin1String("shield"))) {
        p.fillPath(shieldOutline(), color);
    } else if (symbol == QLatin1String("power")) {
        p.drawArc(QRectF(4, 4, 16, 16), 120 * 16, 300 * 16);   // open at the top
        p.drawLine(QPointF(12, 2), QPointF(12, 11));
    } else if (symbol.startsWith(QLatin1String("fanblades"))) {
        p.drawEllipse(QPointF(12, 12), 2, 2);
        for (int i = 0; i < 3; ++i) {
            p.save();
            p.translate(12, 12);
            p.rotate(i * 120);
            QPainterPath blade;
            blade.moveTo(0, -2);
            blade.cubicTo(-6, -6, -2, -11, 3, -10);
            blade.cubicTo(5, -7, 3, -4, 0, -2);
            p.fillPath(blade, color);
            p.restore();
        }
    } else if (symbol == QLatin1String("link")) {
        p.drawRoundedRect(QRectF(2, 8, 11, 8), 4, 4);
        p.drawRoundedRect(QRectF(11, 8, 11, 8), 4, 4);
    } else if (symbol.startsWith(QLatin1String("paintbrush"))) {
        p.drawLine(QPointF(20, 3), QPointF(10, 14));
        QPainterPath tip;
        tip.moveTo(10, 13);
        tip.cubicTo(5, 12, 4, 18, 3, 21);
        tip.cubicTo(8, 21, 12, 19, 11, 14);
        p.fillPath(tip, color);
    } else if (symbol.startsWith(QLatin1String("safari"))) {
        p.drawEllipse(QPointF(12, 12), 9, 9);
        fillPolygon(p, color, {QPointF(16, 8), QPointF(13.5, 13.5), QPointF(8, 16), QPointF(10.5, 10.5)});
    } else if (symbol.startsWith(QLatin1String("list"))) {
        p.drawRoundedRect(QRectF(4, 2, 16, 20), 3, 3);
        for (int i = 0; i < 3; ++i)
            p.drawLine(QPointF(8, 8 + i * 4), QPointF(16, 8 + i * 4));
    } else if (symbol.startsWith(QLatin1String("shippingbox"))) {
        p.drawPolygon(QPolygonF({QPointF(12, 2), QPointF(21, 7), QPointF(21, 17), QPointF(12, 22), QPointF(3, 17), QPointF(3, 7)}));
        p.drawPolyline(QPolygonF({QPointF(3, 7), QPointF(12, 12), QPointF(21, 7)}));
        p.drawLine(QPointF(12, 12), QPointF(12, 22));
    } else if (symbol == QLatin1String("snowflake")) {
        for (int i = 0; i < 3; ++i) {
            p.save();
            p.translate(12, 12);
            p.rotate(i * 60);
            p.drawLine(QPointF(0, -10), QPointF(0, 10));
            p.drawLine(QPointF(-3, -7), QPointF(0, -4));
            p.drawLine(QPointF(3, -7), QPointF(0, -4));
            p.drawLine(QPointF(-3, 7), QPointF(0, 4));
            p.drawLine(QPointF(3, 7), QPointF(0, 4));
            p.restore();
        }
    } else if (symbol.startsWith(QLatin1String("play"))) {
        fillPolygon(p, color, {QPointF(7, 4), QPointF(20, 12), QPointF(7, 20)});
    } else if (symbol == QLatin1String("arrow.up") || symbol == QLatin1String("arrow.down")) {
        if (symbol == QLatin1String("arrow.down")) {
            p.translate(0, 24);
            p.scale(1, -1);
        }
        p.drawLine(QPointF(12, 21), QPointF(12, 4));
        p.drawPolyline(QPolygonF({QPointF(5, 11), QPointF(12, 4), QPointF(19, 11)}));
    } else if (symbol.startsWith(QLatin1String("wifi"))) {
        for (int i = 0; i < 3; ++i) {
            const double r = 5 + i * 5;
            p.drawArc(QRectF(12 - r, 19 - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
        }
        p.setBrush(color);
        p.drawEllipse(QPointF(12, 19), 1.5, 1.5);
    } else if (symbol.startsWith(QLatin1String("thermometer"))) {
        p.drawRoundedRect(QRectF(10, 2, 4, 13), 2, 2);
        p.drawEllipse(QPointF(12, 18), 4, 4);
        p.drawLine(QPointF(12, 8), QPointF(12, 15));
    } else if (symbol.startsWith(QLatin1String("checkmark"))) {
        if (symbol.contains(QLatin1String("circle")))
            p.drawEllipse(QPointF(12, 12), 10, 10);
        p.drawPolyline(QPolygonF({QPointF(7, 12.5), QPointF(10.5, 16), QPointF(17, 8.5)}));
    } else if (symbol.startsWith(QLatin1String("hammer"))) {
        // A claw hammer: a head across a slanted handle.
        p.drawLine(QPointF(6, 21), QPointF(15, 9));
        fillPolygon(p, color, {QPointF(10, 4), QPointF(18, 3), QPointF(21, 8), QPointF(19, 10), QPointF(16, 7),
                               QPointF(12, 9)});
    } else if (symbol.startsWith(QLatin1String("magnifyingglass"))) {
        p.drawEllipse(QPointF(10, 10), 6.5, 6.5);
        p.drawLine(QPointF(15, 15), QPointF(21, 21));
        p.drawArc(QRectF(6.5, 6.5, 7, 7), 90 * 16, 90 * 16);
    } else if (symbol.startsWith(QLatin1String("paintpalette"))) {
        QPainterPath palette;
        palette.moveTo(12, 3);
        palette.cubicTo(4, 3, 2, 10, 3, 14);
        palette.cubicTo(4, 19, 9, 21, 12, 21);
        palette.cubicTo(14, 21, 14, 18, 13, 17);
        palette.cubicTo(12, 15, 14, 14, 16, 14);
        palette.cubicTo(20, 14, 22, 12, 21, 9);
        palette.cubicTo(20, 5, 16, 3, 12, 3);
        p.drawPath(palette);
        p.setBrush(color);
        for (const QPointF &dot : {QPointF(8, 9), QPointF(12, 7), QPointF(16, 9), QPointF(7.5, 14)})
            p.drawEllipse(dot, 0.9, 0.9);
    } else if (symbol.startsWith(QLatin1String("paperplane"))) {
        fillPolygon(p, color, {QPointF(2, 11), QPointF(22, 3), QPointF(15, 21), QPointF(11, 13)});
    } else if (symbol.startsWith(QLatin1String("person"))) {
        p.setBrush(color);
        p.drawEllipse(QPointF(12, 7.5), 4, 4);
        QPainterPath body;
        body.moveTo(4, 21);
        body.cubicTo(4, 15, 8, 13.5, 12, 13.5);
        body.cubicTo(16, 13.5, 20, 15, 20, 21);
        body.closeSubpath();
        p.fillPath(body, color);
    } else if (symbol.startsWith(QLatin1String("pause"))) {
        p.fillRect(QRectF(6, 4, 4, 16), color);
        p.fillRect(QRectF(14, 4, 4, 16), color);
    } else if (symbol.startsWith(QLatin1String("app"))) {
        p.drawRoundedRect(QRectF(3, 3, 18, 18), 5, 5);
    } else {
        // Anything else: its first letter in a rounded square.
        p.drawRoundedRect(QRectF(2, 2, 20, 20), 5, 5);
        QFont font = p.font();
        font.setPixelSize(13);
        font.setBold(true);
        p.setFont(font);
        p.drawText(QRectF(2, 2, 20, 20), Qt::AlignCenter, symbol.left(1).toUpper());
    }
}
}

QString SymbolIcon::themeName(const QString &symbol)
{
    return themeNames().value(symbol);
}

QPixmap SymbolIcon::drawn(const QString &symbol, int size, qreal dpr, const QColor &color)
{
    QPixmap pixmap(QSize(size, size) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 24.0, size / 24.0);
    drawGlyph(p, symbol, color);
    return pixmap;
}

QIcon SymbolIcon::icon(const QString &symbol)
{
    const QIcon fallback(drawn(symbol));
    const QString name = themeName(symbol);
    return name.isEmpty() ? fallback : QIcon::fromTheme(name, fallback);
}
