// Per-process GPU memory from DRM fdinfo, over fixture /proc and /sys trees shaped as
// amdgpu and i915 write them: what counts as the GPU's memory, each client once, no read
// of a suspended device, other users' processes skipped, and how soon a process that
// opens a GPU is found.
#include "platform/DrmClientReader.h"
#include "support/FixtureTree.h"

#include <QFile>
#include <QTest>

#include <algorithm>
#include <cmath>

#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::uint64_t KiB = 1024;
constexpr std::uint64_t MiB = 1024 * KiB;
constexpr std::uint64_t GiB = 1024 * MiB;

QByteArray amdgpuInfo(int clientId, std::uint64_t vramKiB, std::uint64_t gttKiB, const QByteArray &pdev = "0000:03:00.0")
{
    return "pos:\t0\nflags:\t02100002\nmnt_id:\t24\nino:\t1085\n"
           "drm-driver:\tamdgpu\n"
           "drm-client-id:\t" + QByteArray::number(clientId) + "\n"
           "drm-pdev:\t" + pdev + "\n"
           "pasid:\t32790\n"
           "drm-memory-vram:\t" + QByteArray::number(vramKiB) + " KiB\n"
           "drm-memory-gtt: \t" + QByteArray::number(gttKiB) + " KiB\n"
           "drm-memory-cpu: \t0 KiB\n"
           "amd-memory-visible-vram:\t" + QByteArray::number(vramKiB) + " KiB\n"
           "drm-engine-gfx:\t1045210000 ns\n"
           "drm-engine-compute:\t83000000 ns\n"
           "drm-engine-dma:\t0 ns\n";
}

QByteArray i915Info(int clientId, bool withLocal)
{
    QByteArray text = "pos:\t0\nflags:\t02100002\n"
                      "drm-driver:\ti915\n"
                      "drm-pdev:\t0000:00:02.0\n"
                      "drm-client-id:\t" + QByteArray::number(clientId) + "\n"
                      "drm-engine-render:\t25662044495 ns\n"
                      "drm-engine-copy:\t0 ns\n"
                      "drm-engine-video:\t1000 ns\n"
                      "drm-engine-capacity-video:\t2\n"
                      "drm-engine-video-enhance:\t0 ns\n"
                      "drm-total-system0:\t580 KiB\n"
                      "drm-shared-system0:\t0\n"
                      "drm-resident-system0:\t580 KiB\n"
                      "drm-purgeable-system0:\t0\n";
    if (withLocal)
        text += "drm-total-local0:\t1048576 KiB\n"
                "drm-shared-local0:\t0\n"
                "drm-active-local0:\t0\n"
                "drm-resident-local0:\t786432 KiB\n";
    return text;
}

// A fixture process: descriptors as symlinks to their targets, and fdinfo files.
struct Fixture
{
    FixtureTree tree;

    void fd(int pid, int fd, const QByteArray &target, const QByteArray &info = "pos:\t0\nflags:\t02\n")
    {
        tree.mkdir(QStringLiteral("proc/%1/fd").arg(pid));
        const QString link = tree.path(QStringLiteral("proc/%1/fd/%2").arg(pid).arg(fd));
        QFile::remove(link);
        QVERIFY(QFile::link(QString::fromLatin1(target), link));
        tree.write(QStringLiteral("proc/%1/fdinfo/%2").arg(pid).arg(fd), info);
    }
    void close(int pid, int fd)
    {
        tree.remove(QStringLiteral("proc/%1/fd/%2").arg(pid).arg(fd));
        tree.remove(QStringLiteral("proc/%1/fdinfo/%2").arg(pid).arg(fd));
    }
    void status(const QString &node, const QByteArray &status)
    {
        tree.write(QStringLiteral("sys/class/drm/%1/device/power/runtime_status").arg(node), status + "\n");
    }
    // A fixed number of listings a pass, whatever the time: what the bound promises.
    DrmClientReader reader(size_t probes = 64) const
    {
        return DrmClientReader(tree.root(QStringLiteral("proc")), tree.root(QStringLiteral("sys")),
                               DrmProbeBudget{probes, probes, 1'000'000});
    }
};

