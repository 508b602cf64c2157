#include "copilot/AIService.h"
#include "support/StdoutCapture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {
// Runs one answer to completion.
QString ask(const std::function<void(AIService::Answer)> &question)
{
    QString answer;
    bool answered = false;
    QEventLoop loop;
    question([&](const QString &text) {
        answer = text;
        answered = true;
        loop.quit();
    });
    if (!answered) {
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return answered ? answer : QStringLiteral("<no answer>");
}

AIServiceSources instant(std::optional<QStringList> searchPath = QStringList{})
{
    AIServiceSources sources;
    sources.searchPath = std::move(searchPath);
    sources.explainDelayMs = 0;
    sources.reportDelayMs = 0;
    sources.chatDelayMs = 0;
    return sources;
}
}

Q_DECLARE_METATYPE(CopilotTelemetry)

class TestAIService : public QObject
{
    Q_OBJECT

    QTemporaryDir bin;

    // A whatis that knows grep, prints the real "nothing appropriate" miss for everything
    // else, and keeps its arguments.
    void installFakeWhatis(const QByteArray &extra = {})
    {
        QFile script(bin.filePath(QStringLiteral("whatis")));
        QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write("#!/bin/sh\n"
                     "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args\"\n" + extra +
                     "case \"$1\" in\n"
                     "  grep) printf 'grep (1)             - print lines that match patterns\\n\\n' ;;\n"
                     "  latin1) printf 'caf\\351 (1) - a non-UTF-8 page\\n' ;;\n"
                     "  stdoutmiss) echo 'stdoutmiss: nothing appropriate.' ;;\n"
                     "  *) echo \"$1: nothing appropriate.\" >&2; exit 16 ;;\n"
                     "esac\n");
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

private Q_SLOTS:
    void picksTopicsAndFillsAnswers_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<CopilotTelemetry>("stats");
        QTest::addColumn<QString>("answer");
        const CopilotTelemetry calm{12.34, 40.6, 72.44, 50};
        QTest::newRow("hot") << "Why is my Mac so hot?" << calm
            << "Your machine is running cool at 72.4°C. There is no immediate risk of thermal throttling right now.";
        QTest::newRow("hot inside photo") << "photo export is slow" << calm
            << "Your machine is running cool at 72.4°C. There is no immediate risk of thermal throttling right now.";
        QTest::newRow("fans by lemma") << "my fans are loud" << CopilotTelemetry{0, 0, 91, 0}
            << "Your CPU package is currently running hot at 91.0°C. The system is under heavy load. I recommend checking the CPU tab and freezing the top process.";
        QTest::newRow("temperatures") << "Temperatures keep rising" << CopilotTelemetry{0, 0, 80, 0}
            << "Your machine is running cool at 80.0°C. There is no immediate risk of thermal throttling right now.";
        QTest::newRow("battery at 50") << "battery" << CopilotTelemetry{0, 0, 0, 50}
            << "Your battery health is excellent at 50%. No extreme drain detected at the moment.";
        QTest::newRow("battery at 49") << "battery" << CopilotTelemetry{0, 0, 0, 49}
            << "Your battery is at 49%. You are draining power. Freezing inactive apps using the snowflake icon in the CPU tab will significantly extend your remaining time.";
        QTest::newRow("drained") << "it drained overnight" << CopilotTelemetry{0, 0, 0, 80}
            << "Your battery health is excellent at 80%. No extreme drain detected at the moment.";
        QTest::newRow("lagging before network") << "the network is lagging" << CopilotTelemetry{0, 75, 0, 0}
            << "Memory pressure is low (75%) and CPU is optimal. If you're experiencing lag, it might be an issue isolated to a specific app.";
        QTest::newRow("memory high") << "Memory?" << CopilotTelemetry{0, 75.5, 0, 0}
            << "Memory pressure is high at 76%. Your system is likely swapping to disk, which causes lag. Try closing background apps or browser tabs.";
        QTest::newRow("privacy") << "what about privacy" << calm
            << "I am currently monitoring your active network connections. Check the Network tab to ensure no unwanted tracking domains are active.";
        QTest::newRow("networks") << "networks" << calm
            << "I am currently monitoring your active network connections. Check the Network tab to ensure no unwanted tracking domains are active.";
        QTest::newRow("general") << "hello" << calm
            << "I am analyzing your system locally with rules over live telemetry; no model and no network are involved. Your CPU is at 12.3% and Memory Pressure is 41%. How else can I help?";
        QTest::newRow("empty") << "" << CopilotTelemetry{}
            << "I am analyzing your system locally with rules over live telemetry; no model and no network are involved. Your CPU is at 0.0% and Memory Pressure is 0%. How else can I help?";
    }

    void picksTopicsAndFillsAnswers()
    {
        QFETCH(QString, query);
        QFETCH(CopilotTelemetry, stats);
        QFETCH(QString, answer);
        AIServiceSources sources = instant();
        int reads = 0;
        sources.telemetry = [&] {
            ++reads;
            return stats;
        };
        AIService ai(sources);
        QCOMPARE(ask([&](AIService::Answer done) { ai.chatWithSystem(query, done); }), answer);
        QCOMPARE(reads, 1);
    }

    void tokensAreLowerCaseLemmas()
    {
        QCOMPARE(AIService::tokens(QStringLiteral("My FANS, lagging; it's Draining!")),
                 (QStringList{"my", "fan", "lag", "it", "s", "drain"}));
    }

