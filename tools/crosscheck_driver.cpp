// Samples Quillmoor's own figures on the live machine for a window of seconds and prints
// their averages, one "name value" line each, so tools/crosscheck can set them beside what
// mpstat, free, sar, iostat, df, pidstat and ss saw over the same seconds.
//
//   quillmoor-crosscheck SECONDS [PID]
//
// The telemetry pass runs once a second, as the app's own timer runs it; the process table
// every two seconds, as in the app. The first pass of each only primes the counters, so the
// averages cover exactly the SECONDS that follow it.

#include "app/Preferences.h"
#include "localai/LocalAIService.h"
#include "platform/FileTree.h"
#include "platform/SocketTableReader.h"
#include "processes/ProcessMonitor.h"
#include "telemetry/SystemStatsProvider.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <unordered_set>

namespace {
// Waits on the event loop rather than sleeping, so work the passes hand to other threads
// can report back in between, as it would in the running app.
void waitUntil(const QDeadlineTimer &deadline)
{
    const qint64 left = deadline.remainingTime();
    if (left <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(left), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Mean
{
    double sum = 0;
    int count = 0;
    void add(double v) { sum += v; ++count; }
    void print(const char *name) const
    {
        if (count > 0)
            std::printf("%s %.4f\n", name, sum / count);
        else
            std::printf("%s none\n", name);
    }
};

int listeningPortCount()
{
    const SocketTableReader reader;
    const std::vector<SocketEntry> sockets = reader.readTcp(1u << SocketEntry::kListen);
    std::unordered_set<std::uint64_t> inodes;
    for (const SocketEntry &socket : sockets)
        if (socket.state == SocketEntry::kListen && socket.inode != 0)
            inodes.insert(socket.inode);
    return static_cast<int>(LocalAIService::listeningPorts(sockets, reader.owners(inodes), [&reader](int pid) {
                                return QString::fromStdString(reader.commandName(pid));
                            }).size());
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool ok = false;
    const int seconds = args.value(0).toInt(&ok);
    if (!ok || seconds < 1) {
        std::fprintf(stderr, "usage: quillmoor-crosscheck SECONDS [PID [CACHE_FOLDER]]\n");
        return 2;
    }
    const int pid = args.value(1).toInt();
    const QString cacheFolder = args.value(2);

    // A private settings file: the pass records baselines into the preferences, and the
    // user's own must not be changed by a measurement.
    QTemporaryDir settingsDir;
    Preferences preferences(new QSettings(settingsDir.filePath(QStringLiteral("crosscheck.conf")), QSettings::IniFormat));
    SystemStatsProvider stats(preferences, {}, SystemStatsProvider::Polling::Manual);
    ProcessMonitor processes([&stats] { return stats.cpuUsage(); }, {}, ProcessMonitor::Polling::Manual);

    Mean cpu, cpuUser, cpuSystem, memUsed, memTotal, down, up, diskRead, diskWrite, diskPercent;
    Mean pidCpu, pidMemory;
    int pidSamples = 0, pidMissing = 0;

    QDeadlineTimer next(1000, Qt::PreciseTimer);
    stats.updateStats();   // primes the tick, network and disk counters
    std::printf("started\n");
    std::fflush(stdout);
    for (int second = 1; second <= seconds; ++second) {
        waitUntil(next);
        next = QDeadlineTimer(1000, Qt::PreciseTimer);
        stats.updateStats();
        cpu.add(stats.cpuUsage());
        cpuUser.add(stats.cpuUserUsage());
        cpuSystem.add(stats.cpuSystemUsage());
        memUsed.add(stats.memoryUsed());
        memTotal.add(stats.memoryTotal());
        down.add(stats.networkDownload());
        up.add(stats.networkUpload());
        diskRead.add(stats.diskRead());
        diskWrite.add(stats.diskWrite());
        if (stats.diskTotal() > 0)
            diskPercent.add(stats.diskUsed() / stats.diskTotal() * 100.0);

        if (pid > 0 && second % 2 == 0) {
            processes.updateProcesses();
            ++pidSamples;
            bool found = false;
            for (const ProcessInfoData &row : processes.topProcesses()) {
                if (row.id == pid) {
                    pidCpu.add(row.cpuUsage);
                    pidMemory.add(static_cast<double>(row.memoryBytes));
                    found = true;
                    break;
                }
            }
            if (!found)
                ++pidMissing;   // not among the table's busiest rows that time
        }
    }

    cpu.print("cpuUsage");
    cpuUser.print("cpuUserUsage");
    cpuSystem.print("cpuSystemUsage");
    memUsed.print("memoryUsed");
    memTotal.print("memoryTotal");
    down.print("networkDownload");
    up.print("networkUpload");
    std::printf("diskThroughputMeasured %d\n", stats.diskThroughputMeasured() ? 1 : 0);
    diskRead.print("diskRead");
    diskWrite.print("diskWrite");
    diskPercent.print("diskUsedPercent");
    if (pid > 0) {
        pidCpu.print("processCpuUsage");
        pidMemory.print("processMemoryBytes");
        std::printf("processSamples %d\nprocessMissing %d\n", pidSamples, pidMissing);
    }
    std::printf("listeningPorts %d\n", listeningPortCount());
    // A cache folder sized as every cache row sizes it: what deleting it would give back.
    if (!cacheFolder.isEmpty())
        std::printf("cacheBytes %llu\n", static_cast<unsigned long long>(FileTree::visibleSize(cacheFolder.toStdString())));
    return 0;
}
