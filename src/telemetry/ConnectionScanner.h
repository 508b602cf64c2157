#pragma once

#include "ActiveConnection.h"
#include "platform/SocketTableReader.h"

#include <QFutureWatcher>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

// The established TCP connections and who holds them. Listing them walks
// /proc/<pid>/fd, so each scan runs on a worker, one at a time; the rows come back on the
// owner's thread through the callback given at construction.
class ConnectionScanner
{
public:
    using Rows = QList<ActiveConnection>;
    // Socket inode to the pid and short name of the process holding it.
    using OwnerCache = std::unordered_map<std::uint64_t, std::pair<int, QString>>;

    static constexpr int kMaxConnections = 15;

    // `published` receives every finished scan's rows, the placeholder row when there are
    // none. A scan whose listing fails (the socket table cannot be read) changes nothing:
    // it gives again the rows of the last listing that got through, if there was one.
    ConnectionScanner(std::string procRoot, std::function<void(const Rows &)> published);
    ~ConnectionScanner();
    ConnectionScanner(const ConnectionScanner &) = delete;
    ConnectionScanner &operator=(const ConnectionScanner &) = delete;

    // The tick's scan, made only while a screen shows the rows (see watch): skipped while
    // the kernel's TCP counters say no connection came or went, for up to kRecheckTicks
    // ticks. The program's own probes (Ollama, the port latency checks) move those
    // counters every two seconds, so without a watcher the walk would run all day for a
    // list nobody sees.
    void poll()
    {
        if (m_watchers > 0)
            start(true);
    }
    // Each screen that shows the connections watches while it exists; the first gets a
    // scan at once rather than rows from whenever the last screen closed.
    void watch(bool watching);
    // A scan now, whatever the counters say (after the current one, if one runs).
    void rescan();
    // SIGKILL to a connection's owner (the pid text of its row), then a rescan. Text that
    // is not a positive number, pid 1 and Quillmoor itself are refused.
    void killOwner(const QString &pidText);

    // Established TCP connections as rows, loopback on either end left out, at most
    // kMaxConnections.
    static Rows rows(const std::vector<SocketEntry> &entries, const OwnerCache &owners);
    static bool isLoopbackAddress(const std::string &address);
    // Established, and loopback on neither end: the rows the list is made of.
    static bool isListed(const SocketEntry &entry);
    static QString renderEndpointPair(const SocketEntry &entry);
    static ActiveConnection placeholder();

private:
    void start(bool whenChanged);

    // Owners found stay cached by socket inode; sockets no walk could place are not looked
    // for again, so steady state costs no walk at all.
    struct Scan { bool listed = true; Rows rows; OwnerCache owners; std::unordered_set<std::uint64_t> unplaced; };
    static Scan scan(const SocketTableReader &reader, const OwnerCache &owners,
                     const std::unordered_set<std::uint64_t> &unplaced);

    SocketTableReader m_reader;
    std::function<void(const Rows &)> m_published;
    QFutureWatcher<Scan> m_watcher;
    OwnerCache m_owners;
    std::unordered_set<std::uint64_t> m_unplaced;
    bool m_rescanPending = false;
    Rows m_shown;   // the last rows published; empty before the first listing got through
    // Listing the established connections walks the kernel's whole connection hash, sized
    // for the machine's memory rather than for its connections: about a millisecond each
    // second on a 24 GiB machine, the largest part of the steady cost. The counters are
    // cheap. A connection going half-closed moves none of them, hence the recheck.
    static constexpr int kRecheckTicks = 10;
    std::optional<TcpActivity> m_scannedActivity;
    int m_quietTicks = 0;
    int m_watchers = 0;
};
