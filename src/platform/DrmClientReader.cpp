#include "DrmClientReader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <map>
#include <tuple>

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

std::optional<std::uint64_t> number(std::string_view s, std::string_view *rest = nullptr)
{
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (error != std::errc() || end == s.data())
        return std::nullopt;
    if (rest)
        *rest = trim(std::string_view(end, static_cast<size_t>(s.data() + s.size() - end)));
    return value;
}

// "123", "123 KiB", "4 MiB": bytes. The format names KiB and MiB; GiB costs nothing to allow.
std::optional<std::uint64_t> bytes(std::string_view s)
{
    std::string_view unit;
    const auto value = number(s, &unit);
    if (!value)
        return std::nullopt;
    if (unit.empty())
        return *value;
    if (unit == "KiB")
        return *value << 10;
    if (unit == "MiB")
        return *value << 20;
    if (unit == "GiB")
        return *value << 30;
    return std::nullopt;
}

// The GPU's own memory: amdgpu and xe call it vram (xe numbers it: vram0), i915 local0.
// Everything else a driver lists (gtt, cpu, system0, stolen-system0) lives in system RAM.
bool deviceLocal(std::string_view region)
{
    return startsWith(region, "vram") || startsWith(region, "local");
}
}

DrmClientReader::DrmClientReader(std::string procRoot, std::string sysRoot, DrmProbeBudget budget)
    : m_proc(std::move(procRoot))
    , m_sys(std::move(sysRoot))
    , m_budget(budget)
{
    m_budget.least = std::max<size_t>(m_budget.least, 1);
    m_budget.most = std::max(m_budget.most, m_budget.least);
}

bool DrmClientReader::parseFdinfo(std::string_view text, DrmFdinfo &out)
{
    out = DrmFdinfo{};
    // Per region, the three ways drivers state it. resident is what occupies the memory
    // now; the older drm-memory-<region> means the same; total also counts buffers
    // allocated there but evicted, so it is the last resort. A driver may give several
    // (amdgpu on newer kernels prints drm-memory-vram beside drm-resident-vram): one figure
    // per region, never their sum.
    struct Region { std::optional<std::uint64_t> resident, memory, total; };
    std::map<std::string_view, Region> regions;

    while (!text.empty()) {
        const size_t newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view key = line.substr(0, colon);
        const std::string_view value = trim(line.substr(colon + 1));
        if (!startsWith(key, "drm-"))
            continue;
        if (key == "drm-driver") {
            out.driver = std::string(value);
        } else if (key == "drm-pdev") {
            out.pdev = std::string(value);
        } else if (key == "drm-client-id") {
            out.clientId = number(value);
        } else if (startsWith(key, "drm-engine-capacity-")) {
            // how many engines of a kind; no time
        } else if (startsWith(key, "drm-engine-")) {
            std::string_view unit;
            if (const auto ns = number(value, &unit); ns && unit == "ns")
                out.engineNs += *ns;
        } else if (startsWith(key, "drm-resident-")) {
            regions[key.substr(13)].resident = bytes(value);
        } else if (startsWith(key, "drm-memory-")) {
            regions[key.substr(11)].memory = bytes(value);
        } else if (startsWith(key, "drm-total-")) {
            regions[key.substr(10)].total = bytes(value);
        }
    }
    if (!out.clientId)
        return false;
    for (const auto &[name, region] : regions) {
        const std::optional<std::uint64_t> figure = region.resident ? region.resident
                                                    : region.memory ? region.memory : region.total;
        if (!figure)
            continue;
        if (deviceLocal(name))
            out.deviceBytes = out.deviceBytes.value_or(0) + *figure;
        else
            out.systemBytes += *figure;
    }
    return true;
}

std::optional<std::string> DrmClientReader::drmNode(std::string_view target)
{
    constexpr std::string_view kDri = "/dev/dri/";
    if (!startsWith(target, kDri))
        return std::nullopt;
    const std::string_view node = target.substr(kDri.size());
    if (!startsWith(node, "card") && !startsWith(node, "renderD"))
        return std::nullopt;   // /dev/dri/by-path links never sit in a descriptor table
    return std::string(node);
}

bool DrmClientReader::readFile(const std::string &path, std::string &out)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    out.clear();
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        out.append(chunk, static_cast<size_t>(got));
        if (out.size() > (64u << 10))
            break;   // no client record is that long
    }
    ::close(fd);
    return true;
}

bool DrmClientReader::suspended(const std::string &node)
{
    for (const auto &[name, isSuspended] : m_statusThisPass)
        if (name == node)
            return isSuspended;
    // A device without runtime power management has no such file and is always awake.
    std::string status;
    const bool isSuspended = readFile(m_sys + "/class/drm/" + node + "/device/power/runtime_status", status)
                          && startsWith(status, "suspended");
    m_statusThisPass.emplace_back(node, isSuspended);
    return isSuspended;
}

void DrmClientReader::probe(int pid, Known &known)
{
    known.lastProbe = m_pass;
    known.drmFds.clear();
    ++m_probed;
    listDescriptors(pid, known.drmFds);
}

bool DrmClientReader::listDescriptors(int pid, std::vector<DrmFd> &out)
{
    // getdents64 straight into a stack buffer: opendir's stat and heap buffer are a third
    // of the cost for the few descriptors most processes hold.
    const std::string folder = m_proc + '/' + std::to_string(pid) + "/fd";
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;   // another user's process (EACCES), or gone
    alignas(8) char entries[8192];
    char target[256];
    for (;;) {
        const long got = ::syscall(SYS_getdents64, dirFd, entries, sizeof entries);
        if (got <= 0)
            break;
        for (long offset = 0; offset < got;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(entries + offset);
            offset += entry->d_reclen;
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
                continue;
            const ssize_t length = ::readlinkat(dirFd, entry->d_name, target, sizeof target);
            if (length <= 0 || length == sizeof target)
                continue;
            if (auto node = drmNode(std::string_view(target, static_cast<size_t>(length))))
                out.push_back({std::atoi(entry->d_name), std::move(*node)});
        }
    }
    ::close(dirFd);
    return true;
}