const DrmProcessMemory *find(const std::vector<DrmProcessMemory> &list, int pid)
{
    const auto it = std::find_if(list.begin(), list.end(), [pid](const auto &p) { return p.pid == pid; });
    return it == list.end() ? nullptr : &*it;
}

std::vector<DrmCandidate> table(std::initializer_list<int> pids)
{
    std::vector<DrmCandidate> out;
    for (int pid : pids)
        out.push_back({pid, 1000, 100});
    return out;
}
}

class TestDrmClientReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // What each driver's record means: the device's own memory (vram, local0) apart from
    // what sits in system memory (gtt, system0), one figure per region whichever keys
    // state it, and engine time without the capacity lines.
    void parsesAmdgpuAndI915Records()
    {
        DrmFdinfo amd;
        QVERIFY(DrmClientReader::parseFdinfo(amdgpuInfo(17, 6 * 1024 * 1024, 20480).toStdString(), amd));
        QCOMPARE(amd.driver, std::string("amdgpu"));
        QCOMPARE(amd.pdev, std::string("0000:03:00.0"));
        QCOMPARE(amd.clientId.value_or(0), 17u);
        QCOMPARE(amd.deviceBytes.value_or(0), 6 * GiB);
        QCOMPARE(amd.systemBytes, 20 * MiB);
        QCOMPARE(amd.engineNs, 1045210000u + 83000000u);

        // Newer amdgpu prints the same vram three ways: it is still 6 GiB, the resident one.
        const QByteArray newer = amdgpuInfo(17, 6 * 1024 * 1024, 0)
                               + "drm-total-vram:\t7340032 KiB\ndrm-resident-vram:\t6291456 KiB\n"
                                 "drm-shared-vram:\t0\ndrm-total-gtt:\t2 MiB\ndrm-resident-gtt:\t2 MiB\n";
        QVERIFY(DrmClientReader::parseFdinfo(newer.toStdString(), amd));
        QCOMPARE(amd.deviceBytes.value_or(0), 6 * GiB);
        QCOMPARE(amd.systemBytes, 2 * MiB);

        // i915 with local memory: resident local0, not its larger total; system0 apart;
        // the video engine count (capacity) is no nanoseconds.
        DrmFdinfo intel;
        QVERIFY(DrmClientReader::parseFdinfo(i915Info(7, true).toStdString(), intel));
        QCOMPARE(intel.deviceBytes.value_or(0), 786432 * KiB);
        QCOMPARE(intel.systemBytes, 580 * KiB);
        QCOMPARE(intel.engineNs, 25662044495u + 1000u);

        // An integrated GPU has no memory of its own: none, rather than zero.
        QVERIFY(DrmClientReader::parseFdinfo(i915Info(8, false).toStdString(), intel));
        QVERIFY(!intel.deviceBytes);
        QCOMPARE(intel.systemBytes, 580 * KiB);

        // A plain file's fdinfo, and a record with no client id, are no client.
        QVERIFY(!DrmClientReader::parseFdinfo("pos:\t0\nflags:\t0100002\nmnt_id:\t25\n", intel));
        QVERIFY(!DrmClientReader::parseFdinfo("drm-driver:\tamdgpu\ndrm-memory-vram:\t4 KiB\n", intel));

        QCOMPARE(DrmClientReader::drmNode("/dev/dri/renderD128").value_or(""), std::string("renderD128"));
        QCOMPARE(DrmClientReader::drmNode("/dev/dri/card1").value_or(""), std::string("card1"));
        QVERIFY(!DrmClientReader::drmNode("/dev/null"));
        QVERIFY(!DrmClientReader::drmNode("/home/me/dev/dri/renderD128"));
    }

    // One pass over a fixture machine: each client counted once, clients of one process
    // summed, a suspended device left unread, another user's process skipped.
    void countsEachClientOnce()
    {
        Fixture f;
        f.status(QStringLiteral("renderD128"), "active");
        f.status(QStringLiteral("card0"), "active");
        f.status(QStringLiteral("renderD129"), "suspended");

        // 100: one client through two descriptors (a dup); 300, its child, inherited one.
        f.fd(100, 0, "/dev/pts/0");
        f.fd(100, 5, "/dev/dri/renderD128", amdgpuInfo(17, 4 * 1024 * 1024, 1024));
        f.fd(100, 9, "/dev/dri/renderD128", amdgpuInfo(17, 4 * 1024 * 1024, 1024));
        f.fd(300, 3, "/dev/dri/renderD128", amdgpuInfo(17, 4 * 1024 * 1024, 1024));
        // 200: two clients, on two GPUs: summed.
        f.fd(200, 4, "/dev/dri/renderD128", amdgpuInfo(18, 512 * 1024, 0));
        f.fd(200, 6, "/dev/dri/card0", i915Info(7, true));
        // 400: on a suspended GPU; the figures in its record must not be read.
        f.fd(400, 3, "/dev/dri/renderD129", amdgpuInfo(2, 8 * 1024 * 1024, 0, "0000:07:00.0"));
        // 500: another user's; its descriptors are unreadable.
        f.fd(500, 3, "/dev/dri/renderD128", amdgpuInfo(40, 1024 * 1024, 0));
        if (::geteuid() == 0) {
            // Permissions do not bind root: a descriptor folder that will not open stands in.
            QVERIFY(QDir(f.tree.path(QStringLiteral("proc/500/fd"))).removeRecursively());
            f.tree.write(QStringLiteral("proc/500/fd"), "");
        } else {
            QVERIFY(::chmod(qPrintable(f.tree.path(QStringLiteral("proc/500/fd"))), 0) == 0);
        }
        // 600: no GPU at all.
        f.fd(600, 1, "/home/me/notes.txt");

        DrmClientReader reader = f.reader();
        const auto found = reader.pass(table({100, 200, 300, 400, 500, 600}));
        QVERIFY(reader.sawClients());

        QCOMPARE(found.size(), size_t(2));
        const DrmProcessMemory *parent = find(found, 100);
        QVERIFY(parent);
        QCOMPARE(parent->clients, 1);
        QCOMPARE(parent->deviceBytes.value_or(0), 4 * GiB);
        QCOMPARE(parent->systemBytes, 1 * MiB);
        QVERIFY2(!find(found, 300), "the child's inherited descriptor is the parent's client");

        const DrmProcessMemory *both = find(found, 200);
        QVERIFY(both);
        QCOMPARE(both->clients, 2);
        QCOMPARE(both->deviceBytes.value_or(0), 512 * MiB + 786432 * KiB);
        QCOMPARE(both->systemBytes, 580 * KiB);

        QVERIFY(!find(found, 400));
        QVERIFY(!find(found, 500));
        QVERIFY(!find(found, 600));
        // 100, 200, 300 and 400 hold DRM descriptors; 400's is kept unread, for when its GPU wakes.
        QCOMPARE(reader.holderCount(), size_t(4));

        // The GPU wakes: now its client is read.
        f.status(QStringLiteral("renderD129"), "active");
        const auto awake = reader.pass(table({100, 200, 300, 400, 500, 600}));
        QVERIFY(find(awake, 400));
        QCOMPARE(find(awake, 400)->deviceBytes.value_or(0), 8 * GiB);

        // 100 closes both descriptors: 300's inherited one now carries the client.
        f.close(100, 5);
        f.close(100, 9);
        const auto after = reader.pass(table({100, 200, 300, 400, 500, 600}));
        QVERIFY(!find(after, 100));
        QVERIFY(find(after, 300));
        QCOMPARE(find(after, 300)->deviceBytes.value_or(0), 4 * GiB);
    }

    // Descriptor folders are listed a few a pass: a new process in the next pass, one that
    // opens a GPU later within ceil(processes / probes) passes, a holder every pass.
    void findsProcessesWithinThePromisedPasses()
    {
        Fixture f;
        constexpr size_t kProbes = 4;
        std::vector<DrmCandidate> processes;
        for (int pid = 1000; pid < 1030; ++pid) {
            f.fd(pid, 0, "/dev/null");
            processes.push_back({pid, 500, static_cast<std::uint64_t>(pid)});
        }
        // The largest process holds the GPU: it is looked at first.
        f.fd(2000, 7, "/dev/dri/renderD128", amdgpuInfo(1, 2 * 1024 * 1024, 0));
        processes.push_back({2000, 500, 1u << 20});

        DrmClientReader reader = f.reader(kProbes);
        auto found = reader.pass(processes);
        QVERIFY(reader.probedLastPass() <= kProbes);
        QVERIFY2(find(found, 2000), "the largest process is looked at in the first pass");

        // Every process looked at once; the round robin's own turn each pass makes the
        // first round a little longer than one listing per process.
        const int passesForAll = static_cast<int>(std::ceil(processes.size() / double(kProbes)));
        for (int i = 1; i < 2 * passesForAll; ++i) {
            reader.pass(processes);
            QVERIFY(reader.probedLastPass() <= kProbes);
        }

        // A process already looked at opens a GPU: found within one round of the table.
        f.fd(1003, 9, "/dev/dri/renderD128", amdgpuInfo(2, 1024, 0));
        int passes = 0;
        do {
            found = reader.pass(processes);
            ++passes;
        } while (!find(found, 1003) && passes <= passesForAll);
        QVERIFY2(passes <= passesForAll, qPrintable(QStringLiteral("found after %1 passes").arg(passes)));
        QVERIFY(find(found, 2000));   // and the holder was read every pass meanwhile

        // A process started since: in the very next pass, even though it is small.
        f.fd(3000, 4, "/dev/dri/renderD128", amdgpuInfo(3, 4096, 0));
        processes.push_back({3000, 900, 1});
        QVERIFY(find(reader.pass(processes), 3000));

        // A reused pid is a new process: looked at again at once. The old 1005 held
        // nothing; the new one holds a GPU.
        f.fd(1005, 6, "/dev/dri/renderD128", amdgpuInfo(4, 8192, 0));
        for (DrmCandidate &p : processes)
            if (p.pid == 1005)
                p.startTime = 777;
        QVERIFY(find(reader.pass(processes), 1005));

        // A stream of new processes, more each pass than the listings a pass: the round
        // robin still reaches a process already looked at that opens a GPU now.
        f.fd(1010, 9, "/dev/dri/renderD128", amdgpuInfo(5, 1024, 0));
        const size_t turns = reader.roundRobinTurns();
        const int stormBound = static_cast<int>(std::ceil(processes.size() / double(turns))) + 1;
        int next = 5000;
        passes = 0;
        do {
            for (int i = 0; i < static_cast<int>(kProbes) + 2; ++i, ++next) {
                f.fd(next, 0, "/dev/null");
                processes.push_back({next, 900, 1});
            }
            found = reader.pass(processes);
            ++passes;
        } while (!find(found, 1010) && passes <= stormBound);
        QVERIFY2(passes <= stormBound, qPrintable(QStringLiteral("found after %1 passes").arg(passes)));

        // Gone processes are forgotten.
        processes.erase(std::remove_if(processes.begin(), processes.end(),
                                       [](const DrmCandidate &p) { return p.pid == 2000; }),
                        processes.end());
        QVERIFY(!find(reader.pass(processes), 2000));
        QCOMPARE(reader.holderCount(), size_t(4));
    }
};

QTEST_GUILESS_MAIN(TestDrmClientReader)
#include "tst_DrmClientReader.moc"
