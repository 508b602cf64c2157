#include "ui/HistoryPlot.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

#include <cmath>
#include <limits>

// The chart's plot painted into an image: where the line lands, and that a missing
// reading is a gap rather than a drop to zero.
class TestHistoryPlot : public QObject
{
    Q_OBJECT

    static constexpr int kWidth = 101;
    static constexpr int kHeight = 52;

    static QImage render(HistoryPlot &plot)
    {
        plot.setSize(QSizeF(kWidth, kHeight));
        QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        plot.paint(&painter);
        return image;
    }

    // The rows of column x where the line is drawn in `colour` (fill has a low alpha).
    static QList<int> lineRows(const QImage &image, int x, QColor colour)
    {
        QList<int> rows;
        for (int y = 0; y < image.height(); ++y) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 200 && qAbs(c.red() - colour.red()) < 40 && qAbs(c.green() - colour.green()) < 40
                && qAbs(c.blue() - colour.blue()) < 40)
                rows.append(y);
        }
        return rows;
    }

private Q_SLOTS:
    void lineFollowsTheSamplesAgainstTheTop()
    {
        HistoryPlot plot;
        plot.setGridColor(Qt::transparent);
        plot.setColor(QColor(255, 0, 0));
        plot.setScaleTop(100);
        plot.setValues({100, 100, 50, 50, 0, 0});   // 5 steps of 20 px
        const QImage image = render(plot);
        const QList<int> full = lineRows(image, 10, Qt::red);
        const QList<int> half = lineRows(image, 50, Qt::red);
        const QList<int> empty = lineRows(image, 90, Qt::red);
        QVERIFY(!full.isEmpty() && !half.isEmpty() && !empty.isEmpty());
        // The usable height runs from y = 1 (the top) to y = 51 (zero).
        QVERIFY(full.first() <= 2);
        QVERIFY(qAbs(half.first() - 26) <= 2);
        QVERIFY(empty.last() >= kHeight - 3);
        // Above the line stays empty; below it the faint fill.
        QCOMPARE(image.pixelColor(50, 5).alpha(), 0);
        QVERIFY(image.pixelColor(50, 45).alpha() > 0 && image.pixelColor(50, 45).alpha() < 100);
    }

    void missingReadingsLeaveAGap()
    {
        constexpr double nan = std::numeric_limits<double>::quiet_NaN();
        HistoryPlot plot;
        plot.setGridColor(Qt::transparent);
        plot.setColor(QColor(0, 0, 255));
        plot.setScaleTop(10);
        plot.setValues({5, 5, nan, nan, 5, 5});
        const QImage image = render(plot);
        QVERIFY(!lineRows(image, 10, Qt::blue).isEmpty());
        QVERIFY(!lineRows(image, 90, Qt::blue).isEmpty());
        // Between x = 20 and 80 there is no sample: neither line nor fill, and nothing at 0.
        for (int x = 30; x <= 70; x += 10)
            for (int y = 0; y < kHeight; ++y)
                QCOMPARE(image.pixelColor(x, y).alpha(), 0);

        // Only gaps: nothing drawn at all (not a line along the bottom).
        plot.setValues({nan, nan, nan});
        const QImage none = render(plot);
        for (int x = 0; x < kWidth; x += 5)
            QVERIFY(lineRows(none, x, Qt::blue).isEmpty());
    }

    void secondSeriesHasItsOwnScaleAndValuesAboveTheTopAreClamped()
    {
        HistoryPlot plot;
        plot.setGridColor(Qt::transparent);
        plot.setColor(QColor(255, 0, 0));
        plot.setColor2(QColor(0, 0, 255));
        plot.setScaleTop(1000);
        plot.setScaleTop2(50);
        plot.setValues({500, 500});
        plot.setValues2({50, 80});   // 80 is past its top: drawn at the top, not off the plot
        const QImage image = render(plot);
        QVERIFY(qAbs(lineRows(image, 50, Qt::red).first() - 26) <= 2);
        QVERIFY(lineRows(image, 95, Qt::blue).first() <= 2);
    }

    // The first area is copied into the image rather than blended: the second series' area,
    // the grid and both lines must still land on top of it, and at 200 % the line keeps
    // the weight of two device pixels.
    void layersStackAndTheLineKeepsItsWeightAt200Percent()
    {
        HistoryPlot plot;
        plot.setGridColor(QColor(255, 255, 255));
        plot.setColor(QColor(255, 0, 0));
        plot.setColor2(QColor(0, 0, 255));
        plot.setScaleTop(10);
        plot.setScaleTop2(10);
        plot.setValues({8, 8});
        plot.setValues2({4, 4});
        const QImage image = render(plot);
        // Below both lines the two faint areas add up; between them only the first shows.
        const int both = image.pixelColor(50, 48).alpha();
        const int one = image.pixelColor(50, 20).alpha();
        QVERIFY2(one > 0 && both > one, qPrintable(QStringLiteral("%1 vs %2").arg(both).arg(one)));
        // The grid row at a quarter of the height crosses both areas and stays white-ish.
        const QColor grid = image.pixelColor(50, 13);
        QVERIFY(grid.alpha() > 200 && grid.green() > 200);
        QVERIFY(!lineRows(image, 50, Qt::red).isEmpty());
        QVERIFY(!lineRows(image, 50, Qt::blue).isEmpty());

        plot.setSize(QSizeF(kWidth, kHeight));
        QImage doubled(kWidth * 2, kHeight * 2, QImage::Format_ARGB32_Premultiplied);
        doubled.setDevicePixelRatio(2);
        doubled.fill(Qt::transparent);
        {
            QPainter painter(&doubled);
            plot.paint(&painter);
        }
        QVERIFY(lineRows(doubled, 100, Qt::red).size() >= 2);
        // The GPU renderers paint into a plain image through a painter scaled by the ratio.
        QImage scaled(kWidth * 2, kHeight * 2, QImage::Format_ARGB32_Premultiplied);
        scaled.fill(Qt::transparent);
        {
            QPainter painter(&scaled);
            painter.scale(2, 2);
            plot.paint(&painter);
        }
        QCOMPARE(lineRows(scaled, 100, Qt::red), lineRows(doubled, 100, Qt::red));
    }

    // On a card the plot is painted opaque over the card's colour: the area is the faint
    // colour mixed into the card's, and nothing in the picture is left translucent.
    void opaquePlotMixesItsAreaIntoTheCard()
    {
        HistoryPlot plot;
        plot.setGridColor(Qt::transparent);
        plot.setColor(QColor(255, 0, 0));
        plot.setFillColor(QColor(20, 40, 60));
        QVERIFY(plot.opaquePainting());
        plot.setScaleTop(10);
        plot.setValues({5, 5});
        plot.setSize(QSizeF(kWidth, kHeight));
        QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor(20, 40, 60));   // as the painted item fills it before painting
        {
            QPainter painter(&image);
            plot.paint(&painter);
        }
        for (int y = 0; y < kHeight; y += 3)
            for (int x = 0; x < kWidth; x += 7)
                QCOMPARE(image.pixelColor(x, y).alpha(), 255);
        QCOMPARE(image.pixelColor(50, 5), QColor(20, 40, 60));   // above the line: the card
        const QColor area = image.pixelColor(50, 45);
        QCOMPARE(area, QColor(qRound(20 + 235 * 0.12), qRound(40 - 40 * 0.12), qRound(60 - 60 * 0.12)));
        QVERIFY(!lineRows(image, 50, Qt::red).isEmpty());

        // A see-through background leaves the plot translucent, painted as before.
        plot.setFillColor(QColor(20, 40, 60, 128));
        QVERIFY(!plot.opaquePainting());
    }

    void repaintsOnlyOnChange()
    {
        HistoryPlot plot;
        QSignalSpy changed(&plot, &HistoryPlot::valuesChanged);
        plot.setValues({1, 2, 3});
        plot.setValues({1, 2, 3});
        QCOMPARE(changed.count(), 1);
        plot.setValues({1, 2, 4});
        QCOMPARE(changed.count(), 2);
        // A gap is the same gap on the next sample.
        constexpr double nan = std::numeric_limits<double>::quiet_NaN();
        plot.setValues({nan, 2});
        plot.setValues({nan, 2});
        QCOMPARE(changed.count(), 3);
        plot.setValues({});
        plot.setValues(QList<qreal>());
        QCOMPARE(changed.count(), 4);
    }
};

QTEST_MAIN(TestHistoryPlot)
#include "tst_HistoryPlot.moc"
