// The DRM client pass (descriptor discovery spread over passes, plus every holder's fdinfo)
// beside the walk it replaces, measured in the same run: listing every process's
// descriptors each pass, as fuser- or nvtop-style tools do, and reading the fdinfo of each
// DRM descriptor found.
//
// Two machines:
// - live: this machine's /proc, topped up to 1000 processes with idle children of this
//   benchmark. This machine has no /dev/dri, so nobody holds a GPU here: the figures are
//   pure discovery cost.
// - fixture: a generated procfs tree of 1000 processes with 16 descriptors each, five of
//   them holding amdgpu render nodes (one through two descriptors), beside an active
//   device's sysfs power state, on tmpfs (/dev/shm) where there is one. The reads go to
//   files rather than procfs, so these figures show the shape of the cost (how much less
//   is read), not procfs's own.

#include "platform/DrmClientReader.h"
#include "platform/ProcessTableReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr int kProcesses = 1000;
constexpr int kPasses = 200;
constexpr int kWalks = 50;

using Clock = std::chrono::steady_clock;

// What the full walk does each time: every descriptor of every process, and the client
// record behind each DRM one.
size_t fullWalk(const std::string &proc, const std::vector<DrmCandidate> &processes)
{
    size_t clients = 0;
    char target[256];
    std::string text;
    for (const DrmCandidate &process : processes) {
        const std::string base = proc + '/' + std::to_string(process.pid);
        DIR *dir = ::opendir((base + "/fd").c_str());
        if (!dir)
            continue;
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
                continue;
            const ssize_t length = ::readlinkat(::dirfd(dir), entry->d_name, target, sizeof target);
            if (length <= 0 || !DrmClientReader::drmNode(std::string_view(target, size_t(length))))
                continue;
            const int fd = ::open((base + "/fdinfo/" + entry->d_name).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            char buffer[4096];
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            ::close(fd);
            DrmFdinfo info;
            if (got > 0 && DrmClientReader::parseFdinfo(std::string_view(buffer, size_t(got)), info))
                ++clients;
        }
        ::closedir(dir);
    }
    return clients;
}

double micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Figures { double passMedian, passMax, walkMedian; size_t holders, clientsWalk; };

Figures measure(const std::string &proc, const std::string &sys, const std::vector<DrmCandidate> &processes)
{
    DrmClientReader reader(proc, sys);
    // The first passes look at every process once, largest first; what stays is the
    // steady state the app runs in. The first pass is timed apart.
    const auto firstStart = Clock::now();
    reader.pass(processes);
    const double first = micros(Clock::now() - firstStart);
    for (size_t i = 0; i < processes.size() / DrmProbeBudget{}.least + 1; ++i)
        reader.pass(processes);
    std::vector<double> passes;
    size_t probed = 0;
    for (int i = 0; i < kPasses; ++i) {
        const auto start = Clock::now();
        reader.pass(processes);
        passes.push_back(micros(Clock::now() - start));
        probed += reader.probedLastPass();
    }
    std::printf("  %.1f descriptor folders listed a pass on average\n", double(probed) / kPasses);
    std::vector<double> walks;
    size_t clients = 0;
    for (int i = 0; i < kWalks; ++i) {
        const auto start = Clock::now();
        clients = fullWalk(proc, processes);
        walks.push_back(micros(Clock::now() - start));
    }
    std::printf("  first pass %.0f us\n", first);
    return {median(passes), *std::max_element(passes.begin(), passes.end()), median(walks), reader.holderCount(), clients};
}

void report(const char *machine, size_t processes, const Figures &f)
{
    std::printf("%s: %zu processes, %zu holding DRM descriptors (the walk read %zu client records)\n", machine,
                processes, f.holders, f.clientsWalk);
    std::printf("  DRM client pass: median %.0f us, worst %.0f us of %d passes\n", f.passMedian, f.passMax, kPasses);
    std::printf("  full descriptor walk: median %.0f us of %d\n", f.walkMedian, kWalks);
    std::printf("  the pass costs %.1fx less than the walk\n", f.passMedian > 0 ? f.walkMedian / f.passMedian : 0.0);
}

