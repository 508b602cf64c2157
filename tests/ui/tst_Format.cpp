#include "ui/Format.h"

#include <QDir>

#include <QTest>

class TestFormat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The shared formats, C's rendering of each, with the edges a screen meets.
    void formats()
    {
        QCOMPARE(Format::gb(8), QStringLiteral("8.0 GB"));
        QCOMPARE(Format::gb(1.125, 2), QStringLiteral("1.12 GB"));
        QCOMPARE(Format::bytesAsGB(402653184), QStringLiteral("0.4 GB"));
        QCOMPARE(Format::percent(49.5), QStringLiteral("50%"));
        QCOMPARE(Format::percent(12.34, 1), QStringLiteral("12.3%"));
        QCOMPARE(Format::kbPerSecond(3.14), QStringLiteral("3.1 KB/s"));
        QCOMPARE(Format::mbPerSecond(1.25), QStringLiteral("1.2 MB/s"));   // the binary 1.25 is a tie, printf's even
        QCOMPARE(Format::ms(0.4567), QStringLiteral("0.46 ms"));
        QCOMPARE(Format::watts(12.5, 1), QStringLiteral("12.5 W"));
        QCOMPARE(Format::ghz(2.414), QStringLiteral("2.41 GHz"));
        QCOMPARE(Format::tokensPerSecond(70.42), QStringLiteral("70.4 tok/s"));
        QCOMPARE(Format::seconds(6.3382), QStringLiteral("6.34 s"));
        QCOMPARE(Format::seconds(59.994), QStringLiteral("59.99 s"));
        QCOMPARE(Format::seconds(90), QStringLiteral("1.5 min"));   // not "90.00 s"
        QCOMPARE(Format::degrees(61.7), QStringLiteral("61°"));
        QCOMPARE(Format::degrees(-0.5), QStringLiteral("0°"));
        QCOMPARE(Format::fixed(-0.04), QStringLiteral("0.0"));   // never "-0.0"
        QCOMPARE(Format::fixed(-1.25, 1), QStringLiteral("-1.2"));
        QCOMPARE(Format::gb(qQNaN()), QStringLiteral("–"));
        QCOMPARE(Format::percent(qInf()), QStringLiteral("–"));
        QCOMPARE(Format::estimate(QStringLiteral("2150 RPM"), false), QStringLiteral("≈ 2150 RPM"));
        QCOMPARE(Format::estimate(QStringLiteral("2150 RPM"), true), QStringLiteral("2150 RPM"));
    }

    // What a deletion dialog names: a size in the unit a person would say, never "0.0 GB"
    // for a 40 MB cache, and a folder under home written from "~".
    void sizesAndFolders()
    {
        QCOMPARE(Format::size(0), QStringLiteral("0 bytes"));
        QCOMPARE(Format::size(1023), QStringLiteral("1023 bytes"));
        QCOMPARE(Format::size(48 * 1024), QStringLiteral("48 KB"));
        QCOMPARE(Format::size(3.4 * 1048576), QStringLiteral("3.4 MB"));
        QCOMPARE(Format::size(40.0 * 1048576), QStringLiteral("40 MB"));
        QCOMPARE(Format::size(3.2 * 1073741824), QStringLiteral("3.2 GB"));
        QCOMPARE(Format::size(-5), QStringLiteral("0 bytes"));
        QCOMPARE(Format::size(qQNaN()), QStringLiteral("–"));

        const QString home = QDir::homePath();
        QCOMPARE(Format::homeRelative(home + "/.cache/pip"), QStringLiteral("~/.cache/pip"));
        QCOMPARE(Format::homeRelative(home), QStringLiteral("~"));
        QCOMPARE(Format::homeRelative(home + "x/.cache"), home + "x/.cache");   // a sibling, not home
        QCOMPARE(Format::homeRelative("/var/cache/apt"), QStringLiteral("/var/cache/apt"));
    }
};

QTEST_GUILESS_MAIN(TestFormat)
#include "tst_Format.moc"
