#include "ui/MenuBarView.h"
#include "ui/SymbolIcon.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <cmath>

namespace {
// Whether any pixel of the image is close to `color`.
bool contains(const QImage &image, QColor color)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 200 && std::abs(c.red() - color.red()) < 20 && std::abs(c.green() - color.green()) < 20
                && std::abs(c.blue() - color.blue()) < 20)
                return true;
        }
    return false;
}

MenuBarView::Figures figures(double cpu, double temp = 50)
{
    MenuBarView::Figures f;
    f.cpuUsage = cpu;
    f.socTemperature = temp;
    f.cpuHistory = QList<double>(60, cpu);
    return f;
}
}

class TestMenuBarView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ringTurnsRedAboveEighty()
    {
        const QColor red(255, 69, 58), blue(10, 132, 255);
        const QImage busy = MenuBarView::render(figures(81, 40));
        QVERIFY(contains(busy, red));
        QVERIFY(!contains(busy, blue));
        const QImage calm = MenuBarView::render(figures(80, 40));
        QVERIFY(contains(calm, blue));
        QVERIFY(!contains(calm, red));
        // Exactly 80 degrees is not red either; 81 is.
        QVERIFY(!contains(MenuBarView::render(figures(50, 80)), red));
        QVERIFY(contains(MenuBarView::render(figures(50, 81)), red));
    }

    void overfullRingIsCapped()
    {
        const QImage full = MenuBarView::render(figures(100));
        const QImage over = MenuBarView::render(figures(120));
        QCOMPARE(over.size(), full.size());
        // Only the text differs ("120%" vs "100%"): the ring area is identical.
        const QRect ring(0, 0, 20 * 2, 22 * 2);
        QCOMPARE(over.copy(ring), full.copy(ring));
    }

    void batteryWidensTheIcon()
    {
        MenuBarView::Figures f = figures(10);
        const int without = MenuBarView::render(f, 1.0).width();
        f.hasBattery = true;
        f.batteryPercentage = 64;
        QVERIFY(MenuBarView::render(f, 1.0).width() > without);
        QCOMPARE(MenuBarView::render(f, 2.0).height(), 2 * MenuBarView::kHeight);
        QVERIFY(MenuBarView::toolTip(f).contains(QStringLiteral("battery 64%")));
        f.batteryIsCharging = true;
        QVERIFY(contains(MenuBarView::render(f), QColor(48, 209, 88)));
    }

    void compactIconForSquareSlots()
    {
        QCOMPARE(MenuBarView::layoutFor(QRect(1550, 0, 24, 24)), MenuBarView::Layout::Compact);
        QCOMPARE(MenuBarView::layoutFor(QRect()), MenuBarView::Layout::Compact);
        QCOMPARE(MenuBarView::layoutFor(QRect(1500, 0, 70, 22)), MenuBarView::Layout::Wide);

        const QImage calm = MenuBarView::renderCompact(figures(30), 2.0);
        QCOMPARE(calm.size(), QSize(44, 44));
        QVERIFY(contains(calm, QColor(10, 132, 255)));
        const QImage busy = MenuBarView::renderCompact(figures(95), 2.0);
        QVERIFY(contains(busy, QColor(255, 69, 58)));
        QVERIFY(!contains(busy, QColor(10, 132, 255)));
        // The ring is capped at one turn here too.
        QCOMPARE(MenuBarView::renderCompact(figures(250), 2.0).size(), QSize(44, 44));
    }

    // Samples the square icon would draw alike are recognised, and only those: what is
    // called the same comes out pixel for pixel the same.
    // The faint track is stroked once per size and scale and copied afterwards: the copy
    // must land exactly where a fresh stroke would, at whole and fractional scales alike,
    // and the second icon drawn from the kept picture must equal the first.
    void keptTrackLandsWhereAStrokeWould()
    {
        for (const qreal dpr : {1.0, 1.5, 2.0}) {
            const QImage icon = MenuBarView::renderCompact(figures(0), dpr);
            QCOMPARE(MenuBarView::renderCompact(figures(0), dpr), icon);

            QImage fresh(icon.size(), QImage::Format_ARGB32_Premultiplied);
            fresh.setDevicePixelRatio(dpr);
            fresh.fill(Qt::transparent);
            {
                QPainter p(&fresh);
                p.setRenderHint(QPainter::Antialiasing);
                QColor track(242, 242, 247);
                track.setAlphaF(0.2);
                p.setPen(QPen(track, 2.5));
                p.drawEllipse(QRectF(1.5, 1.5, MenuBarView::kHeight - 3, MenuBarView::kHeight - 3));
            }
            // Compared on the ring's band only: the figure "0" sits in the middle.
            const qreal centre = icon.width() / 2.0;
            int compared = 0;
            for (int y = 0; y < icon.height(); ++y)
                for (int x = 0; x < icon.width(); ++x) {
                    if (std::hypot(x + 0.5 - centre, y + 0.5 - centre) < centre * 0.7)
                        continue;
                    const QColor a = icon.pixelColor(x, y);
                    const QColor b = fresh.pixelColor(x, y);
                    QVERIFY2(std::abs(a.alpha() - b.alpha()) <= 2,
                             qPrintable(QStringLiteral("dpr %1 at %2,%3: %4 vs %5").arg(dpr).arg(x).arg(y).arg(a.alpha()).arg(b.alpha())));
                    compared += b.alpha() > 0;
                }
            QVERIFY(compared > 20);
        }
    }

    // Kept square pictures are handed out only for the same figure, colour and scale, and
    // one pushed out by newer figures is drawn again the same.
    void keptCompactIconsMatchTheirFigures()
    {
        const QImage calm = MenuBarView::renderCompact(figures(7), 2.0);
        QVERIFY(MenuBarView::renderCompact(figures(8), 2.0) != calm);
        QCOMPARE(MenuBarView::renderCompact(figures(7.3), 2.0), calm);            // still "7"
        QCOMPARE(MenuBarView::renderCompact(figures(7), 1.0).size(), QSize(22, 22));
        QVERIFY(contains(MenuBarView::renderCompact(figures(80.4), 2.0), QColor(255, 69, 58)));
        QVERIFY(!contains(MenuBarView::renderCompact(figures(79.6), 2.0), QColor(255, 69, 58)));   // "80", not red
        for (int cpu = 20; cpu < 20 + int(MenuBarView::kKeptCompactIcons) + 2; ++cpu)
            MenuBarView::renderCompact(figures(cpu), 2.0);
        QCOMPARE(MenuBarView::renderCompact(figures(7), 2.0), calm);
    }

    void samePictureIsRecognised()
    {
        using L = MenuBarView::Layout;
        const auto same = [](double a, double b, L layout) {
            const bool said = MenuBarView::drawsSame(figures(a), figures(b), layout);
            const bool drawn = layout == L::Compact
                                   ? MenuBarView::renderCompact(figures(a)) == MenuBarView::renderCompact(figures(b))
                                   : MenuBarView::render(figures(a)) == MenuBarView::render(figures(b));
            if (said && !drawn)
                qWarning() << a << b << "called the same but drawn differently";
            return said && drawn;
        };
        QVERIFY(same(41.2, 40.8, L::Compact));
        QVERIFY(same(100, 250, L::Compact));
        QVERIFY(!same(41.2, 41.6, L::Compact));
        QVERIFY(!same(80.4, 79.8, L::Compact));   // both "80", one of them red
        QVERIFY(!MenuBarView::drawsSame(figures(41.2), figures(40.8), L::Wide));
        MenuBarView::Figures charging = figures(30);
        charging.hasBattery = true;
        QVERIFY(MenuBarView::drawsSame(charging, figures(30), L::Compact));
        QVERIFY(!MenuBarView::drawsSame(charging, figures(30), L::Wide));
        QVERIFY(same(30, 30, L::Wide));
    }

    void toolTipSkipsMissingTemperature()
    {
        QCOMPARE(MenuBarView::toolTip(figures(42.4, 0)), QStringLiteral("Quillmoor \u2014 CPU 42%"));
        QVERIFY(MenuBarView::toolTip(figures(42.6, 55)).contains(QStringLiteral("CPU 43%, 55\u00B0C")));
    }

    void everySymbolHasAGlyph()
    {
        for (const char *symbol : {"bolt.fill", "cpu.fill", "terminal.fill", "slider.horizontal.3", "gamecontroller.fill",
                                   "leaf.fill", "desktopcomputer", "unknown.symbol"}) {
            const QImage image = SymbolIcon::drawn(QString::fromLatin1(symbol), 22, 1.0).toImage();
            QVERIFY2(contains(image, Qt::white), symbol);
            QVERIFY(!SymbolIcon::icon(QString::fromLatin1(symbol)).isNull());
        }
    }
};

QTEST_MAIN(TestMenuBarView)
#include "tst_MenuBarView.moc"
