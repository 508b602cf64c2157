#include "platform/DiskStatsReader.h"
#include "platform/FileSystemStats.h"
#include "platform/KeptFile.h"
#include "platform/ProcFile.h"
#include "platform/MemInfoReader.h"
#include "platform/NetDevReader.h"
#include "support/FixtureTree.h"

#include <QTest>

#include <cstdio>
#include <string_view>
#include <sys/statvfs.h>

namespace {
const QByteArray kMeminfo =
    "MemTotal:       16000000 kB\n"
    "MemFree:         2000000 kB\n"
    "MemAvailable:    9000000 kB\n"
    "Unevictable:        1000 kB\n"
    "Slab:             500000 kB\n"
    "SUnreclaim:       200000 kB\n"
    "KernelStack:       20000 kB\n"
    "PageTables:        50000 kB\n"
    "SwapTotal:       4000000 kB\n"
    "SwapFree:        3000000 kB\n"
    "Zswap:             30000 kB\n"
    "HugePages_Total:       0\n";

const QByteArray kNetDev =
    "Inter-|   Receive                                                |  Transmit\n"
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier compressed\n"
    "    lo: 1000 10 0 0 0 0 0 0 1000 10 0 0 0 0 0 0\n"
    "  eth0: 5000000000 400 0 0 0 0 0 0 7000 90 0 0 0 0 0 0\n"
    "wlan0:300 3 0 0 0 0 0 0 200 2 0 0 0 0 0 0\n";
}

