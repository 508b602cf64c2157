#include "platform/CpuTimesReader.h"
#include "support/FixtureTree.h"

#include <QTest>

class TestCpuTimesReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsPerCpuLinesOnly()
    {
        FixtureTree tree;
        tree.write("proc/stat",
                   "cpu  30 0 20 1000 5 0 1 0 0 0\n"
                   "cpu0 10 1 5 400 2 3 4 5 6 7\n"
                   "cpu2 20 0 15 600 3 0 0 0 0 0\n"
                   "intr 1234 0 0\n"
                   "ctxt 999\n");
        CpuTimesReader reader(tree.root("proc"));
        std::vector<CpuTicks> ticks;
        QVERIFY(reader.read(ticks));
        QCOMPARE(ticks.size(), size_t(2));
        QCOMPARE(ticks[0].id, 0);
        QCOMPARE(ticks[1].id, 2);   // offline CPUs leave gaps in the numbering
        QCOMPARE(ticks[0].counters[CpuTicks::User], 10u);
        QCOMPARE(ticks[0].counters[CpuTicks::Steal], 5u);
        QCOMPARE(ticks[1].counters[CpuTicks::Idle], 600u);
    }

    void skipsGarbledAndShortLines()
    {
        FixtureTree tree;
        tree.write("proc/stat",
                   "cpu0 10 x 5 400\n"          // not a number
                   "cpu1 10 0\n"                // too short
                   "cpuX 1 2 3 4\n"             // no CPU number
                   "cpu3 7 0 3 90\n"            // an old kernel's four counters
                   "cpu4 18446744073709551615 0 0 0\n");
        CpuTimesReader reader(tree.root("proc"));
        std::vector<CpuTicks> ticks;
        QVERIFY(reader.read(ticks));
        QCOMPARE(ticks.size(), size_t(2));
        QCOMPARE(ticks[0].id, 3);
        QCOMPARE(ticks[0].counters[CpuTicks::IoWait], 0u);
        QCOMPARE(ticks[1].counters[CpuTicks::User], 18446744073709551615ull);
    }

    void failsWithoutUsableLines()
    {
        FixtureTree tree;
        std::vector<CpuTicks> ticks;
        QVERIFY(!CpuTimesReader(tree.root("proc")).read(ticks));   // no file
        tree.write("proc/stat", "cpu  1 2 3 4\nintr 5\n");
        QVERIFY(!CpuTimesReader(tree.root("proc")).read(ticks));   // aggregate line only
        tree.write("proc/stat", "");
        QVERIFY(!CpuTimesReader(tree.root("proc")).read(ticks));
    }

    void deltaSplitsBusyAndIdle()
    {
        CpuTicks before{0, {100, 10, 50, 1000, 20, 5, 5, 2}};
        CpuTicks after{0, {160, 20, 80, 1300, 40, 6, 7, 4}};
        const CpuLoadDelta d = CpuTimesReader::delta(before, after);
        // user 60 + nice 10 + system 30 + irq 1 + softirq 2 + steal 2
        QCOMPARE(d.busy, 105u);
        // idle 300 + iowait 20
        QCOMPARE(d.idle, 320u);
    }

    void counterGoingBackwardsCountsAsNoChange()
    {
        // iowait is known to decrease on some kernels; it must not wrap to 2^64.
        CpuTicks before{0, {100, 0, 50, 1000, 500, 0, 0, 0}};
        CpuTicks after{0, {150, 0, 50, 1100, 400, 0, 0, 0}};
        const CpuLoadDelta d = CpuTimesReader::delta(before, after);
        QCOMPARE(d.busy, 50u);
        QCOMPARE(d.idle, 100u);
    }
};

QTEST_GUILESS_MAIN(TestCpuTimesReader)
#include "tst_CpuTimesReader.moc"
