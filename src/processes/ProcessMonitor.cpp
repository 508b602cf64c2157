#include "ProcessMonitor.h"

#include "platform/ProcessControl.h"

#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {
// Freezing any of these stops the desktop from drawing or taking input, which would also
// hide the button that thaws them.
const QSet<QString> &protectedNames()
{
    static const QSet<QString> names{
        // display servers
        QStringLiteral("Xorg"), QStringLiteral("X"), QStringLiteral("Xwayland"), QStringLiteral("Xvfb"),
        QStringLiteral("gdm-x-session"), QStringLiteral("gdm-wayland-session"),
        // compositors and window managers that are the compositor
        QStringLiteral("gnome-shell"), QStringLiteral("mutter"), QStringLiteral("kwin_wayland"),
        QStringLiteral("kwin_x11"), QStringLiteral("kwin"), QStringLiteral("sway"), QStringLiteral("weston"),
        QStringLiteral("Hyprland"), QStringLiteral("wayfire"), QStringLiteral("labwc"), QStringLiteral("river"),
        QStringLiteral("niri"), QStringLiteral("cage"), QStringLiteral("xfwm4"), QStringLiteral("marco"),
        QStringLiteral("muffin"), QStringLiteral("cinnamon"), QStringLiteral("budgie-wm"),
        QStringLiteral("openbox"), QStringLiteral("picom"), QStringLiteral("enlightenment"),
        // session plumbing
        QStringLiteral("gnome-session-binary"), QStringLiteral("gnome-session-b"), QStringLiteral("ksmserver"),
        QStringLiteral("xfce4-session"), QStringLiteral("dbus-daemon"), QStringLiteral("dbus-broker"),
        QStringLiteral("dbus-broker-launch"), QStringLiteral("systemd"),
    };
    return names;
}

QString lastComponent(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? path : path.mid(slash + 1);
}
}

ProcessMonitor::ProcessMonitor(Figure machineCpuUsage, ProcessSources sources, Polling polling, QObject *parent)
    : QObject(parent)
    , m_machineCpuUsage(std::move(machineCpuUsage))
    , m_reader(sources.procRoot)
    , m_ownPid(sources.ownPid > 0 ? sources.ownPid : ProcessControl::ownPid())
    , m_nvmlProcesses(std::move(sources.nvmlProcesses))
{
    if (sources.drmClients)
        m_drm = std::make_unique<DrmClientReader>(sources.procRoot, sources.sysRoot);
    // The launcher entries are read off the GUI thread; rows get icons once they are in.
    const QStringList dataDirs = sources.dataDirs.value_or(DesktopEntryIndex::systemDataDirs());
    connect(&m_iconIndexWatcher, &QFutureWatcher<DesktopEntryIndex>::finished, this, [this] {
        m_iconIndex = m_iconIndexWatcher.result();
        m_iconIndexReady = true;
        Q_EMIT iconIndexReady();
    });
    m_iconIndexWatcher.setFuture(QtConcurrent::run([dataDirs] { return DesktopEntryIndex::build(dataDirs); }));

    measure();   // primes the per-process tick counts

    if (polling == Polling::Start) {
        m_timer.setInterval(kIntervalMs);
        connect(&m_timer, &QTimer::timeout, this, &ProcessMonitor::updateProcesses);
        m_timer.start();
    }
}

ProcessMonitor::~ProcessMonitor()
{
    m_iconIndexWatcher.waitForFinished();
}

double ProcessMonitor::uniform(double low, double high) const
{
    if (m_uniform)
        return m_uniform(low, high);
    const double unit = QRandomGenerator::global()->generate() / double(std::numeric_limits<quint32>::max());
    return low + (high - low) * unit;
}

