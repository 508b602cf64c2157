#include "localai/LocalAIService.h"
#include "platform/ProcessTableReader.h"
#include "support/FixtureTree.h"
#include "support/NamedProcesses.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <algorithm>
#include <memory>
#include <optional>
#include <unistd.h>

namespace {
char liveState(qint64 pid)
{
    ProcessTableReader reader;
    ProcessStat stat;
    return reader.read(static_cast<int>(pid), stat) ? stat.state : '?';
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}

class TestProtections : public QObject
{
    Q_OBJECT

    NamedProcesses children;
    QProcess *startNamed(const FixtureTree &tree, const QString &name) { return children.start(tree, name); }

    // The protections look at every process on the machine: a real model server would be
    // frozen, and a build running beside the tests would count as the compiler.
    static bool machineBusy(bool compilersMatter)
    {
        LocalAIService probe({}, LocalAIService::Polling::Manual);
        return !probe.getPIDs(LocalAIService::localAIProcessNames()).isEmpty()
            || (compilersMatter && !probe.getPIDs(LocalAIService::compilerNames()).isEmpty());
    }

    // What the smart pause is fed, changed by each test between steps.
    struct Conditions
    {
        bool enabled = true;
        std::optional<double> temperature;
        std::optional<double> battery;
        bool unplugged = false;
    };

    static LocalAISources smartPauseSources(Conditions &c)
    {
        LocalAISources sources;
        sources.smartPauseEnabled = [&c] { return c.enabled; };
        sources.cpuTemperature = [&c] { return c.temperature; };
        sources.batteryPercent = [&c] { return c.battery; };
        sources.isUnplugged = [&c] { return c.unplugged; };
        return sources;
    }

    static QList<int> sortedPids(std::initializer_list<QProcess *> processes)
    {
        QList<int> pids;
        for (QProcess *p : processes)
            pids.append(int(p->processId()));
        std::sort(pids.begin(), pids.end());
        return pids;
    }

private Q_SLOTS:
    void cleanup()
    {
        children.stopAll();
    }

    // The service ending (the app quitting) thaws what its protections froze: nothing else
    // ever would.
    void endingTheServiceThawsItsHolds()
    {
        {
            LocalAIService probe({}, LocalAIService::Polling::Manual);
            if (!probe.getPIDs(LocalAIService::compilerNames()).isEmpty()
                || !probe.getPIDs(LocalAIService::localAIProcessNames()).isEmpty())
                QSKIP("a compiler or a local AI server is running on this machine");
        }
        FixtureTree tree;
        QProcess *model = startNamed(tree, QStringLiteral("ollama"));
        QVERIFY(model);
        {
            LocalAIService service({}, LocalAIService::Polling::Manual);
            service.setCompileAutoSuspendEnabled(true);
            QVERIFY(startNamed(tree, QStringLiteral("clang")));
            service.checkAndApplyAutoSuspend();
            QCOMPARE(service.suspendedPIDs().size(), 1);
            QTRY_COMPARE(liveState(model->processId()), 'T');
        }
        QTRY_VERIFY(liveState(model->processId()) != 'T');
    }

