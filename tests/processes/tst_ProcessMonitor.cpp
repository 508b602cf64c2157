#include "platform/ProcessTableReader.h"
#include "processes/ProcessMonitor.h"
#include "support/FixtureTree.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
QByteArray statLine(int pid, const QByteArray &comm, quint64 utime, quint64 stime, char state = 'S', quint64 start = 100)
{
    // Fields 3..22 of proc(5); 14/15 are utime/stime, 22 starttime.
    return QByteArray::number(pid) + " (" + comm + ") " + state
         + " 1 1 1 0 -1 0 0 0 0 0 " + QByteArray::number(utime) + ' ' + QByteArray::number(stime)
         + " 0 0 20 0 1 0 " + QByteArray::number(start) + " 0 0\n";
}

char liveState(qint64 pid)
{
    ProcessTableReader reader;
    ProcessStat stat;
    return reader.read(static_cast<int>(pid), stat) ? stat.state : '?';
}
}

class TestProcessMonitor : public QObject
{
    Q_OBJECT

    std::vector<std::unique_ptr<QProcess>> children;

    // Real sleeping children, so every fixture pid is a process that may safely be signalled.
    QList<int> spawnSleepers(int count)
    {
        QList<int> pids;
        for (int i = 0; i < count; ++i) {
            auto p = std::make_unique<QProcess>();
            p->start(QStringLiteral("sleep"), {QStringLiteral("60")});
            if (!p->waitForStarted())
                return {};
            pids.append(static_cast<int>(p->processId()));
            children.push_back(std::move(p));
        }
        return pids;
    }

    ProcessSources fixtureSources(const FixtureTree &tree)
    {
        ProcessSources s;
        s.procRoot = tree.root("proc");
        s.dataDirs = QStringList{tree.path("share")};
        return s;
    }

private Q_SLOTS:
    void cleanup()
    {
        for (auto &p : children) {
            p->kill();
            p->waitForFinished();
        }
        children.clear();
    }

    void parsesStatWithAwkwardNames()
    {
        ProcessStat stat;
        QVERIFY(ProcessTableReader::parseStat(statLine(42, "tmux: (server) x", 7, 5, 'R').toStdString(), stat));
        QCOMPARE(stat.pid, 42);
        QCOMPARE(QByteArray::fromStdString(stat.comm), QByteArray("tmux: (server) x"));
        QCOMPARE(stat.state, 'R');
        QCOMPARE(stat.cpuTicks, 12u);
        QCOMPARE(stat.startTime, 100u);
        QCOMPARE(stat.residentPages, 0u);
        // A real line goes on past rss (field 24); one that stops at starttime is still read.
        QVERIFY(ProcessTableReader::parseStat("7 (cc1plus) R 1 1 1 0 -1 0 0 0 0 0 3 4 0 0 20 0 1 0 100 5000 321 18446744073709551615 1", stat));
        QCOMPARE(stat.residentPages, 321u);
        QVERIFY(ProcessTableReader::parseStat("7 (x) R 1 1 1 0 -1 0 0 0 0 0 3 4 0 0 20 0 1 0 100", stat));
        QCOMPARE(stat.residentPages, 0u);
        QVERIFY(!ProcessTableReader::parseStat("42 (short) S 1 2", stat));
        QVERIFY(!ProcessTableReader::parseStat("x (a) S", stat));
    }