void ProcessMonitor::log(const QString &line)
{
    std::printf("%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
    Q_EMIT logged(line);
}

bool ProcessMonitor::measure()
{
    if (!m_reader.readAll(m_table))
        return false;
    const bool primed = m_clock.isValid();
    const double seconds = primed ? std::max<qint64>(m_clock.nsecsElapsed(), 1) / 1e9 : 0.0;
    m_clock.start();
    const double ticksPerSecond = static_cast<double>(ProcessTableReader::ticksPerSecond());

    m_next.clear();
    m_next.reserve(m_table.size());
    m_busy.clear();
    m_busy.reserve(m_table.size());
    for (std::uint32_t i = 0; i < m_table.size(); ++i) {
        const ProcessStat &p = m_table[i];
        m_next.emplace(p.pid, Previous{p.cpuTicks, p.startTime});
        double cpu = 0;
        if (primed) {
            // A process new since the last read (or a reused pid) spent all its ticks
            // inside the interval.
            std::uint64_t before = 0;
            if (const auto it = m_previous.find(p.pid); it != m_previous.end() && it->second.startTime == p.startTime)
                before = std::min(it->second.ticks, p.cpuTicks);
            cpu = static_cast<double>(p.cpuTicks - before) / ticksPerSecond / seconds * 100.0;
        }
        m_busy.push_back({cpu, p.pid, i});
    }
    std::swap(m_previous, m_next);
    return true;
}

void ProcessMonitor::updateProcesses()
{
    if (m_isPaused)
        return;
    if (!measure())
        return;

    std::sort(m_busy.begin(), m_busy.end(), [](const Busy &a, const Busy &b) {
        return a.cpu != b.cpu ? a.cpu > b.cpu : a.pid < b.pid;
    });

    const std::unordered_map<int, GpuUse> gpu = readGpuUse();

    QList<ProcessInfoData> rows;
    std::unordered_map<int, ShownPath> shownPaths;
    int unfrozen = 0;
    for (const Busy &busy : m_busy) {
        const bool suspended = m_suspendedPids.contains(busy.pid);
        if (!suspended && unfrozen >= kUnfrozenRows) {
            if (m_suspendedPids.isEmpty())
                break;   // nothing further down can make the table
            continue;
        }
        ProcessInfoData row = rowFor(m_table[busy.index], busy.cpu, shownPaths);
        row.isSuspended = suspended;
        if (const auto it = gpu.find(busy.pid); it != gpu.end()) {
            row.usesGpu = true;
            row.gpuMemoryReported = it->second.reported;
            row.gpuMemoryBytes = static_cast<qint64>(it->second.bytes);
        }

        double &drain = m_batteryShameList[row.name];
        drain += (row.energyImpact + uniform(0.0, 2.0)) / 3600.0;
        row.totalBatteryDrain = drain;

        rows.append(row);
        if (!suspended)
            ++unfrozen;
    }
    publishGpuProcesses(gpu, shownPaths);

    m_shownPaths = std::move(shownPaths);

    QSet<int> kept;
    for (int pid : std::as_const(m_suspendedPids))
        if (ProcessControl::isReachable(pid))
            kept.insert(pid);
    if (kept != m_suspendedPids) {
        m_suspendedPids = kept;
        Q_EMIT suspendedPidsChanged();
    }

    m_topProcesses = rows;
    Q_EMIT topProcessesChanged();
    Q_EMIT batteryShameListChanged();

    m_dvrSnapshots.append(DVRSnapshot{QUuid::createUuid(), QDateTime::currentDateTimeUtc(), rows,
                                      m_machineCpuUsage ? m_machineCpuUsage() : 0.0});
    if (m_dvrSnapshots.size() > kMaxSnapshots)
        m_dvrSnapshots.removeFirst();
    Q_EMIT dvrSnapshotsChanged();
}

ProcessInfoData ProcessMonitor::rowFor(ProcessStat &stat, double cpu, std::unordered_map<int, ShownPath> &shownPaths)
{
    m_reader.readResident(stat);   // statm for the shown rows only
    ShownPath &shown = shownPaths[stat.pid];
    if (shown.path.empty()) {
        if (const auto it = m_shownPaths.find(stat.pid);
            it != m_shownPaths.end() && it->second.startTime == stat.startTime && it->second.comm == stat.comm)
            shown = std::move(it->second);
        else
            shown = ShownPath{stat.startTime, stat.comm, m_reader.fullPath(stat.pid, stat.comm)};
    }
    const std::string &path = shown.path;

    ProcessInfoData row;
    row.id = stat.pid;
    row.memoryBytes = static_cast<qint64>(stat.residentPages * ProcessTableReader::pageSize());
    row.fullPath = QFile::decodeName(QByteArray::fromStdString(path)).trimmed();
    // A kernel thread has no executable; its short name ("kworker/0:1") is no path.
    row.name = path == stat.comm ? QString::fromStdString(stat.comm) : lastComponent(row.fullPath);
    row.cpuUsage = cpu;
    row.energyImpact = cpu * 0.8;
    row.icon = iconFor(row.fullPath, row.name);
    row.isSuspended = m_suspendedPids.contains(stat.pid);
    return row;
}

void ProcessMonitor::watchGpu(bool watching)
{
    m_gpuWatchers = std::max(0, m_gpuWatchers + (watching ? 1 : -1));
    if (!watching || m_gpuWatchers != 1 || m_busy.empty())
        return;
    // The rows the last sample measured, with the drivers asked now: the screen need not
    // wait for the next sample to show them.
    std::unordered_map<int, ShownPath> shownPaths;
    publishGpuProcesses(readGpuUse(), shownPaths);
    for (auto &[pid, shown] : shownPaths)
        m_shownPaths[pid] = std::move(shown);
}

std::unordered_map<int, ProcessMonitor::GpuUse> ProcessMonitor::readGpuUse()
{
    std::unordered_map<int, GpuUse> use;
    bool available = false;
    // NVIDIA's figure is the process's memory on the device; a process listed without one
    // holds a context there all the same.
    if (m_nvmlProcesses) {
        if (const auto listed = m_nvmlProcesses()) {
            available = true;
            for (const NvmlProcessMemory &process : *listed) {
                GpuUse &entry = use[static_cast<int>(process.pid)];
                if (process.usedBytes) {
                    entry.reported = true;
                    entry.bytes += *process.usedBytes;
                }
            }
        }
    }
    // The DRM drivers: only a client holding device memory counts as using the GPU's
    // memory; on an integrated GPU every window is a client and none holds any.
    if (m_drm && m_gpuWatchers > 0) {
        m_drmCandidates.clear();
        m_drmCandidates.reserve(m_table.size());
        for (const ProcessStat &stat : m_table)
            m_drmCandidates.push_back({stat.pid, stat.startTime, stat.residentPages});
        for (const DrmProcessMemory &process : m_drm->pass(m_drmCandidates)) {
            if (!process.deviceBytes)
                continue;
            GpuUse &entry = use[process.pid];
            entry.reported = true;
            entry.bytes += *process.deviceBytes;
        }
        available = available || m_drm->sawClients();
    }
    m_gpuFiguresAvailable = available;
    return use;
}

void ProcessMonitor::publishGpuProcesses(const std::unordered_map<int, GpuUse> &use,
                                         std::unordered_map<int, ShownPath> &shownPaths)
{
    QList<ProcessInfoData> rows;
    qint64 ollama = 0;
    bool ollamaReported = false;
    if (!use.empty()) {
        for (const Busy &busy : m_busy) {
            const auto it = use.find(busy.pid);
            if (it == use.end() || (it->second.reported && it->second.bytes == 0))
                continue;
            ProcessInfoData row = rowFor(m_table[busy.index], busy.cpu, shownPaths);
            row.usesGpu = true;
            row.gpuMemoryReported = it->second.reported;
            row.gpuMemoryBytes = static_cast<qint64>(it->second.bytes);
            // The runner is a child "ollama runner" of "ollama serve"; releases before 0.4
            // ran a separate ollama_llama_server binary instead.
            const bool ollamaRunner = row.name == QLatin1String("ollama") || row.name == QLatin1String("ollama_llama_server");
            if (ollamaRunner && row.gpuMemoryReported) {
                ollama += row.gpuMemoryBytes;
                ollamaReported = true;
            }
            rows.append(row);
        }
        std::sort(rows.begin(), rows.end(), [](const ProcessInfoData &a, const ProcessInfoData &b) {
            if (a.gpuMemoryReported != b.gpuMemoryReported)
                return a.gpuMemoryReported;
            return a.gpuMemoryBytes != b.gpuMemoryBytes ? a.gpuMemoryBytes > b.gpuMemoryBytes : a.id < b.id;
        });
    }
    const bool changed = rows != m_gpuProcesses || ollama != m_ollamaGpuMemoryBytes
                      || ollamaReported != m_ollamaGpuMemoryReported;
    m_gpuProcesses = std::move(rows);
    m_ollamaGpuMemoryBytes = ollama;
    m_ollamaGpuMemoryReported = ollamaReported;
    if (changed || m_gpuFiguresAvailable != m_gpuFiguresPublished) {
        m_gpuFiguresPublished = m_gpuFiguresAvailable;
        Q_EMIT gpuProcessesChanged();
    }
}

QString ProcessMonitor::iconFor(const QString &fullPath, const QString &name)
{
    if (const auto it = m_iconCache.constFind(fullPath); it != m_iconCache.cend())
        return *it;
    if (!m_iconIndexReady)
        return {};
    const QString icon = m_iconIndex.iconFor(fullPath, name);
    if (!icon.isEmpty())
        m_iconCache.insert(fullPath, icon);
    return icon;
}

bool ProcessMonitor::isProtectedName(const QString &name)
{
    return protectedNames().contains(name);
}

bool ProcessMonitor::isProtected(int pid)
{
    if (pid < 2 || pid == m_ownPid)
        return true;
    ProcessStat stat;
    if (!m_reader.read(pid, stat))
        return false;
    if (isProtectedName(QString::fromStdString(stat.comm)))
        return true;
    const std::string path = m_reader.fullPath(pid, stat.comm);
    return isProtectedName(lastComponent(QFile::decodeName(QByteArray::fromStdString(path))));
}

void ProcessMonitor::toggleSuspend(int pid)
{
    if (isProtected(pid)) {
        log(QStringLiteral("Cannot suspend critical system process or self (PID %1)").arg(pid));
        return;
    }
    if (!m_suspendedPids.contains(pid)) {
        m_suspendedPids.insert(pid);
        Q_EMIT suspendedPidsChanged();
        ProcessControl::stop(pid);
    } else {
        m_suspendedPids.remove(pid);
        Q_EMIT suspendedPidsChanged();
        ProcessControl::resume(pid);
    }
}

void ProcessMonitor::setPriority(int pid, int priority)
{
    if (const int error = ProcessControl::setNice(pid, priority)) {
        log(QStringLiteral("Failed to renice process: ") + QString::fromStdString(ProcessControl::errorText(error)));
        return;
    }
    log(QStringLiteral("Reniced process %1 to %2").arg(pid).arg(priority));
}

void ProcessMonitor::setIsPaused(bool paused)
{
    if (m_isPaused == paused)
        return;
    m_isPaused = paused;
    // Re-prime on resuming, so the first sample measures two seconds, not the whole pause.
    if (!paused)
        measure();
    Q_EMIT isPausedChanged();
}

QList<int> ProcessMonitor::suspendedPidList() const
{
    QList<int> list(m_suspendedPids.cbegin(), m_suspendedPids.cend());
    std::sort(list.begin(), list.end());
    return list;
}

QVariantMap ProcessMonitor::batteryShameListForQml() const
{
    QVariantMap map;
    for (auto it = m_batteryShameList.cbegin(); it != m_batteryShameList.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}
