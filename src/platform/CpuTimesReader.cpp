#include "CpuTimesReader.h"

#include "ProcFile.h"

CpuTimesReader::CpuTimesReader(const std::string &procRoot)
    : m_file(procRoot + "/stat")
{
}

bool CpuTimesReader::read(std::vector<CpuTicks> &out)
{
    out.clear();
    if (!m_file.read(m_buffer))
        return false;

    std::string_view text(m_buffer);
    while (!text.empty()) {
        std::string_view line = ProcFile::nextLine(text);
        if (line.size() < 4 || line.substr(0, 3) != "cpu" || line[3] < '0' || line[3] > '9')
            continue;
        std::string_view name = ProcFile::nextField(line);
        CpuTicks ticks;
        if (!ProcFile::parseInt(name.substr(3), ticks.id) || ticks.id < 0)
            continue;
        // The first four counters exist on every kernel; the later ones were added over
        // time and read as 0 when absent.
        int parsed = 0;
        bool garbled = false;
        for (auto &counter : ticks.counters) {
            std::string_view field = ProcFile::nextField(line);
            if (field.empty())
                break;
            unsigned long long value = 0;
            if (!ProcFile::parseU64(field, value)) {
                garbled = true;
                break;
            }
            counter = value;
            ++parsed;
        }
        if (garbled || parsed < 4)
            continue;
        out.push_back(ticks);
    }
    return !out.empty();
}

CpuLoadDelta CpuTimesReader::delta(const CpuTicks &previous, const CpuTicks &current)
{
    auto diff = [&](int counter) -> std::uint64_t {
        const std::uint64_t before = previous.counters[counter];
        const std::uint64_t now = current.counters[counter];
        return now > before ? now - before : 0;
    };
    CpuLoadDelta d;
    d.user = diff(CpuTicks::User) + diff(CpuTicks::Nice);
    d.system = diff(CpuTicks::System) + diff(CpuTicks::Irq) + diff(CpuTicks::SoftIrq);
    d.busy = d.user + d.system + diff(CpuTicks::Steal);
    d.idle = diff(CpuTicks::Idle) + diff(CpuTicks::IoWait);
    return d;
}
