// Stands in for NVIDIA's libnvidia-ml.so.1: one GPU with fixed figures. Built a second
// time with FAKE_NVML_LEGACY, it lacks nvmlDeviceGetNumGpuCores, as drivers before R520 do,
// and lists processes only through the first, unversioned calls with their shorter struct.
//
// The process lists are set by the test through the fakeNvml* functions at the end, which
// it finds with dlsym on the same library the code under test opens.
#include <cstring>
#include <vector>

extern "C" {
struct FakeUtilisation { unsigned gpu; unsigned memory; };
struct FakeMemory { unsigned long long total; unsigned long long free; unsigned long long used; };

static int g_device;

int nvmlInit_v2() { return 0; }
int nvmlShutdown() { return 0; }
int nvmlDeviceGetCount_v2(unsigned *count) { *count = 1; return 0; }
int nvmlDeviceGetHandleByIndex_v2(unsigned index, void **device)
{
    if (index != 0)
        return 2;
    *device = &g_device;
    return 0;
}
int nvmlDeviceGetTemperature(void *device, int sensor, unsigned *celsius)
{
    if (device != &g_device || sensor != 0)
        return 2;
    *celsius = 64;
    return 0;
}
int nvmlDeviceGetUtilizationRates(void *device, FakeUtilisation *rates)
{
    if (device != &g_device)
        return 2;
    rates->gpu = 42;
    rates->memory = 10;
    return 0;
}
int nvmlDeviceGetMemoryInfo(void *device, FakeMemory *memory)
{
    if (device != &g_device)
        return 2;
    memory->total = 12ull << 30;
    memory->used = 3ull << 30;
    memory->free = memory->total - memory->used;
    return 0;
}
int nvmlDeviceGetName(void *device, char *name, unsigned length)
{
    static const char kName[] = "NVIDIA GeForce RTX 4070";
    if (device != &g_device)
        return 2;
    if (length < sizeof kName)
        return 7;   // NVML_ERROR_INSUFFICIENT_SIZE
    std::memcpy(name, kName, sizeof kName);
    return 0;
}

struct FakeProcessV1 { unsigned pid; unsigned long long usedGpuMemory; };
struct FakeProcessV2 { unsigned pid; unsigned long long usedGpuMemory; unsigned gpuInstanceId; unsigned computeInstanceId; };
}

namespace {
struct FakeEntry { unsigned pid; unsigned long long used; };
std::vector<FakeEntry> g_lists[2];   // compute, graphics
// After each refusal for want of room, this many processes join the compute list, for
// `g_growthsLeft` more refusals (negative: for ever).
unsigned g_growth = 0;
int g_growthsLeft = 0;
int g_lastVersion = 0;
unsigned g_processCalls = 0;

template <typename Info>
int fill(void *device, int list, int version, unsigned *count, Info *infos)
{
    if (device != &g_device || !count)
        return 2;
    g_lastVersion = version;
    ++g_processCalls;
    std::vector<FakeEntry> &entries = g_lists[list];
    if (*count < entries.size()) {
        *count = static_cast<unsigned>(entries.size());
        if (list == 0 && g_growthsLeft != 0) {
            for (unsigned i = 0; i < g_growth; ++i)
                entries.push_back({90000u + static_cast<unsigned>(entries.size()), 1ull << 20});
            if (g_growthsLeft > 0)
                --g_growthsLeft;
        }
        return 7;   // NVML_ERROR_INSUFFICIENT_SIZE
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        Info info{};
        std::memset(&info, 0xAB, sizeof info);   // what the caller must not read as data
        info.pid = entries[i].pid;
        info.usedGpuMemory = entries[i].used;
        infos[i] = info;
    }
    *count = static_cast<unsigned>(entries.size());
    return 0;
}
}

extern "C" {
int nvmlDeviceGetComputeRunningProcesses(void *d, unsigned *n, FakeProcessV1 *i) { return fill(d, 0, 1, n, i); }
int nvmlDeviceGetGraphicsRunningProcesses(void *d, unsigned *n, FakeProcessV1 *i) { return fill(d, 1, 1, n, i); }
#ifndef FAKE_NVML_LEGACY
int nvmlDeviceGetComputeRunningProcesses_v2(void *d, unsigned *n, FakeProcessV2 *i) { return fill(d, 0, 2, n, i); }
int nvmlDeviceGetGraphicsRunningProcesses_v2(void *d, unsigned *n, FakeProcessV2 *i) { return fill(d, 1, 2, n, i); }
int nvmlDeviceGetComputeRunningProcesses_v3(void *d, unsigned *n, FakeProcessV2 *i) { return fill(d, 0, 3, n, i); }
int nvmlDeviceGetGraphicsRunningProcesses_v3(void *d, unsigned *n, FakeProcessV2 *i) { return fill(d, 1, 3, n, i); }
#endif

// Test controls. list: 0 compute, 1 graphics.
void fakeNvmlSetProcesses(int list, unsigned count, const unsigned *pids, const unsigned long long *used)
{
    g_lists[list].clear();
    for (unsigned i = 0; i < count; ++i)
        g_lists[list].push_back({pids[i], used[i]});
}
void fakeNvmlGrowOnRefusal(unsigned perRefusal, int refusals)
{
    g_growth = perRefusal;
    g_growthsLeft = refusals;
}
int fakeNvmlLastProcessVersion() { return g_lastVersion; }
unsigned fakeNvmlProcessCalls() { return g_processCalls; }

#ifndef FAKE_NVML_LEGACY
int nvmlDeviceGetNumGpuCores(void *device, unsigned *cores)
{
    if (device != &g_device)
        return 2;
    *cores = 5888;
    return 0;
}
#endif
}
