#include "ProcessTableReader.h"

#include "ProcFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace {
bool isPidName(const char *name, int &pid)
{
    const char *end = name;
    while (*end >= '0' && *end <= '9')
        ++end;
    if (end == name || *end != '\0')
        return false;
    const auto [ptr, ec] = std::from_chars(name, end, pid);
    return ec == std::errc() && ptr == end && pid > 0;
}

// A whole small file relative to a directory descriptor; an empty file counts as unreadable.
bool readAt(int dirFd, const char *relative, std::string &out)
{
    return ProcFile::readAt(dirFd, relative, out) && !out.empty();
}

// Descriptors this reader may keep: most of the soft limit, raised towards the hard one
// when it is low, leaving plenty for everything else the program opens.
size_t descriptorBudget()
{
    constexpr rlim_t kWanted = 16384;
    constexpr rlim_t kReserve = 512;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    if (limit.rlim_cur < kWanted && limit.rlim_cur < limit.rlim_max) {
        struct rlimit raised = limit;
        raised.rlim_cur = std::min(kWanted, limit.rlim_max);
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur > 2 * kReserve ? static_cast<size_t>((limit.rlim_cur - kReserve) / 2) : 0;
}
}

ProcessTableReader::ProcessTableReader(std::string procRoot)
    : m_root(std::move(procRoot))
{
    m_rootFd = ::open(m_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    m_buffer.reserve(1024);
    m_fdBudget = descriptorBudget();
    if (std::thread::hardware_concurrency() > 1) {
        m_helperPool = std::make_unique<QThreadPool>();
        m_helperPool->setMaxThreadCount(1);
        m_helperPool->setExpiryTimeout(-1);   // a sample every second or two: keep it warm
    }
}

ProcessTableReader::~ProcessTableReader()
{
    for (const auto &[pid, held] : m_statFds)
        ::close(held.fd);
    for (const auto &[pid, held] : m_statmFds)
        ::close(held.fd);
    if (m_rootFd >= 0)
        ::close(m_rootFd);
}

bool ProcessTableReader::readHeld(int pid, std::string &out)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = heldFd(pid);
        if (fd < 0) {
            char relative[32];
            std::snprintf(relative, sizeof relative, "%d/stat", pid);
            return readAt(m_rootFd, relative, out);
        }
        ssize_t n;
        do
            n = ::pread(fd, m_page, kPage, 0);
        while (n < 0 && errno == EINTR);
        if (n > 0) {
            out.assign(m_page, static_cast<size_t>(n));
            return true;
        }
        // The process this descriptor belonged to has exited; a listed pid is a new one.
        dropHeld(pid);
    }
    out.clear();
    return false;
}

std::vector<int> ProcessTableReader::pidsNamed(const std::vector<std::string> &names, bool *listed)
{
    constexpr size_t kCommLength = 15;
    std::vector<int> pids;
    std::vector<ProcessStat> table;
    const bool ok = readAll(table);
    if (listed)
        *listed = ok;
    if (!ok)
        return pids;
    std::sort(table.begin(), table.end(), [](const ProcessStat &a, const ProcessStat &b) { return a.pid < b.pid; });
    for (const std::string &name : names) {
        if (name.empty())
            continue;
        for (const ProcessStat &p : table) {
            if (name.size() <= kCommLength) {
                if (p.comm == name)
                    pids.push_back(p.pid);
            } else if (p.comm == std::string_view(name).substr(0, kCommLength)
                       && lastComponent(fullPath(p.pid, p.comm)) == name) {
                pids.push_back(p.pid);
            }
        }
    }
    return pids;
}

long ProcessTableReader::ticksPerSecond()
{
    static const long ticks = [] {
        const long t = ::sysconf(_SC_CLK_TCK);
        return t > 0 ? t : 100L;
    }();
    return ticks;
}

std::uint64_t ProcessTableReader::pageSize()
{
    static const std::uint64_t bytes = ::sysconf(_SC_PAGESIZE) > 0 ? static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) : 4096;
    return bytes;
}

