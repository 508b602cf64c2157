#include "platform/CpuTopologyReader.h"
#include "support/FixtureTree.h"

#include <QTest>

using Ids = std::vector<int>;

class TestCpuTopologyReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesCpuLists_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QList<int>>("cpus");
        QTest::newRow("range") << QByteArray("0-3\n") << QList<int>{0, 1, 2, 3};
        QTest::newRow("mixed") << QByteArray("0,2-3,8") << QList<int>{0, 2, 3, 8};
        QTest::newRow("single") << QByteArray("5") << QList<int>{5};
        QTest::newRow("empty") << QByteArray("\n") << QList<int>{};
        QTest::newRow("reversed") << QByteArray("3-1") << QList<int>{};
        QTest::newRow("garbage") << QByteArray("0-a") << QList<int>{};
        // Numbers no kernel gives a CPU: refused, not counted up to (the count overflowed).
        QTest::newRow("largest") << QByteArray("65535") << QList<int>{65535};
        QTest::newRow("int max") << QByteArray("2147483647") << QList<int>{};
        QTest::newRow("range to int max") << QByteArray("0-2147483647") << QList<int>{};
        QTest::newRow("past int") << QByteArray("4294967296") << QList<int>{};
    }
    void parsesCpuLists()
    {
        QFETCH(QByteArray, text);
        QFETCH(QList<int>, cpus);
        const Ids parsed = CpuTopologyReader::parseCpuList(text.toStdString());
        QCOMPARE(QList<int>(parsed.begin(), parsed.end()), cpus);
    }

    void hybridIntelFromPmuLists()
    {
        FixtureTree tree;
        tree.write("sys/devices/system/cpu/online", "0-11\n");
        tree.write("sys/devices/cpu_core/cpus", "0-3\n");
        tree.write("sys/devices/cpu_atom/cpus", "4-11\n");
        const CpuTopology t = CpuTopologyReader(tree.root("sys"), tree.root("proc")).read();
        QCOMPARE(t.cpuCount, 12);
        QCOMPARE(t.performanceCpus, (Ids{0, 1, 2, 3}));
        QCOMPARE(t.efficiencyCpus, (Ids{4, 5, 6, 7, 8, 9, 10, 11}));
    }

    void hybridIgnoresOfflineCpus()
    {
        FixtureTree tree;
        tree.write("sys/devices/system/cpu/online", "0-5\n");
        tree.write("sys/devices/cpu_core/cpus", "0-3\n");
        tree.write("sys/devices/cpu_atom/cpus", "4-7\n");
        const CpuTopology t = CpuTopologyReader(tree.root("sys"), tree.root("proc")).read();
        QCOMPARE(t.efficiencyCpus, (Ids{4, 5}));
        QCOMPARE(t.cpuCount, 6);
    }

    void bigLittleFromCapacities()
    {
        // Performance cores are not numbered last on every ARM board.
        FixtureTree tree;
        tree.write("sys/devices/system/cpu/online", "0-5\n");
        const int capacity[] = {1024, 446, 446, 1024, 446, 446};
        for (int cpu = 0; cpu < 6; ++cpu)
            tree.write(QStringLiteral("sys/devices/system/cpu/cpu%1/cpu_capacity").arg(cpu), QByteArray::number(capacity[cpu]) + "\n");
        const CpuTopology t = CpuTopologyReader(tree.root("sys"), tree.root("proc")).read();
        QCOMPARE(t.performanceCpus, (Ids{0, 3}));
        QCOMPARE(t.efficiencyCpus, (Ids{1, 2, 4, 5}));
    }

    void homogeneousMachineIsAllPerformance()
    {
        FixtureTree tree;
        tree.write("sys/devices/system/cpu/online", "0-15\n");
        for (int cpu = 0; cpu < 16; ++cpu)
            tree.write(QStringLiteral("sys/devices/system/cpu/cpu%1/cpu_capacity").arg(cpu), "1024\n");
        const CpuTopology t = CpuTopologyReader(tree.root("sys"), tree.root("proc")).read();
        QCOMPARE(t.cpuCount, 16);
        QCOMPARE(t.performanceCpus.size(), size_t(16));
        QVERIFY(t.efficiencyCpus.empty());
    }

    void countFallsBackToProcStat()
    {
        FixtureTree tree;
        tree.write("proc/stat", "cpu 1 1 1 1\ncpu0 1 1 1 1\ncpu1 1 1 1 1\ncpu2 1 1 1 1\n");
        const CpuTopology t = CpuTopologyReader(tree.root("sys"), tree.root("proc")).read();
        QCOMPARE(t.cpuCount, 3);
        QCOMPARE(t.performanceCpus, (Ids{0, 1, 2}));
    }

    void unknownCountWhenNothingReadable()
    {
        FixtureTree tree;
        const CpuTopology t = CpuTopologyReader(tree.root("sys"), tree.root("proc")).read();
        QCOMPARE(t.cpuCount, -1);
        QVERIFY(t.performanceCpus.empty() && t.efficiencyCpus.empty());
    }
};

QTEST_GUILESS_MAIN(TestCpuTopologyReader)
#include "tst_CpuTopologyReader.moc"
