#include "AcceleratorReader.h"

#include "NvmlLibrary.h"
#include "ProcFile.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <dirent.h>
#include <limits.h>
#include <unistd.h>
#include <utility>

namespace {
constexpr unsigned kNvidia = 0x10de;

// The numbered entries "<prefix>N" of a class folder, in number order: card10 after card2,
// and connectors ("card0-DP-1") left out because they are not all digits after the prefix.
std::vector<std::string> numberedEntries(const std::string &folder, std::string_view prefix)
{
    std::vector<std::pair<int, std::string>> entries;
    std::vector<std::string> names;
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        int number = 0;
        if (name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix
            && ProcFile::parseInt(name.substr(prefix.size()), number))
            entries.emplace_back(number, std::string(name));
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end());
    for (auto &entry : entries)
        names.push_back(std::move(entry.second));
    return names;
}

// The last part of where a symbolic link points: a device's `driver` link names its driver.
std::string linkBaseName(const std::string &path)
{
    std::array<char, PATH_MAX> target{};
    const ssize_t length = ::readlink(path.c_str(), target.data(), target.size() - 1);
    if (length <= 0)
        return {};
    const std::string_view text(target.data(), static_cast<size_t>(length));
    const size_t slash = text.find_last_of('/');
    return std::string(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

std::string readLine(const std::string &path, std::string &buffer)
{
    if (!ProcFile::read(path, buffer))
        return {};
    std::string_view text = ProcFile::trimmed(buffer);
    return std::string(ProcFile::trimmed(ProcFile::nextLine(text)));
}

// PCI ids are written "0x10de".
unsigned readHexId(const std::string &path, std::string &buffer)
{
    const std::string text = readLine(path, buffer);
    if (text.empty())
        return 0;
    char *end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 16);
    return end && *end == '\0' && value <= 0xffff ? static_cast<unsigned>(value) : 0;
}

bool exists(const std::string &path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

// Firmware framebuffers and virtual test devices register DRM cards too, but nothing
// computes on them.
bool isFramebufferOnly(const std::string &driver)
{
    static const std::array<std::string_view, 6> kDrivers{"simple-framebuffer", "simpledrm", "efi-framebuffer",
                                                          "vesa-framebuffer", "vkms", "vgem"};
    return std::find(kDrivers.begin(), kDrivers.end(), driver) != kDrivers.end();
}

// Higher is preferred. Every NVIDIA card in a PC is discrete; amdgpu also drives APUs, so
// an NVIDIA card wins over it on the common hybrid laptop. The rest (i915, xe, virtual
// GPUs, display engines) rank alike.
int rank(const GpuDevice &gpu)
{
    if (gpu.driver == "nvidia" || gpu.driver == "nouveau")
        return 2;
    if (gpu.driver == "amdgpu")
        return 1;
    return 0;
}

std::string npuNameFor(const std::string &driver)
{
    if (driver == "intel_vpu")
        return "Intel NPU";
    if (driver == "amdxdna")
        return "AMD XDNA NPU";
    return driver.empty() ? std::string("NPU") : driver + " NPU";
}
}

AcceleratorReader::AcceleratorReader(std::string sysRoot, AcceleratorPaths paths)
    : m_sysRoot(std::move(sysRoot))
    , m_paths(std::move(paths))
{
}

std::string AcceleratorReader::vendorName(unsigned vendorId)
{
    switch (vendorId) {
    case kNvidia: return "NVIDIA";
    case 0x1002: return "AMD";
    case 0x8086: return "Intel";
    case 0x1af4: return "Virtio";
    case 0x15ad: return "VMware";
    case 0x1234: return "QEMU";
    case 0x1a03: return "ASPEED";
    case 0x102b: return "Matrox";
    case 0x5143: return "Qualcomm";
    case 0x13b5: return "Arm";
    default: return {};
    }
}

std::vector<GpuDevice> AcceleratorReader::gpus(const NvmlLibrary *nvml) const
{
    std::vector<GpuDevice> found;
    const std::string classDir = m_sysRoot + "/class/drm/";
    std::string buffer;
    bool nvmlUsed = false;
    for (const std::string &card : numberedEntries(classDir, "card")) {
        const std::string device = classDir + card + "/device/";
        GpuDevice gpu;
        gpu.card = card;
        gpu.driver = linkBaseName(device + "driver");
        if (gpu.driver.empty() || isFramebufferOnly(gpu.driver))
            continue;
        gpu.vendorId = readHexId(device + "vendor", buffer);
        gpu.deviceId = readHexId(device + "device", buffer);
        if (nvml && !nvmlUsed && gpu.driver == "nvidia" && nvml->available()) {
            nvmlUsed = true;
            gpu.name = nvml->name();
            if (const std::optional<unsigned> cores = nvml->coreCount())
                gpu.coreCount = *cores;
        }
        // The firmware's slot label, then amdgpu's board name, then maker and driver: the
        // kernel keeps no marketing name, and a PCI id table is not ours to ship.
        for (const char *file : {"label", "product_name"})
            if (gpu.name.empty())
                gpu.name = readLine(device + file, buffer);
        if (gpu.name.empty()) {
            const std::string vendor = vendorName(gpu.vendorId);
            gpu.name = (vendor.empty() ? std::string("GPU") : vendor + " GPU") + " (" + gpu.driver + ")";
        }
        found.push_back(std::move(gpu));
    }
    return found;
}

std::optional<GpuDevice> AcceleratorReader::primary(const std::vector<GpuDevice> &gpus)
{
    if (gpus.empty())
        return std::nullopt;
    // max_element keeps the first of equals, so ties go to the lower card number.
    return *std::max_element(gpus.begin(), gpus.end(),
                             [](const GpuDevice &a, const GpuDevice &b) { return rank(a) < rank(b); });
}

std::string AcceleratorReader::computeStack(const std::optional<GpuDevice> &gpu) const
{
    if (!gpu)
        return {};
    if (gpu->driver == "nvidia" && (exists(m_paths.devRoot + "/nvidiactl") || exists(m_sysRoot + "/module/nvidia")))
        return "CUDA";
    if (gpu->driver == "amdgpu" && exists(m_paths.devRoot + "/kfd"))
        return "ROCm";
    for (const std::string &folder : m_paths.vulkanIcdDirs) {
        DIR *dir = ::opendir(folder.c_str());
        if (!dir)
            continue;
        bool found = false;
        while (const dirent *entry = ::readdir(dir)) {
            const std::string_view name(entry->d_name);
            // lavapipe runs Vulkan on the CPU: installed, it says nothing about the GPU.
            found = name.size() > 5 && name.substr(name.size() - 5) == ".json" && name.substr(0, 7) != "lvp_icd";
            if (found)
                break;
        }
        ::closedir(dir);
        if (found)
            return "Vulkan";
    }
    return {};
}

std::optional<NpuDevice> AcceleratorReader::npu() const
{
    const std::string classDir = m_sysRoot + "/class/accel/";
    for (const std::string &node : numberedEntries(classDir, "accel")) {
        const std::string device = classDir + node + "/device/";
        NpuDevice npu;
        npu.node = node;
        npu.driver = linkBaseName(device + "driver");
        npu.name = npuNameFor(npu.driver);
        std::string buffer;
        if (readBusyTime(device + "npu_busy_time_us", buffer))
            npu.busyTimePath = device + "npu_busy_time_us";
        return npu;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> AcceleratorReader::readBusyTime(const std::string &path, std::string &buffer)
{
    unsigned long long value = 0;
    if (path.empty() || !ProcFile::read(path, buffer) || !ProcFile::parseU64(ProcFile::trimmed(buffer), value))
        return std::nullopt;
    return value;
}