    void telemetryIsReadAfterThePause()
    {
        AIServiceSources sources = instant();
        sources.chatDelayMs = 200;
        double temperature = 50;
        sources.telemetry = [&] { return CopilotTelemetry{0, 0, temperature, 0}; };
        AIService ai(sources);
        QSignalSpy answered(&ai, &AIService::chatAnswered);
        QElapsedTimer elapsed;
        elapsed.start();
        ai.chatWithSystem(QStringLiteral("hot?"));
        temperature = 95;          // the figure of the moment the answer is built
        QVERIFY(answered.wait(5000));
        QVERIFY(elapsed.elapsed() >= 190);
        QCOMPARE(answered.at(0).at(0).toString(), QStringLiteral("hot?"));
        QVERIFY(answered.at(0).at(1).toString().contains(QStringLiteral("running hot at 95.0°C")));
    }

    void healthReportAndPrediction()
    {
        QCOMPARE(AIService::healthReport(85, 50, 15),
                 QStringLiteral("Based on local telemetry, your machine is operating hotter than usual. Memory usage is optimal. "
                                "Battery is low (15%). Connect to power soon to avoid degradation of your active sessions."
                                "\n\nLocal AI Recommendation: Keep ambient temperatures low to improve P-Core efficiency."));
        QCOMPARE(AIService::healthReport(80, 80.5, 20),
                 QStringLiteral("Based on local telemetry, your machine is operating within normal thermal parameters. "
                                "Memory pressure is high; consider closing unused browser tabs. Battery level is at 20%. "
                                "\n\nLocal AI Recommendation: Keep ambient temperatures low to improve P-Core efficiency."));
        // A machine without a battery is not told its battery is empty.
        const QString none = AIService::healthReport(40, 30, AIService::kNoBattery);
        QVERIFY(none.contains(QStringLiteral("Memory usage is optimal. No battery is reported; the machine runs on external power. ")));
        QVERIFY(!none.contains(QStringLiteral("Battery")));
        AIService ai(instant());
        QSignalSpy ready(&ai, &AIService::healthReportReady);
        ai.generateHealthReport(99, 85, 50, 15);
        QVERIFY(ready.wait(5000));
        QCOMPARE(ready.at(0).at(0).toString(), AIService::healthReport(85, 50, 15));

        QCOMPARE(AIService::predictThermalState(76, 81),
                 QStringLiteral("Thermal throttling predicted in 4 minutes. Initiating preemptive fan curve."));
        QCOMPARE(AIService::predictThermalState(75, 90),
                 QStringLiteral("Temperature stable, but expected to rise. Monitoring closely."));
        QCOMPARE(AIService::predictThermalState(90, 80),
                 QStringLiteral("Temperature stable, but expected to rise. Monitoring closely."));
        QCOMPARE(AIService::predictThermalState(90, 50), QStringLiteral("Thermals optimal. Passive cooling sufficient."));
    }

    void explainsFromTheManualThenTheTable()
    {
        installFakeWhatis();
        AIService ai(instant(QStringList{bin.path()}));
        const auto explain = [&](const QString &name) {
            return ask([&](AIService::Answer done) { ai.explainProcess(name, done); });
        };
        QCOMPARE(explain(QStringLiteral("GREP")),
                 QStringLiteral("Local AI (via man pages): grep (1)             - print lines that match patterns"));
        QCOMPARE(explain(QStringLiteral("Google Chrome")),
                 QStringLiteral("A web browser known for using isolated processes per tab."));
        QCOMPARE(explain(QStringLiteral("gnome-shell")).left(24), QStringLiteral("GNOME's desktop shell an"));
        QCOMPARE(explain(QStringLiteral("stdoutmiss")),
                 QStringLiteral("This process is named 'stdoutmiss'. It is likely a standard application or a background service."));
        QCOMPARE(explain(QStringLiteral("latin1")),
                 QStringLiteral("This process is named 'latin1'. It is likely a standard application or a background service."));
        QCOMPARE(explain(QStringLiteral("MyTool")),
                 QStringLiteral("This process is named 'MyTool'. It is likely a standard application or a background service."));

        // A login shell's name is not taken for an option.
        explain(QStringLiteral("-bash"));
        QFile args(bin.filePath(QStringLiteral("args")));
        QVERIFY(args.open(QIODevice::ReadOnly));
        QCOMPARE(args.readAll(), QByteArray("--\n-bash\n"));

        QSignalSpy explained(&ai, &AIService::processExplained);
        ai.explainProcess(QStringLiteral("docker"));
        QVERIFY(explained.wait(5000));
        QCOMPARE(explained.at(0).at(1).toString(), QStringLiteral("Runs containerized applications."));
    }

    void aMissingManualIndexFallsBackAndSaysSo()
    {
        AIService ai(instant(QStringList{}));
        StdoutCapture out;
        const QString answer = ask([&](AIService::Answer done) { ai.explainProcess(QStringLiteral("systemd"), done); });
        const QByteArray printed = out.text();
        QVERIFY(answer.startsWith(QStringLiteral("The first process of a Linux system")));
        QVERIFY2(printed.startsWith("whatis failed: "), printed.constData());
    }

    void aHangingManualIndexIsNotWaitedForEver()
    {
        installFakeWhatis("sleep 30\n");
        AIService ai(instant(QStringList{bin.path()}));
        QElapsedTimer elapsed;
        elapsed.start();
        StdoutCapture out;
        QCOMPARE(ask([&](AIService::Answer done) { ai.explainProcess(QStringLiteral("snapd"), done); }),
                 QStringLiteral("The snap daemon: it installs, updates and mounts snap packages."));
        QVERIFY(out.text().startsWith("whatis failed: "));
        QVERIFY(elapsed.elapsed() < 9000);
    }
};

QTEST_GUILESS_MAIN(TestAIService)
#include "tst_AIService.moc"