size_t DrmClientReader::holderCount() const
{
    return static_cast<size_t>(
        std::count_if(m_known.begin(), m_known.end(), [](const auto &k) { return !k.second.drmFds.empty(); }));
}

std::vector<DrmProcessMemory> DrmClientReader::pass(const std::vector<DrmCandidate> &processes)
{
    const auto start = std::chrono::steady_clock::now();
    ++m_pass;
    m_probed = 0;
    m_statusThisPass.clear();

    // Who is here now; a reused pid starts afresh.
    m_order.clear();
    m_order.reserve(processes.size());
    for (const DrmCandidate &process : processes) {
        Known &known = m_known[process.pid];
        if (known.seen == 0 || known.startTime != process.startTime) {
            known = Known{};
            known.startTime = process.startTime;
        }
        known.seen = m_pass;
        m_order.push_back({known.lastProbe, process.residentPages, process.pid});
    }
    std::erase_if(m_known, [this](const auto &entry) { return entry.second.seen != m_pass; });

    // This pass's descriptor listings. A few turns go round robin to the processes looked
    // at longest ago, whatever else is waiting, so a stream of new processes (a build
    // starting compilers) cannot starve them; then the never looked at, largest first; then
    // more of the round robin; as many as the budget allows.
    const auto oldBegin = std::partition(m_order.begin(), m_order.end(), [](const Turn &t) { return t.lastProbe == 0; });
    const size_t fresh = static_cast<size_t>(oldBegin - m_order.begin());
    const size_t old = m_order.size() - fresh;
    const size_t freshTaken = std::min(fresh, m_budget.most);
    const size_t oldTaken = std::min(old, m_budget.most);
    std::partial_sort(m_order.begin(), m_order.begin() + static_cast<std::ptrdiff_t>(freshTaken), oldBegin,
                      [](const Turn &a, const Turn &b) {
                          return std::tie(b.residentPages, a.pid) < std::tie(a.residentPages, b.pid);
                      });
    std::partial_sort(oldBegin, oldBegin + static_cast<std::ptrdiff_t>(oldTaken), m_order.end(),
                      [](const Turn &a, const Turn &b) { return std::tie(a.lastProbe, a.pid) < std::tie(b.lastProbe, b.pid); });
    const size_t roundRobin = std::min(oldTaken, roundRobinTurns());
    m_turns.clear();
    for (size_t i = 0; i < roundRobin; ++i)
        m_turns.push_back(oldBegin[static_cast<std::ptrdiff_t>(i)].pid);
    for (size_t i = 0; i < freshTaken; ++i)
        m_turns.push_back(m_order[i].pid);
    for (size_t i = roundRobin; i < oldTaken; ++i)
        m_turns.push_back(oldBegin[static_cast<std::ptrdiff_t>(i)].pid);
    for (size_t i = 0; i < m_turns.size() && i < m_budget.most; ++i) {
        if (i >= m_budget.least && std::chrono::steady_clock::now() - start > std::chrono::microseconds(m_budget.budgetUs))
            break;
        probe(m_turns[i], m_known[m_turns[i]]);
    }

    // Every holder's client records. A descriptor that no longer names a client (closed,
    // or its number reused for another file) is dropped.
    struct Client { int pid; std::string key; std::uint64_t id; DrmFdinfo info; };
    std::vector<Client> clients;
    std::string text;
    for (auto &[pidKey, known] : m_known) {
        const int pid = pidKey;   // clang 14 cannot capture a structured binding
        std::erase_if(known.drmFds, [&](const DrmFd &drm) {
            if (suspended(drm.node))
                return false;   // kept, unread: reading could wake it
            DrmFdinfo info;
            if (!readFile(m_proc + '/' + std::to_string(pid) + "/fdinfo/" + std::to_string(drm.fd), text)
                || !parseFdinfo(text, info))
                return true;
            // Without drm-pdev (older kernels) the node stands for the device.
            std::string key = info.driver + '@' + (info.pdev.empty() ? drm.node : info.pdev);
            clients.push_back({pid, std::move(key), *info.clientId, std::move(info)});
            return false;
        });
    }
    m_sawClients = !clients.empty();

    // Each client once: two descriptors of one client (dup, or passed to a child) carry
    // the same figures, not twice the memory.
    std::sort(clients.begin(), clients.end(), [](const Client &a, const Client &b) {
        return std::tie(a.key, a.id, a.pid) < std::tie(b.key, b.id, b.pid);
    });
    clients.erase(std::unique(clients.begin(), clients.end(),
                              [](const Client &a, const Client &b) { return a.key == b.key && a.id == b.id; }),
                  clients.end());
    std::sort(clients.begin(), clients.end(), [](const Client &a, const Client &b) { return a.pid < b.pid; });

    std::vector<DrmProcessMemory> out;
    for (const Client &client : clients) {
        if (out.empty() || out.back().pid != client.pid)
            out.push_back(DrmProcessMemory{client.pid});
        DrmProcessMemory &process = out.back();
        if (client.info.deviceBytes)
            process.deviceBytes = process.deviceBytes.value_or(0) + *client.info.deviceBytes;
        process.systemBytes += client.info.systemBytes;
        ++process.clients;
    }
    return out;
}
