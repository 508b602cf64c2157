// The readers of procfs text files: meminfo, stat, vmstat, diskstats, cpuinfo, a process's
// stat and statm, and the CPU lists of sysfs ("0-3,8"), plus os-release. Every input goes
// through every parser, so a sample of one file also tries the others.
#include "FuzzInput.h"

#include "platform/CpuTimesReader.h"
#include "platform/CpuTopologyReader.h"
#include "platform/DiskStatsReader.h"
#include "platform/MachineInfoReader.h"
#include "platform/MemInfoReader.h"
#include "platform/ProcFile.h"
#include "platform/ProcessTableReader.h"
#include "platform/VmStatReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text = FuzzInput::text(data, size);

    const MemInfo memory = MemInfoReader::parse(text);
    (void)memory;
    const VmStat paging = VmStatReader::parse(text);
    (void)paging;

    const std::vector<int> cpus = CpuTopologyReader::parseCpuList(text);
    for (const int cpu : cpus)
        if (cpu < 0 || cpu > CpuTopologyReader::kMaxCpuNumber)
            std::abort();

    ProcessStat stat;
    ProcessTableReader::parseStat(text, stat);
    std::uint64_t residentPages = 0;
    ProcessTableReader::parseStatm(text, residentPages);
    (void)ProcessTableReader::lastComponent(text);

    (void)MachineInfoReader::cpuInfoValue(text, "model name");
    (void)MachineInfoReader::osReleaseValue(text, "PRETTY_NAME");

    std::string_view fields = text;
    for (std::string_view field = ProcFile::nextField(fields); !field.empty(); field = ProcFile::nextField(fields)) {
        unsigned long long u64 = 0;
        int i = 0;
        ProcFile::parseU64(field, u64);
        ProcFile::parseInt(field, i);
    }

    // These two read <procRoot>/stat and <procRoot>/diskstats; with no sysfs beside them
    // the disk reader falls back to its name rule.
    FuzzInput::put("proc/stat", text);
    FuzzInput::put("proc/diskstats", text);
    static CpuTimesReader cpuTimes(FuzzInput::root() + "/proc");
    std::vector<CpuTicks> ticks;
    if (cpuTimes.read(ticks) && ticks.size() > 1)
        (void)CpuTimesReader::delta(ticks.front(), ticks.back());
    DiskStatsReader disks(FuzzInput::root() + "/proc", FuzzInput::root() + "/no-sys");
    std::vector<DiskCounters> perDisk;
    (void)disks.read(&perDisk);
    return 0;
}
