#include "AcceleratorSurvey.h"

#include <algorithm>

AcceleratorSurvey::AcceleratorSurvey(const std::string &sysRoot, const AcceleratorPaths &paths,
                                     const std::string &nvmlLibrary)
{
    const AcceleratorReader reader(sysRoot, paths);
    std::vector<GpuDevice> gpus = reader.gpus();
    const bool hasNvidia = std::any_of(gpus.begin(), gpus.end(), [](const GpuDevice &g) { return g.driver == "nvidia"; });
    if (hasNvidia && !nvmlLibrary.empty()) {
        m_nvml = std::make_unique<NvmlLibrary>(nvmlLibrary);
        if (m_nvml->available())
            gpus = reader.gpus(m_nvml.get());
        else
            m_nvml.reset();
    }
    m_gpu = AcceleratorReader::primary(gpus);
    m_computeStack = reader.computeStack(m_gpu);
    m_npu = reader.npu();
}

std::optional<qint64> AcceleratorSurvey::gpuCoreCount() const
{
    if (!m_gpu || !m_gpu->coreCount)
        return std::nullopt;
    return static_cast<qint64>(*m_gpu->coreCount);
}

void AcceleratorSurvey::describe(MachineHardwareInfo &info) const
{
    info.gpuName = m_gpu ? QString::fromStdString(m_gpu->name) : QString();
    info.gpuDriver = m_gpu ? QString::fromStdString(m_gpu->driver) : QString();
    info.gpuComputeStack = QString::fromStdString(m_computeStack);
    info.npuName = m_npu ? QString::fromStdString(m_npu->name) : QString();
}
