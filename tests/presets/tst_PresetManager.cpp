#include "presets/PresetManager.h"
#include "support/FixtureTree.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// logind's Inhibit on a private bus. Each inhibitor is a pipe whose write end goes to
// the caller: while any copy of it is open the read end sees no hang-up, which is how
// logind itself tells a live inhibitor.
class FakeLogind : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    ~FakeLogind() override
    {
        for (int fd : readEnds)
            ::close(fd);
    }
    QList<QStringList> calls;
    QList<int> readEnds;

    int live() const
    {
        int count = 0;
        for (int fd : readEnds) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 0) == 0)
                ++count;
        }
        return count;
    }

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why, const QString &mode)
    {
        calls.append({what, who, why, mode});
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return {};
        readEnds.append(fds[0]);
        QDBusUnixFileDescriptor handed(fds[1]);   // keeps a copy of its own
        ::close(fds[1]);
        return handed;
    }
};

class FakeProfiles : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "net.hadess.PowerProfiles")
    Q_PROPERTY(QString ActiveProfile READ activeProfile WRITE setActiveProfile)

public:
    QString activeProfile() const { return m_profile; }
    void setActiveProfile(const QString &profile) { m_profile = profile; writes.append(profile); }
    QStringList writes;

private:
    QString m_profile = QStringLiteral("balanced");
};

class TestPresetManager : public QObject
{
    Q_OBJECT

    PrivateBus bus;
    QString address;
    int connections = 0;
    std::unique_ptr<FixtureTree> tree;

    QDBusConnection connect(const QString &role)
    {
        return QDBusConnection::connectToBus(address, QStringLiteral("%1-%2").arg(role).arg(++connections));
    }

    // An engine with a fake terminal emulator and no AI processes; `login` and `profiles`
    // are the buses its daemons answer on.
    PresetSources sources(std::optional<QDBusConnection> login = {}, std::optional<QDBusConnection> profiles = {})
    {
        PresetSources s;
        s.loginBus = login;
        s.powerProfilesBus = profiles;
        s.procRoot = tree->root("proc");
        s.sysRoot = tree->root("sys");
        s.terminalSearchPath = QStringList{tree->path("bin")};
        s.preferredTerminal = QString();
        return s;
    }

    static void apply(PresetManager &presets, PerformancePreset preset)
    {
        QSignalSpy applied(&presets, &PresetManager::presetApplied);
        presets.applyPreset(preset);
        if (applied.isEmpty())
            QVERIFY(applied.wait(5000));
        QVERIFY(!presets.isExecuting());
    }

