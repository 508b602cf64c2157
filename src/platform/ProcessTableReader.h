#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class QThreadPool;

// One process as /proc/<pid>/stat describes it.
struct ProcessStat
{
    int pid = 0;
    char state = '?';               // R, S, D, T (stopped), t, Z, I ...
    std::uint64_t cpuTicks = 0;     // utime + stime, in clock ticks
    std::uint64_t startTime = 0;    // clock ticks after boot; tells a reused pid from the old one
    // Pages in memory now: stat's rss from read and readAll, statm's after readResident.
    std::uint64_t residentPages = 0;
    std::string comm;               // the kernel's short name (at most 15 bytes)
};

// Enumerates the processes under a procfs root. Every sample reads each process's stat
// file; the path lookups (exe, cmdline) are separate calls so callers make them only for
// the few rows they show.
//
// System calls dominate the cost of a sample (open, read and close per process), so each
// stat file stays open between samples and is re-read in place with one pread. A kept
// descriptor belongs to one process for good: once it exits the read fails, even if its
// pid is handed to a new process, which then gets a descriptor of its own.
//
// On a machine with more than one core a large table is read in two halves at once, the
// second on a helper thread owned by the reader; the caller sees a plain blocking call.
class ProcessTableReader
{
public:
    explicit ProcessTableReader(std::string procRoot = "/proc");
    ~ProcessTableReader();
    ProcessTableReader(const ProcessTableReader &) = delete;
    ProcessTableReader &operator=(const ProcessTableReader &) = delete;

    // Replaces `out` with every process that could be read; ones that vanish while being
    // read are skipped. False when the root itself cannot be listed.
    bool readAll(std::vector<ProcessStat> &out);

    // One process; false when it does not exist (any more) or its stat is unreadable.
    bool read(int pid, ProcessStat &out);

    // stat's rss lags the resident count that top and ps show, which statm holds; this
    // replaces it with statm's, keeping stat's when statm cannot be read. A table sample
    // leaves it out and the caller asks only for the rows it shows: reading statm for
    // every process would add a read per process to every sample for figures that
    // only a handful of rows use. Those rows' statm files stay open, like the stat files,
    // until a sample passes without asking for them.
    void readResident(ProcessStat &stat);

    // Parses the text of a stat file. The name sits in parentheses and may itself hold
    // spaces and parentheses, so it runs to the last ')'.
    static bool parseStat(std::string_view text, ProcessStat &out);
    // The resident page count, the second field of a statm file.
    static bool parseStatm(std::string_view text, std::uint64_t &residentPages);

    // The executable the process runs: the target of exe when readable, else argv[0] of
    // cmdline when it names the same program as comm, else comm. Empty when the process
    // has gone.
    std::string fullPath(int pid, const std::string &comm);

    // The processes named exactly as one of `names`, in name order and ascending pid
    // within a name (a pid appears once per name it matches). `listed`, when given, says
    // whether the process list could be read at all. comm holds only the first
    // 15 bytes of a name, so a longer name is matched on the executable's file name
    // (exe, else argv[0]); a shorter one on comm, as pgrep -x does.
    std::vector<int> pidsNamed(const std::vector<std::string> &names, bool *listed = nullptr);

    // The file name at the end of a path.
    static std::string_view lastComponent(std::string_view path);

    // The user owning the process (its /proc folder's owner); -1 when it has gone.
    long long ownerUid(int pid) const;

    // The kernel's tick rate for cpuTicks.
    static long ticksPerSecond();
    // Bytes per memory page, for rss.
    static std::uint64_t pageSize();

    // How many stat and statm files are currently held open.
    size_t openStatFiles() const { return m_statFds.size() + m_statmFds.size(); }

private:
    struct Held { int fd = -1; unsigned generation = 0; };
    struct Slot { int pid = 0; int fd = -1; bool read = false; };
    static constexpr size_t kPage = 4096;
    static constexpr size_t kParallelFrom = 256;   // below this a hand-off costs more than it saves

    bool readHeld(int pid, std::string &out);
    int heldFd(int pid);                // the kept descriptor, opened if need be; -1 when none
    void dropHeld(int pid);
    // Closes the descriptors not touched in `generation`.
    static void closeStale(std::unordered_map<int, Held> &held, unsigned generation);
    void readSlots(size_t begin, size_t end, std::vector<ProcessStat> &out, char *page);

    std::string m_root;
    int m_rootFd = -1;
    std::string m_buffer;
    char m_page[kPage];
    char m_helperPage[kPage];
    std::vector<Slot> m_slots;
    std::unique_ptr<QThreadPool> m_helperPool;
    std::unordered_map<int, Held> m_statFds;
    std::unordered_map<int, Held> m_statmFds;
    unsigned m_generation = 0;
    size_t m_fdBudget = 0;
};
