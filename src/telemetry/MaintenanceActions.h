#pragma once

#include "JunkScanner.h"

#include <QByteArray>
#include <QDateTime>
#include <QFutureWatcher>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class MemoryPurger;

// The one-shot actions the user starts from the memory and disk panels: the memory purge,
// the junk scan and clean, and the CPU history export. Each reports back through its sink
// on the owner's thread.
class MaintenanceActions
{
public:
    // The memory purge's helper program and polkit launcher (empty: the installed ones),
    // and whether to go through polkit (unset: unless running as root).
    struct PurgeTool { QString helper; QString pkexec; std::optional<bool> elevate; };
    struct Sinks
    {
        // `done`: the kernel dropped its caches, `gainedGB` more memory is available;
        // otherwise `message` says why not.
        std::function<void(bool done, double gainedGB, const QString &message)> memoryPurged;
        // A scan, or a clean (`cleaned`) with the scan after it, has finished.
        std::function<void(bool cleaned, double freedGB, double foundGB)> junkDone;
    };
    using AvailableMemory = std::function<std::uint64_t()>;

    MaintenanceActions(PurgeTool tool, JunkRoots junkRoots, AvailableMemory available, Sinks sinks);
    ~MaintenanceActions();
    MaintenanceActions(const MaintenanceActions &) = delete;
    MaintenanceActions &operator=(const MaintenanceActions &) = delete;

    // Drops the kernel's clean caches and compacts memory.
    void purgeMemory();

    bool junkBusy() const { return m_junkWatcher.isRunning(); }
    bool hasJunkScan() const { return m_lastJunkScan.has_value(); }
    // Measures the deletable clutter on a worker.
    void scanJunk();
    // Deletes what the last scan found, then scans again.
    void cleanJunk();

    // Writes `history` (one figure a second, the newest last) to a CSV file in the
    // temporary folder and returns its path; empty when the file could not be written.
    static QString exportHistory(const QList<double> &history);
    // The file's name and text for a history exported at `now`.
    static QString historyFileName(const QDateTime &now);
    static QByteArray historyCsv(const QList<double> &history, const QDateTime &now);
    // A double in its shortest round-trip form, always with a decimal point or exponent
    // ("0.0", "37.51234").
    static QString shortestDecimal(double value);

private:
    PurgeTool m_tool;
    JunkRoots m_junkRoots;
    AvailableMemory m_available;
    Sinks m_sinks;

    std::unique_ptr<MemoryPurger> m_memoryPurger;   // made on the first purge
    std::uint64_t m_availableBeforePurge = 0;

    struct JunkOutcome { bool cleaned = false; std::uint64_t freed = 0; JunkScan scan; };
    QFutureWatcher<JunkOutcome> m_junkWatcher;
    std::optional<JunkScan> m_lastJunkScan;
};
