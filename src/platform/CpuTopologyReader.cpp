#include "CpuTopologyReader.h"

#include "CpuTimesReader.h"
#include "ProcFile.h"

#include <algorithm>
#include <map>

CpuTopologyReader::CpuTopologyReader(const std::string &sysRoot, const std::string &procRoot)
    : m_sysRoot(sysRoot)
    , m_procRoot(procRoot)
{
}

std::vector<int> CpuTopologyReader::parseCpuList(std::string_view text)
{
    std::vector<int> cpus;
    text = ProcFile::trimmed(text);
    while (!text.empty()) {
        const size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
        const size_t dash = item.find('-');
        int first = 0;
        int last = 0;
        if (!ProcFile::parseInt(item.substr(0, dash), first))
            return {};
        last = first;
        if (dash != std::string_view::npos && !ProcFile::parseInt(item.substr(dash + 1), last))
            return {};
        // No kernel numbers CPUs past NR_CPUS (8192 at most today): a larger number is a
        // damaged file, and counting up to INT_MAX would overflow the loop.
        if (first < 0 || last < first || last > kMaxCpuNumber)
            return {};
        for (int cpu = first; cpu <= last; ++cpu)
            cpus.push_back(cpu);
    }
    std::sort(cpus.begin(), cpus.end());
    cpus.erase(std::unique(cpus.begin(), cpus.end()), cpus.end());
    return cpus;
}

CpuTopology CpuTopologyReader::read() const
{
    CpuTopology topology;
    std::string buffer;

    std::vector<int> cpus;
    if (ProcFile::read(m_sysRoot + "/devices/system/cpu/online", buffer))
        cpus = parseCpuList(buffer);
    if (cpus.empty()) {
        std::vector<CpuTicks> ticks;
        if (CpuTimesReader(m_procRoot).read(ticks))
            for (const CpuTicks &t : ticks)
                cpus.push_back(t.id);
    }
    if (cpus.empty())
        return topology;
    topology.cpuCount = static_cast<int>(cpus.size());

    auto isOnline = [&](int cpu) { return std::binary_search(cpus.begin(), cpus.end(), cpu); };

    // Hybrid Intel: the atom PMU lists the efficiency cores.
    std::vector<int> atom;
    if (ProcFile::read(m_sysRoot + "/devices/cpu_atom/cpus", buffer))
        atom = parseCpuList(buffer);
    std::erase_if(atom, [&](int cpu) { return !isOnline(cpu); });
    if (!atom.empty()) {
        topology.efficiencyCpus = atom;
        for (int cpu : cpus)
            if (!std::binary_search(atom.begin(), atom.end(), cpu))
                topology.performanceCpus.push_back(cpu);
        return topology;
    }

    // ARM big.LITTLE: CPUs below the highest capacity are efficiency cores.
    std::map<int, long long> capacity;
    for (int cpu : cpus) {
        unsigned long long value = 0;
        if (!ProcFile::read(m_sysRoot + "/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpu_capacity", buffer))
            continue;
        if (ProcFile::parseU64(ProcFile::trimmed(buffer), value))
            capacity[cpu] = static_cast<long long>(value);
    }
    long long highest = 0;
    for (const auto &[cpu, value] : capacity)
        highest = std::max(highest, value);
    for (int cpu : cpus) {
        const auto it = capacity.find(cpu);
        const bool efficiency = it != capacity.end() && it->second < highest;
        (efficiency ? topology.efficiencyCpus : topology.performanceCpus).push_back(cpu);
    }
    return topology;
}