    // Guard on: a running "clang" freezes the ollama processes once; the guard holds
    // while the compile lasts and thaws them when it ends or the switch goes off.
    void compileGuardFreezesAndThaws()
    {
        // The guard looks at every process on the machine: a build running beside the
        // tests would count as the compiler, and a real model server would be frozen.
        {
            LocalAIService probe({}, LocalAIService::Polling::Manual);
            if (!probe.getPIDs(LocalAIService::compilerNames()).isEmpty()
                || !probe.getPIDs(LocalAIService::localAIProcessNames()).isEmpty())
                QSKIP("a compiler or a local AI server is running on this machine");
        }
        FixtureTree tree;
        QProcess *ollamaA = startNamed(tree, QStringLiteral("ollama"));
        QProcess *ollamaB = startNamed(tree, QStringLiteral("ollama"));
        QProcess *lookalike = startNamed(tree, QStringLiteral("clang-17"));
        QVERIFY(ollamaA && ollamaB && lookalike);
        const QList<int> expected{int(std::min(ollamaA->processId(), ollamaB->processId())),
                                  int(std::max(ollamaA->processId(), ollamaB->processId()))};

        LocalAIService service({}, LocalAIService::Polling::Manual);
        service.checkAndApplyAutoSuspend();   // switch off: nothing
        QVERIFY(service.suspendedPIDs().isEmpty());
        service.setCompileAutoSuspendEnabled(true);
        service.checkAndApplyAutoSuspend();   // only clang-17 runs: no compiler
        QVERIFY(service.suspendedPIDs().isEmpty());
        // Not stopped; whether it is asleep yet or still starting ('R') on a busy machine.
        QVERIFY(liveState(ollamaA->processId()) != 'T');

        QProcess *clang = startNamed(tree, QStringLiteral("clang"));
        QVERIFY(clang);
        service.checkAndApplyAutoSuspend();
        QCOMPARE(service.suspendedPIDs(), expected);
        QTRY_COMPARE(liveState(ollamaA->processId()), 'T');
        QTRY_COMPARE(liveState(ollamaB->processId()), 'T');

        // An AI process started mid-compile is left alone.
        QProcess *late = startNamed(tree, QStringLiteral("ollama"));
        QVERIFY(late);
        QTRY_COMPARE(liveState(late->processId()), 'S');
        service.checkAndApplyAutoSuspend();
        QCOMPARE(service.suspendedPIDs(), expected);
        QTest::qWait(50);
        QCOMPARE(liveState(late->processId()), 'S');

        clang->kill();
        clang->waitForFinished();
        service.checkAndApplyAutoSuspend();
        QVERIFY(service.suspendedPIDs().isEmpty());
        QTRY_COMPARE(liveState(ollamaA->processId()), 'S');
        QTRY_COMPARE(liveState(ollamaB->processId()), 'S');

        // Holding, then the switch goes off: the next check thaws.
        QVERIFY(startNamed(tree, QStringLiteral("make")));
        service.checkAndApplyAutoSuspend();
        QCOMPARE(service.suspendedPIDs().size(), 3);
        QTRY_COMPARE(liveState(late->processId()), 'T');
        service.setCompileAutoSuspendEnabled(false);
        service.checkAndApplyAutoSuspend();
        QVERIFY(service.suspendedPIDs().isEmpty());
        QTRY_COMPARE(liveState(late->processId()), 'S');
    }

    // Above 88 °C the ollama processes there at that moment freeze; they stay frozen
    // until the CPU is down to 83 °C, then exactly those thaw. A reading that is missing
    // (the provider would only have an estimate) never starts a pause.
    void smartPauseHoldsWhileTheCpuIsHot()
    {
        if (machineBusy(false))
            QSKIP("a local AI server is running on this machine");
        FixtureTree tree;
        QProcess *ollamaA = startNamed(tree, QStringLiteral("ollama"));
        QProcess *ollamaB = startNamed(tree, QStringLiteral("ollama"));
        QVERIFY(ollamaA && ollamaB);
        const QList<int> both = sortedPids({ollamaA, ollamaB});

        Conditions c;
        LocalAIService service(smartPauseSources(c), LocalAIService::Polling::Manual);
        QSignalSpy active(&service, &LocalAIService::smartPauseActiveChanged);
        QSignalSpy lines(&service, &LocalAIService::logged);

        // No reading, or a cool or borderline one: nothing happens.
        for (std::optional<double> t : {std::optional<double>(), std::optional<double>(40.0), std::optional<double>(88.0)}) {
            c.temperature = t;
            service.applySmartPause();
            QVERIFY(!service.smartPauseActive());
        }
        QCOMPARE(active.count(), 0);
        QCOMPARE(lines.count(), 0);
        QVERIFY(liveState(ollamaA->processId()) != 'T');

        c.temperature = 91.0;
        service.applySmartPause();
        QVERIFY(service.smartPauseActive());
        QCOMPARE(active.count(), 1);
        QCOMPARE(service.smartPausedPIDs(), both);
        QVERIFY(service.suspendedPIDs().isEmpty());   // the compile guard's, untouched
        QTRY_COMPARE(liveState(ollamaA->processId()), 'T');
        QTRY_COMPARE(liveState(ollamaB->processId()), 'T');
        QCOMPARE(lines.count(), 1);
        QCOMPARE(lines[0][0].toString(), QStringLiteral("Smart Pause: CPU at 91 °C, pausing 2 local AI process(es)"));

        // One started during the pause is not part of it.
        QProcess *late = startNamed(tree, QStringLiteral("ollama"));
        QVERIFY(late);
        QTRY_COMPARE(liveState(late->processId()), 'S');

        // Inside the margin: 86 °C holds, and nothing is frozen anew.
        c.temperature = 86.0;
        service.applySmartPause();
        QVERIFY(service.smartPauseActive());
        QCOMPARE(service.smartPausedPIDs(), both);
        QTest::qWait(50);
        QCOMPARE(liveState(ollamaA->processId()), 'T');
        QCOMPARE(liveState(late->processId()), 'S');
        QCOMPARE(active.count(), 1);

        c.temperature = 82.0;
        service.applySmartPause();
        QVERIFY(!service.smartPauseActive());
        QVERIFY(service.smartPausedPIDs().isEmpty());
        QCOMPARE(active.count(), 2);
        QTRY_COMPARE(liveState(ollamaA->processId()), 'S');
        QTRY_COMPARE(liveState(ollamaB->processId()), 'S');
        QCOMPARE(lines.count(), 2);
        QCOMPARE(lines[1][0].toString(), QStringLiteral("Smart Pause: CPU at 82 °C, resuming 2 local AI process(es)"));

        // Hot again, but the figure is an estimate: nothing is frozen, whatever its value.
        c.temperature.reset();
        c.battery = 90.0;
        c.unplugged = true;
        service.applySmartPause();
        QVERIFY(!service.smartPauseActive());
        QTest::qWait(50);
        QVERIFY(liveState(ollamaA->processId()) != 'T');

        // Switch off: a 95 °C reading is ignored.
        c.enabled = false;
        c.temperature = 95.0;
        service.applySmartPause();
        QVERIFY(!service.smartPauseActive());
        QCOMPARE(lines.count(), 2);
    }

