// Who holds the GPU, on screen: the AI hardware page's list of processes by GPU memory
// with the Ollama runner's driver figure beside what Ollama's listing claims, and the
// AI processes card's GPU figure, over a fixture process table, a stand-in NVML list and
// a fake Ollama.
#include "localai/LocalAIService.h"
#include "processes/ProcessMonitor.h"
#include "support/AIScreens.h"
#include "support/FakeHttpServer.h"
#include "support/QmlPageHarness.h"
#include "support/ScreenFixture.h"

#include <QFile>
#include <QQuickItem>
#include <QTest>

namespace {
constexpr quint64 GiB = 1ull << 30;

// The fixture's table: an Ollama runner and its server, a Python job; their GPU figures
// come from `nvml`.
struct GpuScreens
{
    ScreenFixture fixture;
    std::optional<std::vector<NvmlProcessMemory>> nvml;
    std::unique_ptr<ProcessMonitor> monitor;

    void process(int pid, const QByteArray &comm, quint64 ticks, const QByteArray &exe)
    {
        fixture.writeProcess(pid, comm, ticks, 1000);
        const QString link = fixture.tree.path(QStringLiteral("proc/%1/exe").arg(pid));
        QFile::remove(link);
        QVERIFY(QFile::link(QString::fromLatin1(exe), link));
    }

    ProcessMonitor *start()
    {
        process(4100, "ollama", 10, "/usr/local/bin/ollama");
        process(4000, "ollama", 5, "/usr/local/bin/ollama");
        process(5200, "python3", 20, "/usr/bin/python3");
        ProcessSources sources;
        sources.procRoot = fixture.tree.root(QStringLiteral("proc"));
        sources.sysRoot = fixture.tree.root(QStringLiteral("sys"));
        sources.dataDirs = QStringList{fixture.tree.path(QStringLiteral("share"))};
        sources.nvmlProcesses = [this] { return nvml; };
        monitor = std::make_unique<ProcessMonitor>(ProcessMonitor::Figure{}, sources, ProcessMonitor::Polling::Manual);
        fixture.writeProcess(4100, "ollama", 300, 1000);
        fixture.writeProcess(5200, "python3", 120, 1000);
        monitor->updateProcesses();
        return monitor.get();
    }
};
}

class TestGpuMemoryScreens : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeHttpServer> ollama;
    std::unique_ptr<LocalAIService> localAI;

