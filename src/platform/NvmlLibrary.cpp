#include "NvmlLibrary.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>

namespace {
constexpr int kSuccess = 0;
constexpr int kTemperatureGpu = 0;
// NVML_DEVICE_NAME_V2_BUFFER_SIZE: the longest name NVML writes, its NUL included.
constexpr unsigned kNameBufferSize = 96;
constexpr int kNotSupported = 3;       // NVML_ERROR_NOT_SUPPORTED
constexpr int kInsufficientSize = 7;   // NVML_ERROR_INSUFFICIENT_SIZE
// NVML_VALUE_NOT_AVAILABLE in usedGpuMemory: the driver does not know, not "all of it".
constexpr unsigned long long kNotAvailable = ~0ull;

// nvmlProcessInfo_v1_t, and the layout the _v2 and _v3 calls fill (the v3 struct kept the
// v2 fields; only the symbol changed, with MIG's instance numbers filled in).
struct ProcessInfoV1 { unsigned pid; unsigned long long usedGpuMemory; };
struct ProcessInfoV2 { unsigned pid; unsigned long long usedGpuMemory; unsigned gpuInstanceId; unsigned computeInstanceId; };

// A first guess that holds a desktop's usual handful of contexts, so most reads are one
// call; beyond it, each refusal says how many there were and the next try leaves room for
// a few more, since processes may start between the calls.
constexpr unsigned kFirstGuess = 16;
constexpr unsigned kSlack = 8;
// Bounded: a machine starting processes faster than we can ask would otherwise keep us here.
constexpr int kAttempts = 4;

template <typename F>
F symbol(void *handle, const char *name)
{
    return reinterpret_cast<F>(::dlsym(handle, name));
}
}

NvmlLibrary::NvmlLibrary(std::string library)
{
    if (library.empty())
        return;
    m_handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle)
        return;
    const auto init = symbol<Init>(m_handle, "nvmlInit_v2");
    const auto count = symbol<GetCount>(m_handle, "nvmlDeviceGetCount_v2");
    const auto handle = symbol<GetHandle>(m_handle, "nvmlDeviceGetHandleByIndex_v2");
    m_shutdown = symbol<Shutdown>(m_handle, "nvmlShutdown");
    m_temperature = symbol<GetTemperature>(m_handle, "nvmlDeviceGetTemperature");
    m_utilisation = symbol<GetUtilisation>(m_handle, "nvmlDeviceGetUtilizationRates");
    m_memory = symbol<GetMemory>(m_handle, "nvmlDeviceGetMemoryInfo");
    m_name = symbol<GetName>(m_handle, "nvmlDeviceGetName");
    m_coreCount = symbol<GetCoreCount>(m_handle, "nvmlDeviceGetNumGpuCores");
    // The newest generation the driver exports, asked the same for both lists, since the
    // version decides the layout of what they fill.
    for (const auto &[version, suffix] : {std::pair{3, "_v3"}, std::pair{2, "_v2"}, std::pair{1, ""}}) {
        const auto compute = symbol<GetProcesses>(
            m_handle, (std::string("nvmlDeviceGetComputeRunningProcesses") + suffix).c_str());
        const auto graphics = symbol<GetProcesses>(
            m_handle, (std::string("nvmlDeviceGetGraphicsRunningProcesses") + suffix).c_str());
        if (compute || graphics) {
            m_computeProcesses = compute;
            m_graphicsProcesses = graphics;
            m_processVersion = version;
            break;
        }
    }
    if (!init || !count || !handle || init() != kSuccess) {
        m_shutdown = nullptr;
        return;
    }
    unsigned devices = 0;
    Device device = nullptr;
    if (count(&devices) == kSuccess && devices > 0 && handle(0, &device) == kSuccess)
        m_device = device;
}

NvmlLibrary::~NvmlLibrary()
{
    if (m_shutdown)
        m_shutdown();
    if (m_handle)
        ::dlclose(m_handle);
}

