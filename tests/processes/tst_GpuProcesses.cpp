// The process table joined with what the GPU drivers say each process holds: NVML's list
// through the callback the app hands in, and DRM client records from a fixture /proc.
#include "processes/ProcessMonitor.h"
#include "support/FixtureTree.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {
constexpr qint64 GiB = 1ll << 30;

struct GpuMachine
{
    FixtureTree tree;
    std::optional<std::vector<NvmlProcessMemory>> nvml;

    void process(int pid, const QByteArray &comm, quint64 ticks, const QByteArray &exe = {})
    {
        tree.write(QStringLiteral("proc/%1/stat").arg(pid),
                   QByteArray::number(pid) + " (" + comm + ") S 1 1 1 0 -1 0 0 0 0 0 " + QByteArray::number(ticks)
                       + " 0 0 0 20 0 1 0 100 0 " + QByteArray::number(pid) + " 0\n");
        if (!exe.isEmpty())
            QVERIFY(QFile::link(QString::fromLatin1(exe), tree.path(QStringLiteral("proc/%1/exe").arg(pid))));
    }
    void drmClient(int pid, int fd, int clientId, quint64 vramKiB)
    {
        tree.mkdir(QStringLiteral("proc/%1/fd").arg(pid));
        QVERIFY(QFile::link(QStringLiteral("/dev/dri/renderD128"), tree.path(QStringLiteral("proc/%1/fd/%2").arg(pid).arg(fd))));
        tree.write(QStringLiteral("proc/%1/fdinfo/%2").arg(pid).arg(fd),
                   "drm-driver:\tamdgpu\ndrm-pdev:\t0000:03:00.0\ndrm-client-id:\t" + QByteArray::number(clientId)
                       + "\ndrm-memory-vram:\t" + QByteArray::number(vramKiB) + " KiB\ndrm-memory-gtt:\t2048 KiB\n"
                       + "drm-engine-gfx:\t100 ns\n");
    }

    std::unique_ptr<ProcessMonitor> monitor(bool withNvml = true)
    {
        ProcessSources sources;
        sources.procRoot = tree.root(QStringLiteral("proc"));
        sources.sysRoot = tree.root(QStringLiteral("sys"));
        sources.dataDirs = QStringList{tree.path(QStringLiteral("share"))};
        if (withNvml)
            sources.nvmlProcesses = [this] { return nvml; };
        auto monitor = std::make_unique<ProcessMonitor>(ProcessMonitor::Figure{}, sources, ProcessMonitor::Polling::Manual);
        monitor->watchGpu(true);   // as a screen showing the GPU's holders does
        return monitor;
    }
};

const ProcessInfoData *row(const QList<ProcessInfoData> &rows, int pid)
{
    for (const ProcessInfoData &r : rows)
        if (r.id == pid)
            return &r;
    return nullptr;
}

QList<int> ids(const QList<ProcessInfoData> &rows)
{
    QList<int> out;
    for (const ProcessInfoData &r : rows)
        out << r.id;
    return out;
}
}

