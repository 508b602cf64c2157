// One process-table sample over at least 1000 processes, side by side with what the
// sample replaces: spawning ps and reading its sorted table. The machine is topped up to
// 1000 processes with idle children of this benchmark, removed at the end.

#include "processes/ProcessMonitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int kProcesses = 1000;
std::map<std::string, double> g_medians;   // benchmark name -> median µs
ProcessMonitor *g_monitor = nullptr;

// Steady state, as in the running app: one monitor that has primed and built its icon
// index, sampled again and again. A monitor made per repetition would time its first
// sample with the index build still competing for the cores.
void BM_ProcessSample(benchmark::State &state)
{
    for (auto _ : state) {
        g_monitor->updateProcesses();
        benchmark::DoNotOptimize(g_monitor->topProcesses().size());
    }
}
BENCHMARK(BM_ProcessSample)->Unit(benchmark::kMicrosecond)->Iterations(1)->Repetitions(200)->ReportAggregatesOnly(true);

void BM_PsSpawn(benchmark::State &state)
{
    for (auto _ : state) {
        QProcess ps;
        ps.start(QStringLiteral("ps"), {QStringLiteral("-eo"), QStringLiteral("pid,pcpu,comm"), QStringLiteral("--sort=-pcpu")});
        ps.waitForFinished();
        benchmark::DoNotOptimize(ps.readAllStandardOutput().size());
    }
}
BENCHMARK(BM_PsSpawn)->Unit(benchmark::kMicrosecond)->Iterations(1)->Repetitions(50)->ReportAggregatesOnly(true);

class MedianReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (run.aggregate_name == "median")
                g_medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

int countProcesses()
{
    return static_cast<int>(QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs).size());
}
}

int main(int argc, char **argv)
{
    std::vector<pid_t> children;
    for (int n = countProcesses(); n < kProcesses; ++n) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::pause();
            ::_exit(0);
        }
        if (pid < 0)
            break;
        children.push_back(pid);
    }

    int result = 0;
    {
        QCoreApplication app(argc, argv);
        std::printf("processes: %d\n", countProcesses());
        ProcessMonitor monitor(nullptr, {}, ProcessMonitor::Polling::Manual);
        while (!monitor.isIconIndexReady())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        g_monitor = &monitor;
        benchmark::Initialize(&argc, argv);
        MedianReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        benchmark::Shutdown();
        const double sample = g_medians["BM_ProcessSample"];
        const double ps = g_medians["BM_PsSpawn"];
        if (sample > 0 && ps > 0)
            std::printf("median sample %.0f us, ps %.0f us: the sample is %.1fx faster\n", sample, ps, ps / sample);
        else
            result = 1;
    }
    for (pid_t pid : children)
        ::kill(pid, SIGKILL);
    for (pid_t pid : children)
        ::waitpid(pid, nullptr, 0);
    return result;
}