private Q_SLOTS:
    // The fake Ollama lists llama3 wholly and mixtral half on the GPU: 5137025024 +
    // 5200000000 bytes, 9.6 GB, by its own account.
    void init()
    {
        ollama = std::make_unique<FakeHttpServer>();
        ollama->reply(200, listing());
        localAI = std::make_unique<LocalAIService>(liveSources(ollama->url()), LocalAIService::Polling::Manual);
        localAI->setDemoMode(false);
        bool listed = false;
        localAI->updateModels([&listed] { listed = true; });
        QTRY_VERIFY_WITH_TIMEOUT(listed, 5000);
        QCOMPARE(localAI->activeModels().size(), 3);
    }
    void cleanup()
    {
        localAI.reset();
        ollama.reset();
    }

    // The runner holds far less than Ollama claims: the rows, largest first, and the
    // comparison tinted with a line saying which way they differ.
    void runnerBesideOllamaClaim()
    {
        GpuScreens screens;
        screens.nvml = std::vector<NvmlProcessMemory>{{4100, 5 * GiB}, {5200, 1536ull << 20}};
        screens.start();
        QmlServices::Set set = screens.fixture.services();
        set.processMonitor = screens.monitor.get();
        set.localAI = localAI.get();
        QmlPageHarness harness(set);
        QQuickItem *page = harness.load(QStringLiteral("AIHardwarePage"));
        QVERIFY(page);

        QCOMPARE(texts(page, "gpuProcessRow", "gpuProcessName"), (QStringList{"ollama", "python3"}));
        QCOMPARE(texts(page, "gpuProcessRow", "gpuProcessMemory"), (QStringList{"5.0 GB", "1.5 GB"}));
        QVERIFY(QmlPageHarness::shown(page, "gpuProcessesEmpty").isEmpty());
        QCOMPARE(QmlPageHarness::text(page, "ollamaFigures"),
                 QStringLiteral("Ollama runner (driver) 5.0 GB · Ollama says 9.6 GB"));
        QCOMPARE(QmlPageHarness::shown(page, "ollamaDisagreement").size(), 1);
        QVERIFY2(QmlPageHarness::text(page, "ollamaDisagreement").contains(QStringLiteral("4.6 GB less")),
                 qPrintable(QmlPageHarness::text(page, "ollamaDisagreement")));

        // The runner's row on the AI processes card says what it holds; the server's does not.
        QQuickItem *card = harness.load(QStringLiteral("AIProcessesCard"), {}, 420);
        QVERIFY(card);
        const QStringList values = texts(card, "aiProcessRow", "processValue");
        QVERIFY2(values.filter(QStringLiteral("5.0 GB GPU")).size() == 1, qPrintable(values.join(" | ")));
        QCOMPARE(values.filter(QStringLiteral("GPU")).size(), 2);   // the runner and python3
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

    // Within the runtime's own share the two agree: no tint, no warning line. Then the
    // runner grows past it and the warning appears on the same page.
    void agreementWithinTheMargin()
    {
        GpuScreens screens;
        screens.nvml = std::vector<NvmlProcessMemory>{{4100, 10337025024ull + (400ull << 20)}};
        screens.start();
        QmlServices::Set set = screens.fixture.services();
        set.processMonitor = screens.monitor.get();
        set.localAI = localAI.get();
        QmlPageHarness harness(set);
        QQuickItem *page = harness.load(QStringLiteral("AIHardwarePage"));
        QVERIFY(page);
        QCOMPARE(QmlPageHarness::shown(page, "ollamaComparison").size(), 1);
        QVERIFY(QmlPageHarness::shown(page, "ollamaDisagreement").isEmpty());

        screens.nvml = std::vector<NvmlProcessMemory>{{4100, 10337025024ull + 3 * GiB}};
        screens.monitor->updateProcesses();
        QTRY_COMPARE(QmlPageHarness::shown(page, "ollamaDisagreement").size(), 1);
        QVERIFY(QmlPageHarness::text(page, "ollamaDisagreement").contains(QStringLiteral("3.0 GB more")));
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

    // No driver gives per-process figures: the card says so, shows no zeros and makes no
    // comparison it cannot back.
    void saysSoWithoutDriverFigures()
    {
        GpuScreens screens;
        screens.nvml = std::nullopt;
        screens.start();
        QmlServices::Set set = screens.fixture.services();
        set.processMonitor = screens.monitor.get();
        set.localAI = localAI.get();
        QmlPageHarness harness(set);
        QQuickItem *page = harness.load(QStringLiteral("AIHardwarePage"));
        QVERIFY(page);
        QVERIFY(QmlPageHarness::shown(page, "gpuProcessRow").isEmpty());
        QVERIFY2(QmlPageHarness::text(page, "gpuProcessesEmpty").contains(QStringLiteral("no per-process memory figures")),
                 qPrintable(QmlPageHarness::text(page, "gpuProcessesEmpty")));
        QVERIFY(QmlPageHarness::shown(page, "ollamaComparison").isEmpty());
        QVERIFY(QmlPageHarness::shown(page, "gpuProcessSample").isEmpty());

        // With the sandbox on, a sample row, badged, beside the same plain statement.
        localAI->setDemoMode(true);
        QTRY_COMPARE(QmlPageHarness::shown(page, "gpuProcessSample").size(), 1);
        QCOMPARE(QmlPageHarness::shown(page, "gpuProcessesEmpty").size(), 1);
        QVERIFY(QmlPageHarness::shown(page, "gpuProcessRow").isEmpty());
        localAI->setDemoMode(false);
        QTRY_VERIFY(QmlPageHarness::shown(page, "gpuProcessSample").isEmpty());

        // NVML answering "nobody" is different: the GPU is free.
        screens.nvml = std::vector<NvmlProcessMemory>{};
        screens.monitor->updateProcesses();
        QTRY_COMPARE(QmlPageHarness::text(page, "gpuProcessesEmpty"), QStringLiteral("No process holds GPU memory now."));
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }
};

QTEST_MAIN(TestGpuMemoryScreens)
#include "tst_GpuMemoryScreens.moc"
