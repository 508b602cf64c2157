#pragma once

#include <string>
#include <string_view>

// The machine's self-description: firmware model, processor name and operating system.
class MachineInfoReader
{
public:
    MachineInfoReader(std::string sysRoot = "/sys", std::string procRoot = "/proc", std::string etcRoot = "/etc");

    // DMI product name, else the device tree's model (ARM boards); empty when neither.
    std::string modelIdentifier() const;
    // "model name" of the first processor in cpuinfo, else "Processor"/"Hardware".
    std::string processorName() const;
    // PRETTY_NAME of os-release, unquoted.
    std::string osPrettyName() const;
    std::string kernelRelease() const;

    static std::string cpuInfoValue(std::string_view cpuinfo, std::string_view key);
    static std::string osReleaseValue(std::string_view osRelease, std::string_view key);

private:
    std::string m_sysRoot;
    std::string m_procRoot;
    std::string m_etcRoot;
};