class TestSystemReaders : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void meminfoFields()
    {
        const MemInfo m = MemInfoReader::parse(kMeminfo.toStdString());
        QVERIFY(m.valid);
        QCOMPARE(m.total, 16000000ull * 1024);
        QCOMPARE(m.available, 9000000ull * 1024);
        QCOMPARE(m.wired, (1000ull + 200000 + 20000 + 50000) * 1024);
        // Slab already holds SUnreclaim; the kernel's share does not count it twice.
        QCOMPARE(m.kernel, (500000ull + 20000 + 50000) * 1024);
        QCOMPARE(m.compressed, 30000ull * 1024);
        QVERIFY(m.swapValid);
        QCOMPARE(m.swapTotal - m.swapFree, 1000000ull * 1024);
    }

    void meminfoShortOrGarbled()
    {
        // Truncated before MemAvailable: the memory figures are unusable, swap too.
        MemInfo m = MemInfoReader::parse("MemTotal: 16000000 kB\nMemFree: 2000");
        QVERIFY(!m.valid);
        QVERIFY(!m.swapValid);

        m = MemInfoReader::parse("MemTotal: lots kB\nMemAvailable: 10 kB\n\n::::\n");
        QVERIFY(!m.valid);

        // Swap lines alone still give swap.
        m = MemInfoReader::parse("SwapTotal: 10 kB\nSwapFree: 4 kB\n");
        QVERIFY(!m.valid);
        QVERIFY(m.swapValid);
        QCOMPARE(m.swapTotal - m.swapFree, 6ull * 1024);

        QVERIFY(!MemInfoReader::parse("MemTotal: 0 kB\nMemAvailable: 0 kB\n").valid);
    }

    void zramCompressedSizeIsAdded()
    {
        FixtureTree tree;
        tree.write("proc/meminfo", kMeminfo);
        tree.write("sys/block/zram0/mm_stat", "   8192000   2048000   2500000        0  2600000      10      0      0      0\n");
        tree.write("sys/block/zram1/mm_stat", "garbage\n");
        tree.write("sys/block/sda/mm_stat", "1 999999 1\n");   // not a zram device
        tree.write("sys/block/zram3/disksize", "0\n");           // loaded, never set up
        tree.write("sys/block/zram3/mm_stat", "0 777777 0\n");
        MemInfoReader reader(tree.root("proc"), tree.root("sys"));
        const MemInfo m = reader.read();
        QVERIFY(m.valid);
        QCOMPARE(m.compressed, 30000ull * 1024 + 2048000);

        // A device added later counts from the next listing, half a minute of readings on.
        // So does one set up later.
        tree.write("sys/block/zram2/mm_stat", "100 4096 100\n");
        tree.write("sys/block/zram3/disksize", "1073741824\n");
        tree.write("sys/block/zram0/mm_stat", "100 1024 100\n");   // the known ones are read each time
        for (int reading = 2; reading <= 30; ++reading)
            QCOMPARE(reader.read().compressed, 30000ull * 1024 + 1024);
        QCOMPARE(reader.read().compressed, 30000ull * 1024 + 1024 + 4096 + 777777);

        tree.remove("proc/meminfo");
        QVERIFY(!reader.read().valid);
    }

    void netDevSumsEveryInterface()
    {
        const auto totals = NetDevReader::parse(kNetDev.toStdString());
        QVERIFY(totals);
        QCOMPARE(totals->received, 1000ull + 5000000000ull + 300);   // past 32 bits
        QCOMPARE(totals->sent, 1000ull + 7000 + 200);
    }

    void netDevRejectsHeadersAndGarbage()
    {
        QVERIFY(!NetDevReader::parse(kNetDev.left(kNetDev.indexOf("    lo")).toStdString()));
        QVERIFY(!NetDevReader::parse(""));
        const auto partial = NetDevReader::parse("  eth0: 1 2 3\n  eth1: 10 0 0 0 0 0 0 0 20 0 0 0 0 0 0 0\n");
        QVERIFY(partial);
        QCOMPARE(partial->received, 10ull);
        QCOMPARE(partial->sent, 20ull);
    }

    void diskStatsCountsPhysicalDisksOnly()
    {
        FixtureTree tree;
        tree.write("proc/diskstats",
                   "   7       0 loop0 100 0 800 0 0 0 0 0 0 0 0\n"
                   " 259       0 nvme0n1 10 0 2000 5 20 0 4000 9 0 0 0\n"
                   " 259       1 nvme0n1p1 5 0 1000 5 10 0 2000 9 0 0 0\n"
                   " 253       0 dm-0 5 0 1500 5 10 0 3000 9 0 0 0\n"
                   "   8       0 sda 1 0 100 1 1 0 300 1 0 0 0\n"
                   " 251       0 zram0 1 0 5000 1 1 0 5000 1 0 0 0\n"
                   "broken line\n");
        tree.mkdir("sys/block/nvme0n1/device");
        tree.mkdir("sys/block/sda/device");
        tree.mkdir("sys/block/loop0");
        tree.mkdir("sys/block/dm-0");
        tree.mkdir("sys/block/zram0");
        DiskStatsReader reader(tree.root("proc"), tree.root("sys"));
        const auto totals = reader.read();
        QVERIFY(totals);
        QCOMPARE(totals->bytesRead, (2000ull + 100) * 512);
        QCOMPARE(totals->bytesWritten, (4000ull + 300) * 512);
    }

    void diskStatsWithoutSysfsUsesNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("whole");
        QTest::newRow("sda") << "sda" << true;
        QTest::newRow("sda1") << "sda1" << false;
        QTest::newRow("vdb") << "vdb" << true;
        QTest::newRow("nvme0n1") << "nvme0n1" << true;
        QTest::newRow("nvme0n1p2") << "nvme0n1p2" << false;
        QTest::newRow("mmcblk0") << "mmcblk0" << true;
        QTest::newRow("mmcblk0p1") << "mmcblk0p1" << false;
        QTest::newRow("loop3") << "loop3" << false;
        QTest::newRow("dm-1") << "dm-1" << false;
        QTest::newRow("zram0") << "zram0" << false;
        QTest::newRow("md0") << "md0" << false;
        QTest::newRow("sr0") << "sr0" << false;
    }
    void diskStatsWithoutSysfsUsesNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, whole);
        QCOMPARE(DiskStatsReader::looksLikeWholeDisk(name.toStdString()), whole);
    }

    void diskStatsUnreadable()
    {
        FixtureTree tree;
        QVERIFY(!DiskStatsReader(tree.root("proc"), tree.root("sys")).read());
        tree.write("proc/diskstats", "nonsense\n\n");
        QVERIFY(!DiskStatsReader(tree.root("proc"), tree.root("sys")).read());
    }

    void keptFileRereadsWhatTheKernelGenerates()
    {
        // rchar in /proc/self/io counts the bytes this process has read, the reads of the
        // file itself included: one kept descriptor must show it growing.
        auto rchar = [](const std::string &text) -> unsigned long long {
            std::string_view rest(text);
            while (!rest.empty()) {
                std::string_view line = ProcFile::nextLine(rest);
                if (line.substr(0, 7) == "rchar: ") {
                    unsigned long long v = 0;
                    return ProcFile::parseU64(ProcFile::trimmed(line.substr(7)), v) ? v : 0;
                }
            }
            return 0;
        };
        KeptFile io("/proc/self/io");
        std::string text;
        QVERIFY(io.read(text));
        QVERIFY(io.isKept());
        const unsigned long long first = rchar(text);
        QVERIFY(first > 0);
        QVERIFY(io.read(text));
        QVERIFY(rchar(text) > first);

        // The readers built on it give whole, parsable texts on the real procfs, pass after pass.
        MemInfoReader meminfo;
        for (int pass = 0; pass < 3; ++pass)
            QVERIFY(meminfo.read().valid);
    }

    void fixtureFilesAreReadAfresh()
    {
        FixtureTree tree;
        const std::string path = tree.root("proc/meminfo");
        KeptFile file(path);
        std::string text;
        QVERIFY(!file.read(text));
        QVERIFY(text.empty());

        // Bigger than the first read: the whole text arrives, over several reads.
        QByteArray big;
        for (int i = 0; big.size() < 10000; ++i)
            big += "line " + QByteArray::number(i) + '\n';
        tree.write("proc/meminfo", big);
        QVERIFY(file.read(text));
        QCOMPARE(QByteArray::fromStdString(text), big);
        QVERIFY(!file.isKept());

        // A fixture replaced by a new file under the same name (as editors and tests do) is
        // the new file on the next read, and one shrunk in place is read to its new end.
        tree.write("proc/meminfo.new", kMeminfo);
        QCOMPARE(std::rename((path + ".new").c_str(), path.c_str()), 0);
        QVERIFY(file.read(text));
        QCOMPARE(QByteArray::fromStdString(text), kMeminfo);
        tree.write("proc/meminfo", "short\n");
        QVERIFY(file.read(text));
        QCOMPARE(text, std::string("short\n"));

        tree.remove("proc/meminfo");
        QVERIFY(!file.read(text));
        QVERIFY(text.empty());
    }

    void fileSystemMatchesStatvfs()
    {
        FixtureTree tree;
        const auto usage = FileSystemStats(tree.root("")).read();
        QVERIFY(usage);
        struct statvfs st {};
        QCOMPARE(::statvfs(tree.root("").c_str(), &st), 0);
        QCOMPARE(usage->totalBytes, std::uint64_t(st.f_blocks) * st.f_frsize);
        QVERIFY(usage->usedBytes <= usage->totalBytes);
        QVERIFY(!FileSystemStats(tree.root("does/not/exist")).read());
    }
};

QTEST_GUILESS_MAIN(TestSystemReaders)
#include "tst_SystemReaders.moc"