    // stat's rss lags the kernel's resident count that top shows; statm carries that count,
    // so where the two disagree a shown row takes statm's, and stat's is only the fallback.
    void residentMemoryFromStatm()
    {
        std::uint64_t pages = 0;
        QVERIFY(ProcessTableReader::parseStatm("120000 4567 890 12 0 3456 0\n", pages));
        QCOMPARE(pages, 4567u);
        QVERIFY(!ProcessTableReader::parseStatm("120000\n", pages));
        QVERIFY(!ProcessTableReader::parseStatm("", pages));

        const QList<int> pids = spawnSleepers(2);
        QCOMPARE(pids.size(), 2);
        FixtureTree tree;
        const auto withRss = [](int pid, quint64 ticks, quint64 rss) {
            return QByteArray::number(pid) + " (sleep) S 1 1 1 0 -1 0 0 0 0 0 " + QByteArray::number(ticks)
                 + " 0 0 0 20 0 1 0 100 5000 " + QByteArray::number(rss) + " 0\n";
        };
        tree.write(QStringLiteral("proc/%1/stat").arg(pids[0]), withRss(pids[0], 0, 321));
        tree.write(QStringLiteral("proc/%1/statm").arg(pids[0]), "9000 500 40 10 0 300 0\n");
        tree.write(QStringLiteral("proc/%1/stat").arg(pids[1]), withRss(pids[1], 0, 77));   // no statm

        ProcessTableReader reader(tree.root("proc"));
        ProcessStat one;
        QVERIFY(reader.read(pids[0], one));
        QCOMPARE(one.residentPages, 321u);
        reader.readResident(one);
        QCOMPARE(one.residentPages, 500u);
        QVERIFY(reader.read(pids[1], one));
        reader.readResident(one);
        QCOMPARE(one.residentPages, 77u);
        // A shown row's statm stays open for the next sample and is let go after a sample
        // that did not ask for it.
        QCOMPARE(reader.openStatFiles(), size_t(1));
        std::vector<ProcessStat> table;
        QVERIFY(reader.readAll(table));
        QCOMPARE(reader.openStatFiles(), size_t(3));
        QVERIFY(reader.readAll(table));
        QCOMPARE(reader.openStatFiles(), size_t(2));

        ProcessMonitor monitor(nullptr, fixtureSources(tree), ProcessMonitor::Polling::Manual);
        monitor.setUniformSource([](double, double) { return 1.0; });
        tree.write(QStringLiteral("proc/%1/stat").arg(pids[0]), withRss(pids[0], 50, 321));
        tree.write(QStringLiteral("proc/%1/stat").arg(pids[1]), withRss(pids[1], 40, 77));
        QTest::qWait(20);
        monitor.updateProcesses();
        QList<ProcessInfoData> rows = monitor.topProcesses();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].id, pids[0]);
        const qint64 page = static_cast<qint64>(ProcessTableReader::pageSize());
        QCOMPARE(rows[0].memoryBytes, 500 * page);
        QCOMPARE(rows[1].memoryBytes, 77 * page);
        // Each sample reads it afresh.
        tree.write(QStringLiteral("proc/%1/statm").arg(pids[0]), "9000 640 40 10 0 300 0\n");
        tree.write(QStringLiteral("proc/%1/stat").arg(pids[0]), withRss(pids[0], 100, 321));
        QTest::qWait(20);
        monitor.updateProcesses();
        rows = monitor.topProcesses();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].memoryBytes, 640 * page);
    }

    void fullPathFallsBackFromExeToArgvToComm()
    {
        FixtureTree tree;
        tree.write("proc/10/cmdline", QByteArray("/usr/bin/python3\0script.py\0", 27));
        tree.write("proc/11/cmdline", QByteArray("sshd: root@pts/0\0", 17));
        tree.write("proc/12/cmdline", "/opt/chrome/chrome --type=renderer");
        tree.mkdir("proc/13");
        tree.mkdir("proc/14");
        QVERIFY(QFile::link(QStringLiteral("/usr/lib/firefox/firefox (deleted)"), tree.path("proc/14/exe")));
        ProcessTableReader reader(tree.root("proc"));
        QCOMPARE(reader.fullPath(10, "python3"), std::string("/usr/bin/python3"));
        QCOMPARE(reader.fullPath(11, "sshd"), std::string("sshd"));
        QCOMPARE(reader.fullPath(12, "chrome"), std::string("/opt/chrome/chrome"));
        QCOMPARE(reader.fullPath(13, "kworker/0:1"), std::string("kworker/0:1"));
        QCOMPARE(reader.fullPath(14, "firefox"), std::string("/usr/lib/firefox/firefox"));
    }

    // Big enough to be read in two halves at once: every process comes back exactly once
    // with its own figures, fresh ones on the next read, and the unreadable are skipped.
    void largeTableReadWholeAndFresh()
    {
        FixtureTree tree;
        constexpr int kCount = 700;
        for (int pid = 1; pid <= kCount; ++pid)
            tree.write(QStringLiteral("proc/%1/stat").arg(pid), statLine(pid, "p" + QByteArray::number(pid), pid, 1));
        tree.write("proc/5000/stat", "5000 (broken");
        tree.mkdir("proc/5001");
        tree.write("proc/self", "not a process");
        ProcessTableReader reader(tree.root("proc"));

        const auto check = [&](quint64 extra) {
            std::vector<ProcessStat> table;
            QVERIFY(reader.readAll(table));
            QCOMPARE(table.size(), size_t(kCount));
            std::vector<bool> seen(kCount + 1, false);
            for (const ProcessStat &p : table) {
                QVERIFY(p.pid >= 1 && p.pid <= kCount);
                QVERIFY(!seen[p.pid]);
                seen[p.pid] = true;
                QCOMPARE(p.cpuTicks, quint64(p.pid) + 1 + (p.pid % 2 ? extra : 0));
                QCOMPARE(QByteArray::fromStdString(p.comm), "p" + QByteArray::number(p.pid));
            }
        };
        check(0);
        QCOMPARE(reader.openStatFiles(), size_t(kCount + 1));   // the broken one is held too
        for (int pid = 1; pid <= kCount; pid += 2)
            tree.write(QStringLiteral("proc/%1/stat").arg(pid), statLine(pid, "p" + QByteArray::number(pid), pid + 30, 1));
        check(30);

        QVERIFY(QDir(tree.path("proc/5000")).removeRecursively());
        std::vector<ProcessStat> table;
        QVERIFY(reader.readAll(table));
        QCOMPARE(reader.openStatFiles(), size_t(kCount));
    }

    // Ten busy processes: the eight busiest by CPU (ties by pid) make the table; a frozen
    // tenth is kept as an extra row at its place, and the table always publishes.
    void eightBusiestPlusFrozenRows()
    {
        const QList<int> pids = spawnSleepers(10);
        QCOMPARE(pids.size(), 10);
        FixtureTree tree;
        for (int pid : pids)
            tree.write(QStringLiteral("proc/%1/stat").arg(pid), statLine(pid, "sleep", 0, 0));
        ProcessMonitor monitor(nullptr, fixtureSources(tree), ProcessMonitor::Polling::Manual);
        monitor.setUniformSource([](double, double) { return 1.0; });

        // Busier first; pids[8] and pids[9] idle, pids[0] and pids[1] equally busy.
        for (int i = 0; i < 10; ++i)
            tree.write(QStringLiteral("proc/%1/stat").arg(pids[i]),
                       statLine(pids[i], "sleep", i >= 8 ? 0 : (i < 2 ? 900 : 800 - i * 50), 0));
        monitor.toggleSuspend(pids[9]);
        QVERIFY(monitor.suspendedPids().contains(pids[9]));
        QTRY_COMPARE(liveState(pids[9]), 'T');

        QSignalSpy published(&monitor, &ProcessMonitor::topProcessesChanged);
        QTest::qWait(50);
        monitor.updateProcesses();
        QCOMPARE(published.count(), 1);
        const QList<ProcessInfoData> rows = monitor.topProcesses();
        QCOMPARE(rows.size(), 9);
        QCOMPARE(rows[0].id, std::min(pids[0], pids[1]));
        QCOMPARE(rows[1].id, std::max(pids[0], pids[1]));
        for (int i = 2; i < 8; ++i)
            QCOMPARE(rows[i].id, pids[i]);
        QCOMPARE(rows[8].id, pids[9]);
        QVERIFY(rows[8].isSuspended);
        QVERIFY(!rows[0].isSuspended);
        // Shares of the same interval: 900 ticks read as 900/600 of the 600-tick row.
        QVERIFY(rows[0].cpuUsage > 0);
        QCOMPARE(qRound(rows[0].cpuUsage / rows[4].cpuUsage * 1000), qRound(900.0 / 600.0 * 1000));
        QCOMPARE(rows[0].energyImpact, rows[0].cpuUsage * 0.8);
        QCOMPARE(rows[0].name, QStringLiteral("sleep"));
        // Both "sleep" rows feed one battery figure, each adding (energy + 1) / 3600.
        double expected = 0;
        for (const ProcessInfoData &row : rows)
            expected += (row.energyImpact + 1.0) / 3600.0;
        QCOMPARE(monitor.batteryShameList().value(QStringLiteral("sleep")), expected);
        QCOMPARE(rows.last().totalBatteryDrain, expected);

        monitor.toggleSuspend(pids[9]);
        QVERIFY(!monitor.suspendedPids().contains(pids[9]));
        QTRY_COMPARE(liveState(pids[9]), 'S');
    }

    // A shown row keeps its path while it is the same process; a pid taken over by a new
    // process, or a process that ran another program, is looked up again.
    void rowPathsFollowTheProcess()
    {
        const QList<int> pids = spawnSleepers(1);
        QCOMPARE(pids.size(), 1);
        const int pid = pids[0];
        FixtureTree tree;
        const QString exe = tree.path(QStringLiteral("proc/%1/exe").arg(pid));
        tree.write(QStringLiteral("proc/%1/stat").arg(pid), statLine(pid, "sleep", 0, 0));
        QVERIFY(QFile::link(QStringLiteral("/usr/bin/sleep"), exe));
        ProcessMonitor monitor(nullptr, fixtureSources(tree), ProcessMonitor::Polling::Manual);
        const auto pathAfter = [&](quint64 ticks, const QByteArray &comm, quint64 start) {
            tree.write(QStringLiteral("proc/%1/stat").arg(pid), statLine(pid, comm, ticks, 0, 'S', start));
            QTest::qWait(20);
            monitor.updateProcesses();
            return monitor.topProcesses().isEmpty() ? QString() : monitor.topProcesses().first().fullPath;
        };
        QCOMPARE(pathAfter(10, "sleep", 100), QStringLiteral("/usr/bin/sleep"));
        QFile::remove(exe);
        QVERIFY(QFile::link(QStringLiteral("/opt/other/sleep"), exe));
        QCOMPARE(pathAfter(20, "sleep", 100), QStringLiteral("/usr/bin/sleep"));   // the same process
        QCOMPARE(pathAfter(30, "sleep", 500), QStringLiteral("/opt/other/sleep"));   // the pid reused
        QFile::remove(exe);
        QVERIFY(QFile::link(QStringLiteral("/usr/bin/python3"), exe));
        QCOMPARE(pathAfter(40, "python3", 500), QStringLiteral("/usr/bin/python3"));   // exec
    }

    void freezeAndThawARealChild()
    {
        const QList<int> pids = spawnSleepers(1);
        QCOMPARE(pids.size(), 1);
        ProcessMonitor monitor(nullptr, {}, ProcessMonitor::Polling::Manual);
        QSignalSpy changed(&monitor, &ProcessMonitor::suspendedPidsChanged);
        monitor.toggleSuspend(pids[0]);
        QTRY_COMPARE(liveState(pids[0]), 'T');
        monitor.toggleSuspend(pids[0]);
        QTRY_COMPARE(liveState(pids[0]), 'S');
        QCOMPARE(changed.count(), 2);
    }

    void protectedProcessesAreRefused()
    {
        const QList<int> pids = spawnSleepers(1);
        FixtureTree tree;
        // A harmless child dressed up as the compositor.
        tree.write(QStringLiteral("proc/%1/stat").arg(pids[0]), statLine(pids[0], "Xwayland", 0, 0));
        ProcessSources sources = fixtureSources(tree);
        sources.ownPid = 4242;
        ProcessMonitor monitor(nullptr, sources, ProcessMonitor::Polling::Manual);
        QSignalSpy logged(&monitor, &ProcessMonitor::logged);
        for (int pid : {1, 0, -5, 4242, pids[0]})
            monitor.toggleSuspend(pid);
        QVERIFY(monitor.suspendedPids().isEmpty());
        QCOMPARE(logged.count(), 5);
        QCOMPARE(logged[0][0].toString(), QStringLiteral("Cannot suspend critical system process or self (PID 1)"));
        QCOMPARE(logged[3][0].toString(), QStringLiteral("Cannot suspend critical system process or self (PID 4242)"));
        QTest::qWait(50);
        QCOMPARE(liveState(pids[0]), 'S');
        for (const char *name : {"gnome-shell", "kwin_wayland", "dbus-daemon", "systemd", "Xorg"})
            QVERIFY(ProcessMonitor::isProtectedName(QString::fromLatin1(name)));
        QVERIFY(!ProcessMonitor::isProtectedName(QStringLiteral("firefox")));
    }

    // A frozen process that exits leaves the set on the next sample; an unchanged set
    // does not notify.
    void pruningAndPausedSampling()
    {
        const QList<int> pids = spawnSleepers(1);
        ProcessMonitor monitor(nullptr, {}, ProcessMonitor::Polling::Manual);
        monitor.toggleSuspend(pids[0]);
        QSignalSpy changed(&monitor, &ProcessMonitor::suspendedPidsChanged);
        monitor.updateProcesses();
        QCOMPARE(changed.count(), 0);

        monitor.setIsPaused(true);
        const auto shame = monitor.batteryShameList();
        const auto snapshots = monitor.dvrSnapshots().size();
        QSignalSpy published(&monitor, &ProcessMonitor::topProcessesChanged);
        monitor.updateProcesses();
        QCOMPARE(published.count(), 0);
        QCOMPARE(monitor.batteryShameList(), shame);
        QCOMPARE(monitor.dvrSnapshots().size(), snapshots);
        monitor.setIsPaused(false);

        children.front()->kill();
        children.front()->waitForFinished();
        monitor.updateProcesses();
        QCOMPARE(changed.count(), 1);
        QVERIFY(monitor.suspendedPids().isEmpty());
    }

    void snapshotsKeepTheLast120()
    {
        FixtureTree tree;
        tree.mkdir("proc");
        ProcessMonitor monitor(nullptr, fixtureSources(tree), ProcessMonitor::Polling::Manual);
        monitor.updateProcesses();
        QCOMPARE(monitor.dvrSnapshots().size(), 1);
        QVERIFY(monitor.topProcesses().isEmpty());
        const QUuid second = [&] { monitor.updateProcesses(); return monitor.dvrSnapshots()[1].id; }();
        for (int i = 0; i < 119; ++i)
            monitor.updateProcesses();
        QCOMPARE(monitor.dvrSnapshots().size(), 120);
        QCOMPARE(monitor.dvrSnapshots().first().id, second);
    }

    void iconsFromDesktopEntriesAreCached()
    {
        const QList<int> pids = spawnSleepers(2);
        FixtureTree tree;
        tree.write(QStringLiteral("proc/%1/stat").arg(pids[0]), statLine(pids[0], "sleep", 0, 0));
        tree.write(QStringLiteral("proc/%1/stat").arg(pids[1]), statLine(pids[1], "code", 0, 0));
        tree.write("share/applications/sleeper.desktop",
                   "[Desktop Entry]\nName=Sleeper\nExec=env A=1 /usr/bin/sleep %u\nIcon=sleeper-icon\n"
                   "[Desktop Action x]\nIcon=wrong\n");
        tree.write("share/applications/vscode.desktop", "[Desktop Entry]\nExec=/opt/x/launch\nStartupWMClass=Code\nIcon=vscode\n");
        ProcessMonitor monitor(nullptr, fixtureSources(tree), ProcessMonitor::Polling::Manual);
        QTRY_VERIFY(monitor.isIconIndexReady());
        monitor.updateProcesses();
        QHash<int, QString> icons;
        for (const ProcessInfoData &row : monitor.topProcesses())
            icons.insert(row.id, row.icon);
        QCOMPARE(icons.value(pids[1]), QStringLiteral("vscode"));
        // The real exe of the child is /usr/bin/sleep (or coreutils' path): matched by its name.
        QCOMPARE(icons.value(pids[0]), QStringLiteral("sleeper-icon"));
    }

    void setPriorityChangesNiceness()
    {
        const QList<int> pids = spawnSleepers(1);
        ProcessMonitor monitor(nullptr, {}, ProcessMonitor::Polling::Manual);
        QSignalSpy logged(&monitor, &ProcessMonitor::logged);
        monitor.setPriority(pids[0], 10);
        QCOMPARE(logged.last()[0].toString(), QStringLiteral("Reniced process %1 to 10").arg(pids[0]));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pids[0]));
        QVERIFY(stat.open(QIODevice::ReadOnly));
        const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
        QCOMPARE(fields.value(16), QByteArray("10"));   // field 19, nice
        monitor.setPriority(999999999, 5);
        QVERIFY(logged.last()[0].toString().startsWith(QStringLiteral("Failed to renice process: ")));
    }
};

QTEST_GUILESS_MAIN(TestProcessMonitor)
#include "tst_ProcessMonitor.moc"
