#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What NVIDIA's management library reports of the first GPU's load.
struct NvmlSample
{
    std::optional<double> utilisation;      // percent
    std::optional<std::uint64_t> memoryUsed;   // bytes
    std::optional<std::uint64_t> memoryTotal;
};

// One process holding memory on the GPU, as the driver accounts it.
struct NvmlProcessMemory
{
    unsigned pid = 0;
    // Bytes of device memory; absent where the driver will not say (under Windows' WDDM,
    // or for another container's process), which is not the same as none.
    std::optional<std::uint64_t> usedBytes;
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
    // The processes with a compute (CUDA) or graphics context on the first GPU, one entry
    // per pid. Absent when the driver cannot list them (no such call, or it failed); an
    // empty list is a GPU nobody holds.
    std::optional<std::vector<NvmlProcessMemory>> processes() const;
    // Which generation of the process calls was found: 3, 2, 1, or 0 for none.
    int processCallVersion() const { return m_processVersion; }

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
    // nvmlDeviceGet{Compute,Graphics}RunningProcesses: the struct behind `infos` depends
    // on the symbol's version, so it is passed untyped.
    using GetProcesses = int (*)(Device, unsigned *, void *);

    // NVML's result: 0 once the list is appended.
    int appendProcesses(GetProcesses call, std::vector<NvmlProcessMemory> &out) const;

    void *m_handle = nullptr;
    Shutdown m_shutdown = nullptr;
    GetTemperature m_temperature = nullptr;
    GetUtilisation m_utilisation = nullptr;
    GetMemory m_memory = nullptr;
    GetName m_name = nullptr;
    GetCoreCount m_coreCount = nullptr;
    GetProcesses m_computeProcesses = nullptr;
    GetProcesses m_graphicsProcesses = nullptr;
    int m_processVersion = 0;
    Device m_device = nullptr;
};
