#pragma once

#include <string>
#include <string_view>
#include <vector>

// Which logical CPUs are efficiency cores and which are performance cores.
struct CpuTopology
{
    int cpuCount = -1;                  // logical CPUs; -1 when it cannot be read
    std::vector<int> efficiencyCpus;    // CPU ids, ascending
    std::vector<int> performanceCpus;   // CPU ids, ascending
};

// Reads the CPU layout from sysfs (and /proc/stat for the count when sysfs lacks it).
// Hybrid Intel parts publish their two PMUs (cpu_core, cpu_atom); ARM big.LITTLE parts
// publish a per-CPU capacity, highest for the performance cores. Everything else is
// homogeneous: every CPU is a performance CPU.
class CpuTopologyReader
{
public:
    explicit CpuTopologyReader(const std::string &sysRoot = "/sys", const std::string &procRoot = "/proc");

    CpuTopology read() const;

    // Parses a kernel CPU list such as "0-3,8,10-11". Empty on malformed input.
    static constexpr int kMaxCpuNumber = 65535;
    static std::vector<int> parseCpuList(std::string_view text);

private:
    std::string m_sysRoot;
    std::string m_procRoot;
};