    // On battery power below 20 %: frozen; plugged back in: thawed. The charge counts only
    // off the mains, and only where there is a battery. The pass runs the step.
    void smartPauseHoldsOnALowBattery()
    {
        if (machineBusy(false))
            QSKIP("a local AI server is running on this machine");
        FixtureTree tree;
        QProcess *ollama = startNamed(tree, QStringLiteral("ollama"));
        QProcess *runner = startNamed(tree, QStringLiteral("llama-runner"));
        QVERIFY(ollama && runner);

        Conditions c;
        c.battery = 15.0;
        c.temperature = 50.0;
        LocalAISources sources = smartPauseSources(c);
        sources.searchPath = QStringList{tree.path("no-tools")};   // no docker: the pass runs nothing
        LocalAIService service(sources, LocalAIService::Polling::Manual);
        QSignalSpy lines(&service, &LocalAIService::logged);

        service.applySmartPause();   // 15 % but charging from the mains
        QVERIFY(!service.smartPauseActive());
        c.battery.reset();
        c.unplugged = true;          // a machine without a battery that says unplugged
        service.applySmartPause();
        QVERIFY(!service.smartPauseActive());
        c.battery = 20.0;
        service.applySmartPause();
        QVERIFY(!service.smartPauseActive());

        c.battery = 15.0;
        bool passed = false;
        QVERIFY(service.runPass([&] { passed = true; }));
        QTRY_VERIFY(passed);
        QVERIFY(service.smartPauseActive());
        QCOMPARE(service.smartPausedPIDs(), sortedPids({ollama, runner}));
        QTRY_COMPARE(liveState(ollama->processId()), 'T');
        QTRY_COMPARE(liveState(runner->processId()), 'T');
        QVERIFY(lines.count() >= 1);
        QCOMPARE(lines.last()[0].toString(),
                 QStringLiteral("Smart Pause: battery at 15 % on battery power, pausing 2 local AI process(es)"));

        c.unplugged = false;
        service.applySmartPause();
        QVERIFY(!service.smartPauseActive());
        QTRY_COMPARE(liveState(ollama->processId()), 'S');
        QTRY_COMPARE(liveState(runner->processId()), 'S');
        QCOMPARE(lines.last()[0].toString(),
                 QStringLiteral("Smart Pause: CPU at 50 °C, on mains power, resuming 2 local AI process(es)"));

        // Both causes at once are both named; the pause ends only when both are over.
        c.unplugged = true;
        c.temperature = 90.0;
        service.applySmartPause();
        QCOMPARE(lines.last()[0].toString(),
                 QStringLiteral("Smart Pause: CPU at 90 °C and battery at 15 % on battery power, pausing 2 local AI process(es)"));
        c.temperature = 70.0;
        service.applySmartPause();
        QVERIFY(service.smartPauseActive());
        c.battery = 25.0;
        service.applySmartPause();
        QVERIFY(!service.smartPauseActive());
        QTRY_COMPARE(liveState(ollama->processId()), 'S');
    }