bool ProcessTableReader::parseStat(std::string_view text, ProcessStat &out)
{
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return false;
    int pid = 0;
    const std::string_view pidText = ProcFile::trimmed(text.substr(0, open));
    if (!ProcFile::parseInt(pidText, pid))
        return false;

    // Fields after the name, numbered as in proc(5): 3 state ... 14 utime, 15 stime,
    // 22 starttime, 24 rss. Every process's line is parsed every sample, so the fields
    // are walked in place rather than split off one by one.
    const char *p = text.data() + close + 1;
    const char *const end = text.data() + text.size();
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
    const auto number = [](const char *from, const char *to, std::uint64_t &v) {
        const auto [ptr, ec] = std::from_chars(from, to, v);
        return ec == std::errc() && ptr == to;
    };
    std::uint64_t utime = 0, stime = 0, start = 0, rss = 0;
    char state = '?';
    int field = 3;
    for (; field <= 24; ++field) {
        while (p < end && blank(*p))
            ++p;
        const char *const from = p;
        while (p < end && !blank(*p))
            ++p;
        if (from == p)
            break;
        switch (field) {
        case 3: state = *from; break;
        case 14: if (!number(from, p, utime)) return false; break;
        case 15: if (!number(from, p, stime)) return false; break;
        case 22: if (!number(from, p, start)) return false; break;
        case 24: if (!number(from, p, rss)) rss = 0; break;
        default: break;
        }
    }
    // rss is a convenience; a line that ends after starttime still counts.
    if (field <= 22)
        return false;
    out.pid = pid;
    out.state = state;
    out.cpuTicks = utime + stime;
    out.startTime = start;
    out.residentPages = rss;
    out.comm.assign(text.substr(open + 1, close - open - 1));
    return true;
}

bool ProcessTableReader::readAll(std::vector<ProcessStat> &out)
{
    out.clear();
    if (m_rootFd < 0)
        return false;
    // A duplicate descriptor gives a fresh directory stream each time; rewinding the old
    // one would also work but fdopendir takes ownership of the descriptor it is given.
    const int dirFd = ::dup(m_rootFd);
    if (dirFd < 0)
        return false;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return false;
    }
    ::rewinddir(dir);
    // Rows whose resident size nobody asked for since the last sample are no longer shown.
    closeStale(m_statmFds, m_generation);
    ++m_generation;
    m_slots.clear();
    while (const dirent *entry = ::readdir(dir)) {
        int pid = 0;
        if (!isPidName(entry->d_name, pid))
            continue;
        m_slots.push_back({pid, heldFd(pid), false});
    }
    ::closedir(dir);

    // The reads are independent of each other and all kernel time, so a second core
    // halves a large table's wait; descriptors and the map stay with this thread.
    out.resize(m_slots.size());
    const size_t split = m_helperPool && m_slots.size() >= kParallelFrom ? m_slots.size() / 2 : m_slots.size();
    QFuture<void> second;
    if (split < m_slots.size())
        second = QtConcurrent::run(m_helperPool.get(), [this, &out, split] {
            readSlots(split, m_slots.size(), out, m_helperPage);
        });
    readSlots(0, split, out, m_page);
    second.waitForFinished();

    size_t kept = 0;
    for (size_t i = 0; i < m_slots.size(); ++i) {
        Slot &slot = m_slots[i];
        if (!slot.read) {
            // No descriptor (over budget), or the held one outlived its process and the
            // pid now names a new one: read it the slow way.
            if (slot.fd >= 0)
                dropHeld(slot.pid);
            if (!readHeld(slot.pid, m_buffer) || !parseStat(m_buffer, out[i]))
                continue;   // gone between the listing and the read
        }
        if (kept != i)
            out[kept] = std::move(out[i]);
        ++kept;
    }
    out.resize(kept);

    // Processes no longer listed have exited: let their descriptors go.
    closeStale(m_statFds, m_generation);
    return true;
}

void ProcessTableReader::readSlots(size_t begin, size_t end, std::vector<ProcessStat> &out, char *page)
{
    for (size_t i = begin; i < end; ++i) {
        Slot &slot = m_slots[i];
        if (slot.fd < 0)
            continue;
        // A stat file is generated whole on a read from offset 0; one page holds it.
        ssize_t n;
        do
            n = ::pread(slot.fd, page, kPage, 0);
        while (n < 0 && errno == EINTR);
        slot.read = n > 0 && parseStat(std::string_view(page, static_cast<size_t>(n)), out[i]);
    }
}

