// One full telemetry pass against the live /proc and /sys, the work the app does every
// second. Reported as the median over many single-pass repetitions.

#include "app/Preferences.h"
#include "telemetry/SystemStatsProvider.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {
void BM_TelemetryPass(benchmark::State &state)
{
    QTemporaryDir dir;
    Preferences preferences(new QSettings(dir.filePath(QStringLiteral("bench.conf")), QSettings::IniFormat));
    SystemStatsProvider stats(preferences, {}, SystemStatsProvider::Polling::Manual);
    stats.updateStats();   // prime, as the first tick of the app does
    for (auto _ : state) {
        stats.updateStats();
        benchmark::DoNotOptimize(stats.cpuUsage());
    }
}
BENCHMARK(BM_TelemetryPass)->Unit(benchmark::kMicrosecond)->Iterations(1)->Repetitions(2000)->ReportAggregatesOnly(true);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