    void smartPauseThawsWhenSwitchedOff()
    {
        if (machineBusy(false))
            QSKIP("a local AI server is running on this machine");
        FixtureTree tree;
        QProcess *ollamaA = startNamed(tree, QStringLiteral("ollama"));
        QProcess *ollamaB = startNamed(tree, QStringLiteral("ollama"));
        QVERIFY(ollamaA && ollamaB);

        Conditions c;
        c.temperature = 93.0;
        LocalAIService service(smartPauseSources(c), LocalAIService::Polling::Manual);
        QSignalSpy lines(&service, &LocalAIService::logged);
        service.applySmartPause();
        QVERIFY(service.smartPauseActive());
        QTRY_COMPARE(liveState(ollamaA->processId()), 'T');

        c.enabled = false;   // still hot
        service.applySmartPause();
        QVERIFY(!service.smartPauseActive());
        QTRY_COMPARE(liveState(ollamaA->processId()), 'S');
        QTRY_COMPARE(liveState(ollamaB->processId()), 'S');
        QCOMPARE(lines.last()[0].toString(), QStringLiteral("Smart Pause: switched off, resuming 2 local AI process(es)"));
    }

    // A process both protections froze runs again only once neither holds it, whichever
    // lets go first.
    void smartPauseAndCompileGuardKeepTheirOwnHolds()
    {
        if (machineBusy(true))
            QSKIP("a compiler or a local AI server is running on this machine");
        FixtureTree tree;
        QProcess *ollamaA = startNamed(tree, QStringLiteral("ollama"));
        QProcess *ollamaB = startNamed(tree, QStringLiteral("ollama"));
        QVERIFY(ollamaA && ollamaB);
        const QList<int> both = sortedPids({ollamaA, ollamaB});

        Conditions c;
        c.temperature = 60.0;
        LocalAIService service(smartPauseSources(c), LocalAIService::Polling::Manual);
        QSignalSpy lines(&service, &LocalAIService::logged);
        service.setCompileAutoSuspendEnabled(true);

        // The compile guard first, then the heat; the heat ends while the build goes on.
        QProcess *clang = startNamed(tree, QStringLiteral("clang"));
        QVERIFY(clang);
        service.checkAndApplyAutoSuspend();
        QCOMPARE(service.suspendedPIDs(), both);
        c.temperature = 91.0;
        service.applySmartPause();
        QCOMPARE(service.smartPausedPIDs(), both);
        QTRY_COMPARE(liveState(ollamaA->processId()), 'T');
        c.temperature = 80.0;
        service.applySmartPause();
        QVERIFY(!service.smartPauseActive());
        QCOMPARE(lines.last()[0].toString(),
                 QStringLiteral("Smart Pause: CPU at 80 °C, resuming 0 local AI process(es); 2 stay(s) held by the compile guard"));
        QTest::qWait(50);
        QCOMPARE(liveState(ollamaA->processId()), 'T');
        QCOMPARE(liveState(ollamaB->processId()), 'T');
        QCOMPARE(service.suspendedPIDs(), both);

        // Now the heat comes back and the build ends first: the pause keeps them frozen.
        c.temperature = 91.0;
        service.applySmartPause();
        QCOMPARE(service.smartPausedPIDs(), both);
        clang->kill();
        clang->waitForFinished();
        service.checkAndApplyAutoSuspend();
        QVERIFY(service.suspendedPIDs().isEmpty());
        QTest::qWait(50);
        QCOMPARE(liveState(ollamaA->processId()), 'T');
        QCOMPARE(liveState(ollamaB->processId()), 'T');

        c.temperature = 83.0;
        service.applySmartPause();
        QTRY_COMPARE(liveState(ollamaA->processId()), 'S');
        QTRY_COMPARE(liveState(ollamaB->processId()), 'S');
    }

    void compileGuardReportsAnUnreadableProcessList()
    {
        LocalAISources sources;
        sources.procRoot = "/nonexistent-proc";
        LocalAIService service(sources, LocalAIService::Polling::Manual);
        service.setCompileAutoSuspendEnabled(true);
        QSignalSpy lines(&service, &LocalAIService::logged);
        service.checkAndApplyAutoSuspend();
        QCOMPARE(lines.count(), 1);
        QVERIFY(lines[0][0].toString().startsWith(QStringLiteral("Failed to run pgrep: ")));
    }

