#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What NVIDIA's management library reports of the first GPU's load.
struct NvmlSample
{
    std::optional<double> utilisation;      // percent
    std::optional<std::uint64_t> memoryUsed;   // bytes
    std::optional<std::uint64_t> memoryTotal;
};

// NVIDIA's driver ships libnvidia-ml.so.1; it is opened at run time so Quillmoor neither
// builds against it nor needs it. Without the library (or a GPU) nothing is reported.
class NvmlLibrary
{
public:
    // `library`: a file name searched as dlopen searches, or a path; empty: none.
    explicit NvmlLibrary(std::string library = "libnvidia-ml.so.1");
    ~NvmlLibrary();
    NvmlLibrary(const NvmlLibrary &) = delete;
    NvmlLibrary &operator=(const NvmlLibrary &) = delete;

    // Loaded, initialised, and at least one GPU found.
    bool available() const { return m_device != nullptr; }
    NvmlSample sample() const;
    std::optional<double> temperature() const;   // degrees Celsius
    // The product name ("NVIDIA GeForce RTX 4070"); empty when NVML gives none.
    std::string name() const;
    // The CUDA core count. Only drivers from about R520 on export nvmlDeviceGetNumGpuCores,
    // and some boards answer "not supported": absent then.
    std::optional<unsigned> coreCount() const;

private:
    using Device = void *;
    using Init = int (*)();
    using Shutdown = int (*)();
    using GetCount = int (*)(unsigned *);
    using GetHandle = int (*)(unsigned, Device *);
    using GetTemperature = int (*)(Device, int, unsigned *);
    struct Utilisation { unsigned gpu; unsigned memory; };
    using GetUtilisation = int (*)(Device, Utilisation *);
    struct Memory { unsigned long long total; unsigned long long free; unsigned long long used; };
    using GetMemory = int (*)(Device, Memory *);
    using GetName = int (*)(Device, char *, unsigned);
    using GetCoreCount = int (*)(Device, unsigned *);

    void *m_handle = nullptr;
    Shutdown m_shutdown = nullptr;
    GetTemperature m_temperature = nullptr;
    GetUtilisation m_utilisation = nullptr;
    GetMemory m_memory = nullptr;
    GetName m_name = nullptr;
    GetCoreCount m_coreCount = nullptr;
    Device m_device = nullptr;
};
