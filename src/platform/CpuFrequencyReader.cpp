#include "CpuFrequencyReader.h"

#include "ProcFile.h"

#include <algorithm>
#include <dirent.h>
#include <cstring>

CpuFrequencyReader::CpuFrequencyReader(std::string sysRoot)
{
    const std::string cpus = sysRoot + "/devices/system/cpu";
    DIR *dir = ::opendir(cpus.c_str());
    if (!dir)
        return;
    std::vector<std::string> files;
    while (const dirent *d = ::readdir(dir)) {
        const char *name = d->d_name;
        if (std::strncmp(name, "cpu", 3) != 0 || name[3] < '0' || name[3] > '9')
            continue;
        const std::string file = cpus + '/' + name + "/cpufreq/scaling_cur_freq";
        std::string probe;
        if (ProcFile::read(file, probe))
            files.push_back(file);
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end());
    for (std::string &file : files)
        m_files.emplace_back(std::move(file));
}

double CpuFrequencyReader::meanGHz()
{
    unsigned long long totalKHz = 0;
    int counted = 0;
    for (KeptFile &file : m_files) {
        unsigned long long kHz = 0;
        if (file.read(m_buffer) && ProcFile::parseU64(ProcFile::trimmed(m_buffer), kHz) && kHz > 0) {
            totalKHz += kHz;
            ++counted;
        }
    }
    return counted ? static_cast<double>(totalKHz) / counted / 1e6 : 0.0;
}