    // On battery with the shield on: models ejected, databases marked and paused, the VM
    // stopped when asked; nothing on mains power or with the shield off.
    void batteryShield()
    {
        FixtureTree tree;
        const QString log = tree.path("calls.log");
        for (const char *tool : {"docker", "colima"}) {
            tree.write(QStringLiteral("bin/") + tool, "#!/bin/sh\necho \"" + QByteArray(tool) + " $*\" >> '" + log.toUtf8() + "'\n");
            QFile::setPermissions(tree.path(QStringLiteral("bin/") + tool), QFile::ReadOwner | QFile::ExeOwner);
        }
        bool unplugged = false;
        LocalAISources sources;
        sources.searchPath = QStringList{tree.path("bin")};
        sources.isUnplugged = [&unplugged] { return unplugged; };
        LocalAIService service(sources, LocalAIService::Polling::Manual);
        service.setVmAutoSleepEnabled(true);

        // Demo mode: rows change, no command runs.
        bool done = false;
        service.updateModels([&] { done = true; });
        QVERIFY(done);
        service.scanOrphanedCompanions();
        QSignalSpy scanned(&service, &LocalAIService::activeVectorDBsChanged);
        service.scanVectorDatabases();   // docker prints nothing: the sample pair
        QTRY_COMPARE(scanned.count(), 1);
        service.applyBatteryShieldMode();   // shield off
        service.setBatteryShieldEnabled(true);
        service.applyBatteryShieldMode();   // on mains
        QCOMPARE(service.activeVectorDBs()[0].status, QStringLiteral("Running"));
        QCOMPARE(service.activeModels().size(), 2);
        unplugged = true;
        service.applyBatteryShieldMode();
        QTRY_VERIFY(service.activeModels().isEmpty());
        for (const VectorDatabaseInfo &row : service.activeVectorDBs())
            QCOMPARE(row.status, QStringLiteral("Suspended (Battery Shield)"));
        QTest::qWait(100);
        QCOMPARE(readAll(log), QByteArray("docker ps --format {{.ID}}|{{.Names}}|{{.Ports}}\n"));

        // Live: pause each running container, stop the VM.
        QFile::remove(log);
        service.setDemoMode(false);
        service.scanVectorDatabases();
        QTRY_COMPARE(scanned.count(), 3);
        service.applyBatteryShieldMode();
        QTRY_COMPARE(readAll(log).count('\n'), 4);
        const QByteArray calls = readAll(log);
        QVERIFY(calls.contains("docker pause dc84e27f9b8c\n"));
        QVERIFY(calls.contains("docker pause 9ae815f212bc\n"));
        QVERIFY(calls.contains("colima stop\n"));

        // The VM switch alone does nothing automatically.
        QFile::remove(log);
        service.setBatteryShieldEnabled(false);
        service.applyBatteryShieldMode();
        QTest::qWait(100);
        QVERIFY(!QFileInfo::exists(log));
    }

    void cleanUpActions()
    {
        LocalAIService service({}, LocalAIService::Polling::Manual);
        service.scanOrphanedCompanions();
        QElapsedTimer timer;
        timer.start();
        bool purged = false;
        service.purgeOrphanedCompanions([&] { purged = true; });
        QCOMPARE(service.orphanedAICompanions().size(), 2);
        QTRY_VERIFY(purged);
        QVERIFY(timer.elapsed() >= 1400);
        QVERIFY(service.orphanedAICompanions().isEmpty());
        service.scanOrphanedCompanions();
        QCOMPARE(service.orphanedAICompanions().size(), 2);

        // Never pid 0 ("?"), init or ourselves, in either mode.
        service.setDemoMode(false);
        QSignalSpy lines(&service, &LocalAIService::logged);
        for (int pid : {0, 1, int(::getpid())}) {
            bool done = false;
            service.killProcessOnPort(pid, [&] { done = true; });
            QTRY_VERIFY(done);
        }
        QCOMPARE(lines.count(), 3);
        QCOMPARE(lines[2][0].toString(), QStringLiteral("Refusing to kill process %1").arg(::getpid()));
    }
};

QTEST_GUILESS_MAIN(TestProtections)
#include "tst_Protections.moc"
