#include "localai/LocalAIService.h"
#include "platform/ProcessTableReader.h"
#include "support/FixtureTree.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <memory>
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

    std::vector<std::unique_ptr<QProcess>> children;

    // A copy of sleep under another name: its comm and exe both carry that name.
    QProcess *startNamed(const FixtureTree &tree, const QString &name)
    {
        const QString copy = tree.path("progs/" + name);
        QDir().mkpath(tree.path("progs"));
        if (!QFileInfo::exists(copy) && !QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), copy))
            return nullptr;
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner);
        auto p = std::make_unique<QProcess>();
        p->start(copy, {QStringLiteral("60")});
        if (!p->waitForStarted())
            return nullptr;
        children.push_back(std::move(p));
        return children.back().get();
    }

private Q_SLOTS:
    void cleanup()
    {
        for (auto &p : children) {
            ::kill(static_cast<pid_t>(p->processId()), SIGCONT);
            p->kill();
            p->waitForFinished();
        }
        children.clear();
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
