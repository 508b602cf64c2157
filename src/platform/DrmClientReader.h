#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// What one open DRM file says of its client in /proc/<pid>/fdinfo/<fd>, the kernel's
// "DRM client usage stats" keys.
struct DrmFdinfo
{
    std::string driver;                    // drm-driver: amdgpu, i915, xe, msm...
    std::string pdev;                      // drm-pdev: the PCI address; optional in the format
    std::optional<std::uint64_t> clientId; // drm-client-id; without it this is no client record
    // Device-local memory, the GPU's own: amdgpu's "vram", xe's "vram0", i915's "local0".
    // Absent when no such region is listed (an integrated GPU has none).
    std::optional<std::uint64_t> deviceBytes;
    // What the client holds in system memory for the GPU: GTT, "system0", "cpu", stolen.
    std::uint64_t systemBytes = 0;
    std::uint64_t engineNs = 0;           // busy time summed over drm-engine-<name>, cumulative
};

// A process's share of the DRM clients it holds, each client counted once.
struct DrmProcessMemory
{
    int pid = 0;
    std::optional<std::uint64_t> deviceBytes;   // see DrmFdinfo
    std::uint64_t systemBytes = 0;
    int clients = 0;
};

// A process of the current table, as the caller already read it.
struct DrmCandidate
{
    int pid = 0;
    std::uint64_t startTime = 0;      // tells a reused pid from the old one
    std::uint64_t residentPages = 0;  // larger processes are looked at first, see pass()
};

// How many descriptor folders one pass may list: at least `least`, then more while the
// pass is inside `budgetUs`, up to `most`.
struct DrmProbeBudget
{
    size_t least = 8;
    size_t most = 256;
    std::int64_t budgetUs = 400;
};

// Per-process GPU memory for the drivers that report it through fdinfo (amdgpu, i915, xe,
// msm, panfrost...). Only processes holding a DRM device open have such records, and
// finding them means listing descriptor folders: an open, a directory read and a readlink
// per descriptor, for every process. Across 1000 processes that measured 26 ms a pass on
// the two-core development VM, against 0.42 ms for the pass below (bench/gpu_clients.cpp),
// so the search is spread over passes:
//
// - A process found holding /dev/dri/* ("holder") has its DRM descriptors' fdinfo read
//   every pass.
// - Every pass lists the descriptors of a few processes (see DrmProbeBudget): a couple of
//   turns round robin to those looked at longest ago, then those never looked at (largest
//   resident size first: the model runners and browsers that hold GPUs are large, so at
//   start they are found in the first pass), then more of the round robin. Holders take
//   their turn too, for a device they open later.
//
// So a process started since the last pass is looked at in the next pass, unless more than
// `least` new ones wait ahead of it; a process that was looked at and opens a GPU only
// later is noticed within ceil(processes / least) passes: with 1000 processes, at most 125
// passes, about four minutes at the process table's two-second interval, on a machine so
// slow that 8 listings fill the time budget. The loaded two-core development VM lists 9
// (processes of 16 descriptors) to 17 (idle ones of three) a pass; a desktop whose system
// calls cost a microsecond lists 100 or more and comes round in under 10 passes (20 s).
// While new processes keep arriving faster than they can be looked at, the round robin
// still has roundRobinTurns() a pass: ceil(processes / 2) passes at worst, with the
// default budget.
//
// A device the kernel has runtime-suspended is never woken: its node's
// power/runtime_status is read first, and a "suspended" device's fdinfo is not read (some
// drivers resume the device to answer; a suspended GPU holds nothing in its memory).
// Other users' processes are skipped quietly: their descriptor folders are not readable.
class DrmClientReader
{
public:
    explicit DrmClientReader(std::string procRoot = "/proc", std::string sysRoot = "/sys",
                             DrmProbeBudget budget = {});

    // One pass over the table; the processes holding DRM clients with readable records,
    // in pid order. A client open in two processes (a descriptor passed to a child) counts
    // for the lower pid only.
    std::vector<DrmProcessMemory> pass(const std::vector<DrmCandidate> &processes);

    // Whether the last pass read any client record: whether a driver gives figures at all.
    bool sawClients() const { return m_sawClients; }
    size_t holderCount() const;
    // Descriptor folders listed in the last pass.
    size_t probedLastPass() const { return m_probed; }
    // The listings each pass keeps for the round robin, however many new processes wait.
    size_t roundRobinTurns() const { return std::max<size_t>(1, m_budget.least / 4); }

    // Parses one fdinfo text; false when it is no DRM client record.
    static bool parseFdinfo(std::string_view text, DrmFdinfo &out);
    // The node name ("renderD128", "card1") when a descriptor's target is a DRM device.
    static std::optional<std::string> drmNode(std::string_view target);

private:
    struct DrmFd { int fd; std::string node; };
    struct Known
    {
        std::uint64_t startTime = 0;
        std::uint64_t lastProbe = 0;   // pass number; 0: never
        std::uint64_t seen = 0;        // pass number it was last in the table
        std::vector<DrmFd> drmFds;
    };

    void probe(int pid, Known &known);
    bool listDescriptors(int pid, std::vector<DrmFd> &out);
    bool suspended(const std::string &node);
    bool readFile(const std::string &path, std::string &out);

    std::string m_proc;
    std::string m_sys;
    DrmProbeBudget m_budget;
    std::unordered_map<int, Known> m_known;
    std::uint64_t m_pass = 0;
    std::vector<std::pair<std::string, bool>> m_statusThisPass;   // node -> suspended
    struct Turn { std::uint64_t lastProbe; std::uint64_t residentPages; int pid; };
    std::vector<Turn> m_order;
    std::vector<int> m_turns;
    std::string m_buffer;
    size_t m_probed = 0;
    bool m_sawClients = false;
};
