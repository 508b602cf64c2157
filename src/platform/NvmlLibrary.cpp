#include "NvmlLibrary.h"

#include <dlfcn.h>

namespace {
constexpr int kSuccess = 0;
constexpr int kTemperatureGpu = 0;
// NVML_DEVICE_NAME_V2_BUFFER_SIZE: the longest name NVML writes, its NUL included.
constexpr unsigned kNameBufferSize = 96;

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
