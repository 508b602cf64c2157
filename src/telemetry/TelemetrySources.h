#pragma once

#include "PagingMonitor.h"
#include "platform/AcceleratorReader.h"
#include "platform/FileSystemStats.h"
#include "platform/InterfaceAddressReader.h"

#include <QDBusConnection>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Where the telemetry pass reads the machine from. Tests point these at fixture trees.
struct TelemetrySources
{
    std::string procRoot = "/proc";
    std::string sysRoot = "/sys";
    std::string homePath;   // empty: the user's home directory
    // Use of the file system holding homePath; unset: its statvfs.
    std::function<std::optional<FileSystemUsage>()> homeUsage;
    std::string tmpPath = "/tmp";
    std::string crashPath = "/var/crash";
    // The memory purge: helper program and polkit launcher; empty: the installed ones.
    // elevate unset: through pkexec unless running as root.
    QString memoryPurgeHelper;
    QString pkexecPath;
    std::optional<bool> elevateMemoryPurge;
    std::string etcRoot = "/etc";
    // How often the paging counters are read: /proc/vmstat makes the kernel add up every
    // CPU's counters, which costs more than the rest of the memory reading.
    int pagingIntervalMs = PagingMonitor::kDefaultIntervalMs;
    // The compute stacks' device nodes and Vulkan manifests, beside sysRoot's GPUs and NPUs.
    AcceleratorPaths accelerators;
    // A monotonic clock in µs that NPU load is timed by; unset: the steady clock.
    std::function<std::int64_t()> steadyMicroseconds;
    // Everything below reaches beyond the file system and is off unless set, so a
    // provider built for a test never leaves the machine: forThisMachine() sets them.
    QUrl publicAddressUrl;                           // a plain-text address echo over HTTPS
    std::optional<QDBusConnection> powerProfilesBus; // where power-profiles-daemon answers
    std::string nvmlLibrary;                         // NVIDIA's management library
    // The interface addresses; unset: getifaddrs.
    std::function<std::vector<InterfaceAddress>()> interfaceAddresses;

    static TelemetrySources forThisMachine();
};
