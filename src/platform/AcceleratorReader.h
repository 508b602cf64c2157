#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class NvmlLibrary;

// One DRM card: a GPU, or a display engine the kernel drives like one.
struct GpuDevice
{
    std::string card;            // "card1"
    std::string driver;          // the PCI driver's name: nvidia, amdgpu, i915, xe, virtio_gpu…
    unsigned vendorId = 0;       // PCI ids; 0 where the bus has none
    unsigned deviceId = 0;
    std::string name;            // for people: NVML's product name, the slot label, or maker and driver
    std::optional<unsigned> coreCount;   // NVML's CUDA core count; absent where nothing counts them
};

// One compute accelerator of the kernel's accel class (an NPU).
struct NpuDevice
{
    std::string node;            // "accel0"
    std::string driver;          // intel_vpu, amdxdna…
    std::string name;            // "Intel NPU"
    std::string busyTimePath;    // cumulative busy time in µs; empty where the driver keeps none
};

// Where the compute stacks leave their traces: device nodes and the Vulkan loader's ICD
// manifests. Tests point these at fixture trees.
struct AcceleratorPaths
{
    std::string devRoot = "/dev";
    std::vector<std::string> vulkanIcdDirs{"/usr/share/vulkan/icd.d", "/etc/vulkan/icd.d"};
};

// The machine's GPUs, the stack that can run compute on the one shown, and its NPU, from
// <sys>/class/drm and <sys>/class/accel. Everything here is a handful of small files and
// directory listings, read when asked: the telemetry reads it once at start.
class AcceleratorReader
{
public:
    explicit AcceleratorReader(std::string sysRoot = "/sys", AcceleratorPaths paths = {});

    // Every GPU card in card order; connector entries (card0-HDMI-A-1), render nodes and
    // firmware framebuffers are left out. With `nvml`, the first NVIDIA card takes NVML's
    // name and core count: NVML numbers devices in PCI order, as the cards usually are.
    std::vector<GpuDevice> gpus(const NvmlLibrary *nvml = nullptr) const;
    // The GPU to describe the machine by: a discrete one (NVIDIA, then AMD) before an
    // integrated one, else the first card.
    static std::optional<GpuDevice> primary(const std::vector<GpuDevice> &gpus);
    // "CUDA" when the NVIDIA driver is loaded, "ROCm" when amdgpu has its compute node
    // (kfd), "Vulkan" when a hardware Vulkan driver is installed, "" otherwise or without a GPU.
    std::string computeStack(const std::optional<GpuDevice> &gpu) const;

    // The first NPU in node order; absent when the machine has none.
    std::optional<NpuDevice> npu() const;
    // One reading of an NPU's busy counter (µs); absent when it cannot be read. Cheap: one
    // small file, meant to be read every tick.
    static std::optional<std::uint64_t> readBusyTime(const std::string &path, std::string &buffer);

    // The maker's name for a PCI vendor id; empty when unknown.
    static std::string vendorName(unsigned vendorId);

private:
    std::string m_sysRoot;
    AcceleratorPaths m_paths;
};
