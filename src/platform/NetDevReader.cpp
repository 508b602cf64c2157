#include "NetDevReader.h"

#include "ProcFile.h"

NetDevReader::NetDevReader(const std::string &procRoot)
    : m_file(procRoot + "/net/dev")
{
}

std::optional<NetTotals> NetDevReader::parse(std::string_view text, std::vector<InterfaceCounters> *perInterface)
{
    if (perInterface)
        perInterface->clear();
    NetTotals totals;
    bool any = false;
    while (!text.empty()) {
        std::string_view line = ProcFile::nextLine(text);
        // "  eth0: rx_bytes rx_packets rx_errs rx_drop rx_fifo rx_frame rx_compressed rx_multicast tx_bytes ..."
        // The two header lines have '|' before any ':' and are skipped by the parse below.
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || line.substr(0, colon).find('|') != std::string_view::npos)
            continue;
        std::string_view fields = line.substr(colon + 1);
        unsigned long long values[9] = {};
        bool ok = true;
        for (auto &value : values) {
            if (!ProcFile::parseU64(ProcFile::nextField(fields), value)) {
                ok = false;
                break;
            }
        }
        if (!ok)
            continue;
        totals.received += values[0];
        totals.sent += values[8];
        if (perInterface) {
            std::string_view name = line.substr(0, colon);
            perInterface->push_back({std::string(ProcFile::nextField(name)), values[0], values[8]});
        }
        any = true;
    }
    if (!any)
        return std::nullopt;
    return totals;
}

std::optional<NetTotals> NetDevReader::read(std::vector<InterfaceCounters> *perInterface)
{
    if (!m_file.read(m_buffer))
        return std::nullopt;
    return parse(m_buffer, perInterface);
}