NvmlSample NvmlLibrary::sample() const
{
    NvmlSample sample;
    if (!m_device)
        return sample;
    Utilisation utilisation{};
    if (m_utilisation && m_utilisation(m_device, &utilisation) == kSuccess)
        sample.utilisation = utilisation.gpu;
    Memory memory{};
    if (m_memory && m_memory(m_device, &memory) == kSuccess) {
        sample.memoryUsed = memory.used;
        sample.memoryTotal = memory.total;
    }
    return sample;
}

std::optional<double> NvmlLibrary::temperature() const
{
    unsigned celsius = 0;
    if (!m_device || !m_temperature || m_temperature(m_device, kTemperatureGpu, &celsius) != kSuccess)
        return std::nullopt;
    return celsius;
}

std::string NvmlLibrary::name() const
{
    char buffer[kNameBufferSize] = {};
    if (!m_device || !m_name || m_name(m_device, buffer, kNameBufferSize) != kSuccess)
        return {};
    buffer[kNameBufferSize - 1] = '\0';   // never trust a foreign library to terminate it
    return buffer;
}

std::optional<unsigned> NvmlLibrary::coreCount() const
{
    unsigned cores = 0;
    if (!m_device || !m_coreCount || m_coreCount(m_device, &cores) != kSuccess || cores == 0)
        return std::nullopt;
    return cores;
}

int NvmlLibrary::appendProcesses(GetProcesses call, std::vector<NvmlProcessMemory> &out) const
{
    const size_t stride = m_processVersion == 1 ? sizeof(ProcessInfoV1) : sizeof(ProcessInfoV2);
    std::vector<unsigned char> buffer;
    unsigned capacity = kFirstGuess;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        buffer.assign(size_t(capacity) * stride, 0);
        unsigned count = capacity;
        const int result = call(m_device, &count, buffer.data());
        if (result == kInsufficientSize) {
            capacity = count + kSlack;
            continue;
        }
        if (result != kSuccess)
            return result;
        count = std::min(count, capacity);
        for (unsigned i = 0; i < count; ++i) {
            // Copied out rather than cast: the buffer is bytes, and v1's stride differs.
            unsigned pid = 0;
            unsigned long long used = 0;
            if (m_processVersion == 1) {
                ProcessInfoV1 info;
                std::memcpy(&info, buffer.data() + i * stride, sizeof info);
                pid = info.pid;
                used = info.usedGpuMemory;
            } else {
                ProcessInfoV2 info;
                std::memcpy(&info, buffer.data() + i * stride, sizeof info);
                pid = info.pid;
                used = info.usedGpuMemory;
            }
            NvmlProcessMemory process;
            process.pid = pid;
            if (used != kNotAvailable)
                process.usedBytes = used;
            out.push_back(process);
        }
        return kSuccess;
    }
    return kInsufficientSize;
}

std::optional<std::vector<NvmlProcessMemory>> NvmlLibrary::processes() const
{
    if (!m_device || m_processVersion == 0)
        return std::nullopt;
    // A list the board does not keep (graphics on a compute-only card) is left out; one
    // that failed, or kept growing past our retries, leaves the answer unknown rather
    // than short.
    std::vector<NvmlProcessMemory> listed;
    bool any = false;
    for (GetProcesses call : {m_computeProcesses, m_graphicsProcesses}) {
        if (!call)
            continue;
        const int result = appendProcesses(call, listed);
        if (result == kSuccess)
            any = true;
        else if (result != kNotSupported)
            return std::nullopt;
    }
    if (!any)
        return std::nullopt;

    // A process with both a CUDA and a graphics context is in both lists with the same
    // figure: its memory on the device, not a share per context. Count it once.
    std::sort(listed.begin(), listed.end(), [](const auto &a, const auto &b) { return a.pid < b.pid; });
    std::vector<NvmlProcessMemory> merged;
    for (const NvmlProcessMemory &process : listed) {
        if (merged.empty() || merged.back().pid != process.pid) {
            merged.push_back(process);
            continue;
        }
        std::optional<std::uint64_t> &used = merged.back().usedBytes;
        if (process.usedBytes)
            used = std::max(used.value_or(0), *process.usedBytes);
    }
    return merged;
}