class TestGpuProcesses : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // One machine with every kind of holder: the list holds them largest first with their
    // paths, unknown figures last; rows of the busy table carry the figure; a pid NVML
    // lists that is not in this table (another container's) is left out.
    void joinsDriversWithTheTable()
    {
        GpuMachine m;
        m.process(10, "ollama", 500, "/usr/local/bin/ollama");      // the runner, busy
        m.process(11, "ollama", 400, "/usr/local/bin/ollama");      // ollama serve: no GPU
        m.process(20, "python3", 1, "/usr/bin/python3.11");         // idle, holds VRAM via amdgpu
        m.process(30, "firefox", 2, "/usr/lib/firefox/firefox");    // NVML lists it, no figure
        for (int pid = 100; pid < 110; ++pid)                        // busier than python3
            m.process(pid, "cc1plus", 300);
        m.drmClient(20, 5, 3, 3 * 1024 * 1024);
        m.drmClient(20, 8, 3, 3 * 1024 * 1024);   // the same client again (a dup)
        m.nvml = std::vector<NvmlProcessMemory>{{10, quint64(5 * GiB)}, {30, std::nullopt}, {99999, quint64(GiB)}};

        auto monitor = m.monitor();
        QSignalSpy changed(monitor.get(), &ProcessMonitor::gpuProcessesChanged);
        // Ticks move between samples, so the busy rows are the busy processes.
        monitor->updateProcesses();
        m.process(10, "ollama", 900);
        m.process(11, "ollama", 600);
        for (int pid = 100; pid < 110; ++pid)
            m.process(pid, "cc1plus", 400);
        monitor->updateProcesses();

        QVERIFY(monitor->gpuFiguresAvailable());
        QVERIFY(changed.count() >= 1);
        const QList<ProcessInfoData> gpu = monitor->gpuProcesses();
        QCOMPARE(ids(gpu), (QList<int>{10, 20, 30}));
        QCOMPARE(gpu[0].name, QStringLiteral("ollama"));
        QCOMPARE(gpu[0].fullPath, QStringLiteral("/usr/local/bin/ollama"));
        QCOMPARE(gpu[0].gpuMemoryBytes, 5 * GiB);
        QVERIFY(gpu[0].gpuMemoryReported);
        QCOMPARE(gpu[1].name, QStringLiteral("python3.11"));
        QCOMPARE(gpu[1].gpuMemoryBytes, 3 * GiB);   // once, though two descriptors
        QVERIFY(gpu[2].usesGpu);
        QVERIFY2(!gpu[2].gpuMemoryReported, "unknown stays unknown, not zero");
        QCOMPARE(monitor->ollamaGpuMemoryBytes(), 5 * GiB);
        QVERIFY(monitor->ollamaGpuMemoryReported());

        // The busy table: the runner's row carries its figure, ollama serve's says none,
        // and python3, not busy enough to be shown, is listed above all the same.
        const QList<ProcessInfoData> top = monitor->topProcesses();
        const ProcessInfoData *runner = row(top, 10);
        QVERIFY(runner);
        QVERIFY(runner->usesGpu && runner->gpuMemoryReported);
        QCOMPARE(runner->gpuMemoryBytes, 5 * GiB);
        const ProcessInfoData *serve = row(top, 11);
        QVERIFY(serve);
        QVERIFY(!serve->usesGpu && !serve->gpuMemoryReported);
        QCOMPARE(serve->gpuMemoryBytes, 0);
        QVERIFY(!row(top, 20));

        // The runner exits: it leaves the list, and so does Ollama's driver figure.
        m.nvml = std::vector<NvmlProcessMemory>{{30, std::nullopt}};
        QDir(m.tree.path(QStringLiteral("proc/10"))).removeRecursively();
        monitor->updateProcesses();
        QCOMPARE(ids(monitor->gpuProcesses()), (QList<int>{20, 30}));
        QVERIFY(!monitor->ollamaGpuMemoryReported());
        QCOMPARE(monitor->ollamaGpuMemoryBytes(), 0);

        // An older Ollama's runner binary counts as the runner too, beside the new one.
        m.process(12, "ollama_llama_se", 50, "/usr/lib/ollama/runners/cuda_v12/ollama_llama_server");
        m.process(13, "ollama", 50, "/usr/local/bin/ollama");
        m.nvml = std::vector<NvmlProcessMemory>{{12, quint64(2 * GiB)}, {13, quint64(GiB)}};
        monitor->updateProcesses();
        QCOMPARE(monitor->ollamaGpuMemoryBytes(), 3 * GiB);
    }

    // The DRM records are read only while a screen watches: unwatched, a process holding
    // VRAM through amdgpu is not listed; the first watcher is answered from the last
    // sample at once; with the last one gone the pass stops again.
    void drmClientsReadOnlyWhileWatched()
    {
        GpuMachine m;
        m.process(20, "python3", 1, "/usr/bin/python3.11");
        m.drmClient(20, 5, 3, 3 * 1024 * 1024);
        auto monitor = m.monitor(false);
        monitor->watchGpu(false);   // nobody shows the GPU's holders
        QCOMPARE(monitor->gpuWatchers(), 0);
        monitor->updateProcesses();
        m.process(20, "python3", 40);
        monitor->updateProcesses();
        QVERIFY(monitor->gpuProcesses().isEmpty());
        QVERIFY(!monitor->gpuFiguresAvailable());

        QSignalSpy changed(monitor.get(), &ProcessMonitor::gpuProcessesChanged);
        monitor->watchGpu(true);
        QCOMPARE(changed.count(), 1);   // without waiting for a sample
        QCOMPARE(ids(monitor->gpuProcesses()), QList<int>{20});
        QCOMPARE(monitor->gpuProcesses().first().gpuMemoryBytes, 3 * GiB);
        QCOMPARE(monitor->gpuProcesses().first().fullPath, QStringLiteral("/usr/bin/python3.11"));
        monitor->watchGpu(true);        // a second screen: nothing read again, nothing changed
        QCOMPARE(changed.count(), 1);
        monitor->watchGpu(false);
        m.process(20, "python3", 80);
        monitor->updateProcesses();
        QCOMPARE(ids(monitor->gpuProcesses()), QList<int>{20});   // one screen still watches

        monitor->watchGpu(false);
        monitor->updateProcesses();
        QVERIFY(monitor->gpuProcesses().isEmpty());
        QCOMPARE(monitor->gpuWatchers(), 0);
        monitor->watchGpu(false);       // more ends than starts never goes below nobody
        QCOMPARE(monitor->gpuWatchers(), 0);
    }

    // No NVIDIA library and no readable DRM client: figures are unavailable, which the
    // screen must tell apart from "nobody holds the GPU".
    void noDriverFiguresIsNotAnEmptyGpu()
    {
        GpuMachine m;
        m.process(10, "ollama", 5, "/usr/local/bin/ollama");
        auto bare = m.monitor(false);
        bare->updateProcesses();
        QVERIFY(!bare->gpuFiguresAvailable());
        QVERIFY(bare->gpuProcesses().isEmpty());

        // NVML loaded but unable to answer is the same.
        m.nvml = std::nullopt;
        auto failing = m.monitor(true);
        failing->updateProcesses();
        QVERIFY(!failing->gpuFiguresAvailable());

        // NVML answering "nobody": available, and empty (told when the watching began,
        // from the table the monitor read at its start).
        m.nvml = std::vector<NvmlProcessMemory>{};
        auto idle = m.monitor(true);
        QVERIFY(idle->gpuFiguresAvailable());
        QVERIFY(idle->gpuProcesses().isEmpty());
        QSignalSpy changed(idle.get(), &ProcessMonitor::gpuProcessesChanged);
        idle->updateProcesses();
        idle->updateProcesses();
        QCOMPARE(changed.count(), 0);   // nothing new, no signal
        m.nvml = std::vector<NvmlProcessMemory>{{10, quint64(GiB)}};
        idle->updateProcesses();
        QCOMPARE(changed.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestGpuProcesses)
#include "tst_GpuProcesses.moc"