int ProcessTableReader::heldFd(int pid)
{
    auto it = m_statFds.find(pid);
    if (it == m_statFds.end()) {
        if (m_statFds.size() >= m_fdBudget)
            return -1;
        char relative[32];
        std::snprintf(relative, sizeof relative, "%d/stat", pid);
        const int fd = ::openat(m_rootFd, relative, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return -1;
        it = m_statFds.emplace(pid, Held{fd, 0}).first;
    }
    it->second.generation = m_generation;
    return it->second.fd;
}

void ProcessTableReader::closeStale(std::unordered_map<int, Held> &held, unsigned generation)
{
    for (auto it = held.begin(); it != held.end();) {
        if (it->second.generation != generation) {
            ::close(it->second.fd);
            it = held.erase(it);
        } else {
            ++it;
        }
    }
}

void ProcessTableReader::dropHeld(int pid)
{
    if (const auto it = m_statFds.find(pid); it != m_statFds.end()) {
        ::close(it->second.fd);
        m_statFds.erase(it);
    }
}

bool ProcessTableReader::read(int pid, ProcessStat &out)
{
    if (m_rootFd < 0 || pid <= 0)
        return false;
    char relative[32];
    std::snprintf(relative, sizeof relative, "%d/stat", pid);
    return readAt(m_rootFd, relative, m_buffer) && parseStat(m_buffer, out);
}

void ProcessTableReader::readResident(ProcessStat &stat)
{
    if (m_rootFd < 0)
        return;
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto it = m_statmFds.find(stat.pid);
        if (it == m_statmFds.end()) {
            if (m_statFds.size() + m_statmFds.size() >= m_fdBudget)
                break;
            char relative[32];
            std::snprintf(relative, sizeof relative, "%d/statm", stat.pid);
            const int fd = ::openat(m_rootFd, relative, O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return;
            it = m_statmFds.emplace(stat.pid, Held{fd, 0}).first;
        }
        it->second.generation = m_generation;
        ssize_t n;
        do
            n = ::pread(it->second.fd, m_page, kPage, 0);
        while (n < 0 && errno == EINTR);
        std::uint64_t pages = 0;
        if (n > 0 && parseStatm(std::string_view(m_page, static_cast<size_t>(n)), pages)) {
            stat.residentPages = pages;
            return;
        }
        // Kept from an earlier process with this pid, which has exited: open it anew.
        ::close(it->second.fd);
        m_statmFds.erase(it);
    }
    // Over the descriptor budget: the file is read the plain way.
    char relative[32];
    std::snprintf(relative, sizeof relative, "%d/statm", stat.pid);
    std::uint64_t pages = 0;
    if (readAt(m_rootFd, relative, m_buffer) && parseStatm(m_buffer, pages))
        stat.residentPages = pages;
}

bool ProcessTableReader::parseStatm(std::string_view text, std::uint64_t &residentPages)
{
    ProcFile::nextField(text);   // size
    unsigned long long pages = 0;
    if (!ProcFile::parseU64(ProcFile::nextField(text), pages))
        return false;
    residentPages = pages;
    return true;
}

std::string_view ProcessTableReader::lastComponent(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

long long ProcessTableReader::ownerUid(int pid) const
{
    char relative[16];
    std::snprintf(relative, sizeof relative, "%d", pid);
    struct stat st {};
    if (m_rootFd < 0 || ::fstatat(m_rootFd, relative, &st, 0) != 0)
        return -1;
    return static_cast<long long>(st.st_uid);
}

std::string ProcessTableReader::fullPath(int pid, const std::string &comm)
{
    char relative[32];
    std::snprintf(relative, sizeof relative, "%d/exe", pid);
    char target[4096];
    const ssize_t n = m_rootFd >= 0 ? ::readlinkat(m_rootFd, relative, target, sizeof target - 1) : -1;
    if (n > 0) {
        std::string_view path(target, static_cast<size_t>(n));
        // An executable replaced by an upgrade while running still names its old path.
        constexpr std::string_view deleted = " (deleted)";
        if (path.size() > deleted.size() && path.substr(path.size() - deleted.size()) == deleted)
            path.remove_suffix(deleted.size());
        return std::string(path);
    }

    std::snprintf(relative, sizeof relative, "%d/cmdline", pid);
    if (m_rootFd >= 0 && readAt(m_rootFd, relative, m_buffer)) {
        std::string_view argv0(m_buffer.data(), ::strnlen(m_buffer.data(), m_buffer.size()));
        // A program that rewrites its command line into one string ("chrome --type=renderer")
        // leaves no separator after argv[0]; its first word is the program.
        if (argv0.size() == m_buffer.size() || (argv0.size() + 1 == m_buffer.size()))
            if (const size_t space = argv0.find(' '); space != std::string_view::npos)
                argv0 = argv0.substr(0, space);
        // argv[0] is only trusted when it names the program comm names: processes that
        // retitle themselves ("sshd: user@pts/0") would otherwise be listed as "0".
        const std::string_view base = lastComponent(argv0);
        // comm holds at most 15 bytes, so a longer name matches by its start.
        constexpr size_t kCommLength = 15;
        if (!argv0.empty() && !comm.empty()
            && (base == comm || (comm.size() == kCommLength && base.substr(0, kCommLength) == comm)))
            return std::string(argv0);
    }
    return comm;
}
