#include "VmStatReader.h"

#include "ProcFile.h"

VmStatReader::VmStatReader(const std::string &procRoot)
    : m_file(procRoot + "/vmstat")
{
}

VmStat VmStatReader::parse(std::string_view text)
{
    VmStat stat;
    bool in = false, out = false, swapIn = false, swapOut = false;
    while (!text.empty()) {
        std::string_view line = ProcFile::nextLine(text);
        const std::string_view key = ProcFile::nextField(line);
        unsigned long long value = 0;
        if (!ProcFile::parseU64(ProcFile::nextField(line), value))
            continue;
        if (key == "pgpgin") {
            stat.pagedInKiB = value;
            in = true;
        } else if (key == "pgpgout") {
            stat.pagedOutKiB = value;
            out = true;
        } else if (key == "pswpin") {
            stat.swappedInPages = value;
            swapIn = true;
        } else if (key == "pswpout") {
            stat.swappedOutPages = value;
            swapOut = true;
        }
    }
    stat.valid = in && out;
    stat.swapValid = swapIn && swapOut;
    return stat;
}

VmStat VmStatReader::read()
{
    if (!m_file.read(m_buffer))
        return {};
    return parse(m_buffer);
}