    QStringList terminalArguments()
    {
        QFile args(tree->path("bin/xterm.args"));
        if (!args.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(args.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(bus.start(), qPrintable(bus.error()));
        address = bus.address();
    }
    void cleanupTestCase()
    {
        bus.stop();
    }
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        tree->mkdir("proc");
        tree->mkdir("sys");
        // A terminal emulator that writes down how it was started, one argument a line.
        tree->write("bin/xterm", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args.part\" && mv \"$0.args.part\" \"$0.args\"\n");
        QFile::setPermissions(tree->path("bin/xterm"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void cleanup() { tree.reset(); }

    void startsIdleOnVanilla()
    {
        PresetManager presets(sources());
        QCOMPARE(presets.activePreset(), PerformancePreset(PerformancePreset::VanillaMac));
        QCOMPARE(presets.currentStatus(), QStringLiteral("Idle"));
        QVERIFY(!presets.isExecuting());
        QCOMPARE(presets.batteryStatus(), QStringLiteral("100%"));   // no battery here
    }

    void compileMaxThenVanilla()
    {
        QDBusConnection server = connect(QStringLiteral("logind"));
        FakeLogind logind;
        QVERIFY(server.registerObject(QStringLiteral("/org/freedesktop/login1"), &logind, QDBusConnection::ExportAllSlots));
        QVERIFY(server.registerService(QStringLiteral("org.freedesktop.login1")));

        PresetManager presets(sources(connect(QStringLiteral("client"))));
        QStringList statuses;
        QObject::connect(&presets, &PresetManager::currentStatusChanged, [&] { statuses << presets.currentStatus(); });
        apply(presets, PerformancePreset::CompileMax);
        QCOMPARE(statuses, (QStringList{"Initializing Compile Max...", "Initializing Compile Max mode...",
                                        "Compile Max active — sleep prevented. Opening developer advisory..."}));
        QCOMPARE(logind.calls, (QList<QStringList>{{"idle:sleep", "Quillmoor", "Quillmoor: Compile Max active", "block"}}));
        QTRY_COMPARE(logind.live(), 1);
        QVERIFY(presets.sleepAssertionID() != 0);

        // The developer advisory went to the terminal emulator, commands and all.
        QTRY_VERIFY(!terminalArguments().isEmpty());
        const QStringList args = terminalArguments();
        QCOMPARE(args.mid(0, 3), (QStringList{"-e", "sh", "-c"}));
        QCOMPARE(args.value(3), PresetManager::shellText(PresetManager::developerAdvisoryLines())
                                    + QStringLiteral("; exec \"${SHELL:-/bin/sh}\""));

        apply(presets, PerformancePreset::VanillaMac);
        QTRY_COMPARE(logind.live(), 0);
        QCOMPARE(presets.sleepAssertionID(), 0u);
        QCOMPARE(presets.currentStatus(), QStringLiteral("Vanilla Mac — all overrides released, macOS defaults restored"));
        server.unregisterService(QStringLiteral("org.freedesktop.login1"));
    }

    void localTrainingTwiceHoldsOne()
    {
        QDBusConnection server = connect(QStringLiteral("logind"));
        FakeLogind logind;
        QVERIFY(server.registerObject(QStringLiteral("/org/freedesktop/login1"), &logind, QDBusConnection::ExportAllSlots));
        QVERIFY(server.registerService(QStringLiteral("org.freedesktop.login1")));

        PresetManager presets(sources(connect(QStringLiteral("client"))));
        QSignalSpy applied(&presets, &PresetManager::presetApplied);
        presets.applyPreset(PerformancePreset::LocalTraining);
        presets.applyPreset(QStringLiteral("Local Training"));   // asked for while the first waits
        presets.applyPreset(QStringLiteral("local training"));   // not a raw value: ignored
        QTRY_COMPARE(applied.count(), 2);
        QVERIFY(!presets.isExecuting());
        QCOMPARE(logind.calls.size(), 2);
        QCOMPARE(logind.calls[0][2], QStringLiteral("Quillmoor: Local Training Mode active"));
        QTRY_COMPARE(logind.live(), 1);
        QCOMPARE(presets.currentStatus(), QStringLiteral("Local Training active — system will not sleep during builds"));

        // Eco Dev leaves it held; with no AI tool running there is nothing to advise.
        apply(presets, PerformancePreset::EcoDev);
        QCOMPARE(presets.activePreset(), PerformancePreset(PerformancePreset::EcoDev));
        QCOMPARE(presets.currentStatus(), QStringLiteral("No active AI daemons detected"));
        QCOMPARE(logind.live(), 1);
        QVERIFY(terminalArguments().isEmpty());

        // Game Mode releases it and takes none.
        apply(presets, PerformancePreset::GameMode);
        QTRY_COMPARE(logind.live(), 0);
        QCOMPARE(logind.calls.size(), 2);
        server.unregisterService(QStringLiteral("org.freedesktop.login1"));
    }

    void withoutLogindTheAssertionIsUnavailable()
    {
        PresetManager offline(sources());
        apply(offline, PerformancePreset::LocalTraining);
        QCOMPARE(offline.currentStatus(), QStringLiteral("Local Training active (sleep assertion unavailable)"));
        QCOMPARE(offline.sleepAssertionID(), 0u);

        // A bus where nobody answers for logind: the same.
        PresetManager unanswered(sources(connect(QStringLiteral("client"))));
        apply(unanswered, PerformancePreset::LocalTraining);
        QCOMPARE(unanswered.currentStatus(), QStringLiteral("Local Training active (sleep assertion unavailable)"));
        // Creative Max shows its text regardless.
        apply(unanswered, PerformancePreset::CreativeMax);
        QCOMPARE(unanswered.currentStatus(), QStringLiteral("Creative Max active — VRAM flushed, sleep assertion active"));
    }

    void profilesAndMemoryPurge()
    {
        QDBusConnection server = connect(QStringLiteral("ppd"));
        FakeProfiles daemon;
        QVERIFY(server.registerObject(QStringLiteral("/net/hadess/PowerProfiles"), &daemon, QDBusConnection::ExportAllProperties));
        QVERIFY(server.registerService(QStringLiteral("net.hadess.PowerProfiles")));

        PresetSources s = sources({}, connect(QStringLiteral("client")));
        int purges = 0;
        s.purgeMemory = [&purges] { ++purges; };
        PresetManager presets(s);
        QTest::qWait(200);   // the daemon is probed at creation

        apply(presets, PerformancePreset::InferenceMax);
        QCOMPARE(purges, 1);
        QCOMPARE(presets.currentStatus(), QStringLiteral("Inference Max active — memory pressure applied"));
        QVERIFY(daemon.writes.isEmpty());
        apply(presets, PerformancePreset::GameMode);
        QTRY_COMPARE(daemon.activeProfile(), QStringLiteral("performance"));
        QTest::qWait(50);   // the engine has heard the switch back
        // Back to back: Creative Max comes while Eco Dev's switch is still on its way, so
        // the profile last heard of (performance) is not what the daemon will have.
        presets.applyPreset(PerformancePreset::EcoDev);
        apply(presets, PerformancePreset::CreativeMax);
        QCOMPARE(purges, 2);
        QTRY_COMPARE(daemon.writes.size(), 3);
        QTest::qWait(50);
        QCOMPARE(daemon.activeProfile(), QStringLiteral("performance"));
        apply(presets, PerformancePreset::VanillaMac);
        QTRY_COMPARE(daemon.activeProfile(), QStringLiteral("balanced"));   // as before the first preset
        QCOMPARE(daemon.writes, (QStringList{"performance", "power-saver", "performance", "balanced"}));
        server.unregisterService(QStringLiteral("net.hadess.PowerProfiles"));
    }

    void advisoryTexts()
    {
        QCOMPARE(PresetManager::shellText(PresetManager::developerAdvisoryLines()),
                 QStringLiteral("echo '--- Quillmoor Compile Max Developer Advisory ---' && echo '' && "
                                "echo 'PAUSE Docker, AI & Database Daemons to free CPU execution units:' && "
                                "echo '  pgrep -f \"ollama|llama|python|localai|postgres|mysql|redis-server|docker|colima\" | xargs kill -STOP' && "
                                "echo '' && echo 'RESUME when done:' && "
                                "echo '  pgrep -f \"ollama|llama|python|localai|postgres|mysql|redis-server|docker|colima\" | xargs kill -CONT'"));
        QCOMPARE(PresetManager::shellText(PresetManager::creativeAdvisoryLines()),
                 QStringLiteral("echo '--- Quillmoor Creative Max Advisor ---' && echo '' && "
                                "echo 'PAUSE backend compilers and Docker engines to free GPU/CPU execution units:' && "
                                "echo '  pgrep -f \"ollama|llama|python|localai|postgres|mysql|redis-server|docker|colima|swiftc|clang|rustc\" | xargs kill -STOP' && "
                                "echo '' && echo 'RESUME when done:' && "
                                "echo '  pgrep -f \"ollama|llama|python|localai|postgres|mysql|redis-server|docker|colima|swiftc|clang|rustc\" | xargs kill -CONT'"));
        QCOMPARE(PresetManager::shellText(PresetManager::gamerAdvisoryLines()),
                 QStringLiteral("echo '--- Quillmoor Game Mode Advisor ---' && echo '' && "
                                "echo 'PAUSE dev tools, databases, and AI servers to maximize gaming FPS:' && "
                                "echo '  pgrep -f \"ollama|llama|python|localai|postgres|mysql|redis-server|docker|colima|swiftc|clang|rustc|cargo|go|javac|node|bun\" | xargs kill -STOP' && "
                                "echo '' && echo 'RESUME when done:' && "
                                "echo '  pgrep -f \"ollama|llama|python|localai|postgres|mysql|redis-server|docker|colima|swiftc|clang|rustc|cargo|go|javac|node|bun\" | xargs kill -CONT'"));
        QCOMPARE(PresetManager::ecoDevShellText({"ollama", "llama", "lm studio"}),
                 QStringLiteral("echo '--- Quillmoor Eco Dev Advisory ---' && echo '' && "
                                "echo 'PAUSE AI processes (ollama|llama|lm studio):' && "
                                "echo '  pgrep -f \"ollama|llama|lm studio\" | xargs kill -STOP' && "
                                "echo '' && echo 'RESUME later:' && "
                                "echo '  pgrep -f \"ollama|llama|lm studio\" | xargs kill -CONT'"));
        // The text runs as is in a shell: a quote in a line must not end the echo early.
        QCOMPARE(PresetManager::shellText({"it's"}), QStringLiteral("echo 'it'\\''s'"));
        QProcess sh;
        sh.start(QStringLiteral("sh"), {QStringLiteral("-c"), PresetManager::ecoDevShellText({"ollama"})});
        QVERIFY(sh.waitForFinished());
        QCOMPARE(QString::fromUtf8(sh.readAllStandardOutput()).split(u'\n').mid(0, 7), PresetManager::ecoDevAdvisoryLines({"ollama"}));
    }

    void keywordMatching()
    {
        QCOMPARE(PresetManager::matchAIKeywords({"ollama", "lm studio"}), (QStringList{"ollama", "llama", "lm studio"}));
        QCOMPARE(PresetManager::matchAIKeywords({"python3.11"}), (QStringList{"python3", "python"}));
        QCOMPARE(PresetManager::matchAIKeywords({"ipython"}), QStringList{"python"});
        QCOMPARE(PresetManager::matchAIKeywords({"bash", "code"}), QStringList{});
    }

    void detectsOnlyThisUsersProcesses()
    {
        tree->write("proc/100/stat", "100 (ollama) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 100 0 0\n");
        PresetSources mine = sources();
        mine.uid = static_cast<unsigned>(::getuid());
        QCOMPARE(PresetManager(mine).detectRunningAIProcessNames(), (QStringList{"ollama", "llama"}));
        PresetSources someoneElse = sources();
        someoneElse.uid = static_cast<unsigned>(::getuid()) + 1;
        QCOMPARE(PresetManager(someoneElse).detectRunningAIProcessNames(), QStringList{});
    }

    void ecoDevWithRealProcesses()
    {
        // Copies of sleep under the names the tools run as.
        const QString ollama = tree->path("bin/ollama");
        const QString studio = tree->path("bin/LM Studio");
        QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), ollama));
        QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), studio));
        QProcess first, second;
        first.start(ollama, {QStringLiteral("30")});
        second.start(studio, {QStringLiteral("30")});
        QVERIFY(first.waitForStarted());
        QVERIFY(second.waitForStarted());

        PresetSources live = sources();
        live.procRoot = "/proc";
        PresetManager presets(live);
        // Other tools of this user (a Python-based harness, say) may follow in the list.
        QTRY_COMPARE(presets.detectRunningAIProcessNames().mid(0, 3), (QStringList{"ollama", "llama", "lm studio"}));
        apply(presets, PerformancePreset::EcoDev);
        QVERIFY2(presets.currentStatus().startsWith(QStringLiteral("Found: ollama, llama, lm studio")), qPrintable(presets.currentStatus()));
        QVERIFY(presets.currentStatus().endsWith(QStringLiteral(" — opening Terminal advisory...")));
        QTRY_VERIFY(!terminalArguments().isEmpty());
        QVERIFY(terminalArguments().value(3).startsWith(QStringLiteral("echo '--- Quillmoor Eco Dev Advisory ---'")));
        first.kill();
        second.kill();
        first.waitForFinished();
        second.waitForFinished();
    }

    void noTerminalAsksForAWindow()
    {
        PresetSources s = sources();
        s.terminalSearchPath = QStringList{};
        PresetManager presets(s);
        QSignalSpy window(&presets, &PresetManager::advisoryNeedsWindow);
        presets.openDeveloperAdvisory();
        QCOMPARE(window.count(), 1);
        QCOMPARE(window.first().first().toStringList(), PresetManager::developerAdvisoryLines());
        presets.openTerminalAdvisory({});   // nothing detected: nothing shown
        QCOMPARE(window.count(), 1);
    }

    void batteryText()
    {
        PresetManager none(sources());
        QCOMPARE(none.batteryStatus(), QStringLiteral("100%"));
        tree->write("sys/class/power_supply/BAT0/type", "Battery\n");
        tree->write("sys/class/power_supply/BAT0/capacity", "87\n");
        none.updateBatteryStatus();
        QCOMPARE(none.batteryStatus(), QStringLiteral("87%"));
        tree->remove("sys/class/power_supply/BAT0/capacity");
        tree->write("sys/class/power_supply/BAT0/energy_now", "30000000\n");
        tree->write("sys/class/power_supply/BAT0/energy_full", "40000000\n");
        PresetManager energy(sources());
        QCOMPARE(energy.batteryStatus(), QStringLiteral("75%"));
        tree->remove("sys/class/power_supply/BAT0/energy_now");
        energy.updateBatteryStatus();
        QCOMPARE(energy.batteryStatus(), QStringLiteral("100%"));
    }
};

QTEST_GUILESS_MAIN(TestPresetManager)
#include "tst_PresetManager.moc"
