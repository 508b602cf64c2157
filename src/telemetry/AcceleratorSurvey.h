#pragma once

#include "MachineHardwareInfo.h"
#include "platform/AcceleratorReader.h"
#include "platform/NvmlLibrary.h"

#include <memory>
#include <optional>
#include <string>

// What the machine computes with, surveyed once at start: the GPU it is described by, the
// stack that runs compute on it, and its NPU. GPUs and NPUs are not hot-plugged in
// practice, and naming an NVIDIA card means loading NVML, so this is not read again.
class AcceleratorSurvey
{
public:
    // `nvmlLibrary`: NVIDIA's management library, loaded only when an NVIDIA card is
    // present; empty: never.
    AcceleratorSurvey(const std::string &sysRoot, const AcceleratorPaths &paths, const std::string &nvmlLibrary);

    const std::optional<GpuDevice> &gpu() const { return m_gpu; }
    const std::string &computeStack() const { return m_computeStack; }
    const std::optional<NpuDevice> &npu() const { return m_npu; }
    // The core count NVML gave; absent anywhere else, since no other driver reports one.
    std::optional<qint64> gpuCoreCount() const;
    // NVML's per-process list; absent where NVML was not loaded.
    std::optional<std::vector<NvmlProcessMemory>> gpuProcesses() const
    {
        return m_nvml ? m_nvml->processes() : std::nullopt;
    }
    // The NPU's busy counter; empty without one.
    std::string npuBusyTimePath() const { return m_npu ? m_npu->busyTimePath : std::string(); }

    // Fills the accelerator fields of a machine description.
    void describe(MachineHardwareInfo &info) const;

private:
    std::optional<GpuDevice> m_gpu;
    std::string m_computeStack;
    std::optional<NpuDevice> m_npu;
    // Kept open: without the persistence daemon, closing NVML's last handle lets the driver
    // tear the GPU's state down, and the sensor sampler's own handle, opened next, would
    // wait for it to be set up again.
    std::unique_ptr<NvmlLibrary> m_nvml;
};