std::vector<DrmCandidate> candidates(const std::string &proc)
{
    ProcessTableReader table(proc);
    std::vector<ProcessStat> stats;
    table.readAll(stats);
    std::vector<DrmCandidate> out;
    for (const ProcessStat &s : stats)
        out.push_back({s.pid, s.startTime, s.residentPages});
    return out;
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(contents);
}

// 1000 processes of 16 descriptors: terminals, pipes, sockets, files; pids 20000 + i.
std::vector<DrmCandidate> buildFixture(const QString &root)
{
    std::vector<DrmCandidate> out;
    const QList<QByteArray> ordinary{"/dev/null", "/dev/pts/0", "pipe:[41234]", "socket:[50321]", "/home/me/.cache/x.db",
                                     "anon_inode:[eventfd]", "/usr/lib/locale/locale-archive"};
    for (int i = 0; i < kProcesses; ++i) {
        const int pid = 20000 + i;
        const QString base = root + QStringLiteral("/proc/%1").arg(pid);
        QDir().mkpath(base + QStringLiteral("/fd"));
        writeFile(base + QStringLiteral("/stat"), QByteArray::number(pid) + " (p) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 100 0 "
                                                      + QByteArray::number(1000 + i) + " 0\n");
        const bool holder = i % 200 == 7;   // five of them
        for (int fd = 0; fd < 16; ++fd) {
            QByteArray target = ordinary[fd % ordinary.size()];
            if (holder && (fd == 9 || (i == 7 && fd == 12)))
                target = "/dev/dri/renderD128";
            QFile::link(QString::fromLatin1(target), base + QStringLiteral("/fd/%1").arg(fd));
            if (target.startsWith("/dev/dri/"))
                writeFile(base + QStringLiteral("/fdinfo/%1").arg(fd),
                          "pos:\t0\nflags:\t02100002\ndrm-driver:\tamdgpu\ndrm-client-id:\t" + QByteArray::number(i)
                              + "\ndrm-pdev:\t0000:03:00.0\ndrm-memory-vram:\t4194304 KiB\ndrm-memory-gtt:\t2048 KiB\n"
                                "drm-memory-cpu:\t0 KiB\ndrm-engine-gfx:\t1045210000 ns\ndrm-engine-compute:\t0 ns\n");
        }
        out.push_back({pid, 100, static_cast<std::uint64_t>(1000 + i)});
    }
    writeFile(root + QStringLiteral("/sys/class/drm/renderD128/device/power/runtime_status"), "active\n");
    return out;
}
}

int main()
{
    std::vector<pid_t> children;
    const auto count = [] {
        return static_cast<int>(QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs).size());
    };
    for (int n = count(); n < kProcesses; ++n) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::pause();
            ::_exit(0);
        }
        if (pid < 0)
            break;
        children.push_back(pid);
    }

    const std::vector<DrmCandidate> live = candidates("/proc");
    std::printf("live /proc\n");
    report("live /proc (no /dev/dri here)", live.size(), measure("/proc", "/sys", live));

    for (pid_t pid : children)
        ::kill(pid, SIGKILL);
    for (pid_t pid : children)
        ::waitpid(pid, nullptr, 0);

    // In memory where the machine has /dev/shm, as procfs is.
    QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/quillmoor-bench-XXXXXX")
                                                                : QDir::tempPath() + QStringLiteral("/quillmoor-bench-XXXXXX"));
    const std::vector<DrmCandidate> fixture = buildFixture(dir.path());
    const std::string root = QFile::encodeName(dir.path()).toStdString();
    std::printf("fixture procfs tree\n");
    report("fixture tree (5 DRM clients)", fixture.size(), measure(root + "/proc", root + "/sys", fixture));
    return 0;
}
