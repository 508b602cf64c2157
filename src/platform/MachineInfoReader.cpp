#include "MachineInfoReader.h"

#include "ProcFile.h"

namespace {
std::string readTrimmed(const std::string &path)
{
    std::string text;
    if (!ProcFile::read(path, text))
        return {};
    // Device-tree strings end in a NUL.
    if (const size_t nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    return std::string(ProcFile::trimmed(text));
}
}

MachineInfoReader::MachineInfoReader(std::string sysRoot, std::string procRoot, std::string etcRoot)
    : m_sysRoot(std::move(sysRoot))
    , m_procRoot(std::move(procRoot))
    , m_etcRoot(std::move(etcRoot))
{
}

std::string MachineInfoReader::modelIdentifier() const
{
    std::string model = readTrimmed(m_sysRoot + "/class/dmi/id/product_name");
    if (model.empty())
        model = readTrimmed(m_sysRoot + "/firmware/devicetree/base/model");
    if (model.empty())
        model = readTrimmed(m_procRoot + "/device-tree/model");
    return model;
}

std::string MachineInfoReader::cpuInfoValue(std::string_view text, std::string_view key)
{
    while (!text.empty()) {
        const std::string_view line = ProcFile::nextLine(text);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || ProcFile::trimmed(line.substr(0, colon)) != key)
            continue;
        return std::string(ProcFile::trimmed(line.substr(colon + 1)));
    }
    return {};
}

std::string MachineInfoReader::processorName() const
{
    std::string text;
    if (!ProcFile::read(m_procRoot + "/cpuinfo", text))
        return {};
    for (const char *key : {"model name", "Processor", "Hardware"})
        if (std::string value = cpuInfoValue(text, key); !value.empty())
            return value;
    return {};
}

std::string MachineInfoReader::osReleaseValue(std::string_view text, std::string_view key)
{
    while (!text.empty()) {
        const std::string_view line = ProcFile::trimmed(ProcFile::nextLine(text));
        if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != '=')
            continue;
        std::string_view value = line.substr(key.size() + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        std::string unescaped;
        for (size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                ++i;
            unescaped += value[i];
        }
        return unescaped;
    }
    return {};
}

std::string MachineInfoReader::osPrettyName() const
{
    std::string text;
    if (!ProcFile::read(m_etcRoot + "/os-release", text))
        return {};
    return osReleaseValue(text, "PRETTY_NAME");
}

std::string MachineInfoReader::kernelRelease() const
{
    return readTrimmed(m_procRoot + "/sys/kernel/osrelease");
}
