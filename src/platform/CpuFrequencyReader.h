#pragma once

#include "KeptFile.h"

#include <string>
#include <vector>

// The CPUs' current clock from cpufreq's scaling_cur_freq, under a sysfs root. The files
// are found once; a CPU without cpufreq (many virtual machines) is left out.
class CpuFrequencyReader
{
public:
    explicit CpuFrequencyReader(std::string sysRoot = "/sys");

    // The mean current frequency in GHz over the CPUs that report one; 0 when none do.
    double meanGHz();
    int reportingCpus() const { return static_cast<int>(m_files.size()); }

private:
    std::vector<KeptFile> m_files;
    std::string m_buffer;
};
