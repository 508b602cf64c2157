// Stands in for NVIDIA's libnvidia-ml.so.1: one GPU with fixed figures. Built a second
// time with FAKE_NVML_LEGACY, it lacks nvmlDeviceGetNumGpuCores, as drivers before R520 do.
#include <cstring>

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
