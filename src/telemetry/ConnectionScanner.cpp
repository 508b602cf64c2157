#include "ConnectionScanner.h"

#include "platform/ProcessControl.h"

#include <QRegularExpression>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <csignal>
#include <cstdio>

ConnectionScanner::ConnectionScanner(std::string procRoot, std::function<void(const Rows &)> published)
    : m_reader(std::move(procRoot))
    , m_published(std::move(published))
{
    QObject::connect(&m_watcher, &QFutureWatcher<Scan>::finished, &m_watcher, [this] {
        Scan scan = m_watcher.result();
        if (!scan.listed) {
            // An unread table says nothing about the connections: the rows stay, and the
            // next tick lists again whatever the counters say.
            m_scannedActivity.reset();
            if (!m_shown.isEmpty())
                m_published(m_shown);
        } else {
            m_owners = std::move(scan.owners);
            m_unplaced = std::move(scan.unplaced);
            if (scan.rows.isEmpty())
                scan.rows.append(placeholder());
            m_shown = scan.rows;
            m_published(scan.rows);
        }
        if (m_rescanPending) {
            m_rescanPending = false;
            start(false);
        }
    });
}

ConnectionScanner::~ConnectionScanner()
{
    // The worker reads only /proc, but its result lands on this object.
    m_watcher.waitForFinished();
}

bool ConnectionScanner::isLoopbackAddress(const std::string &address)
{
    return address.compare(0, 4, "127.") == 0 || address == "::1" || address.compare(0, 11, "::ffff:127.") == 0;
}

bool ConnectionScanner::isListed(const SocketEntry &entry)
{
    return entry.state == SocketEntry::kEstablished && !isLoopbackAddress(entry.localAddress) && !isLoopbackAddress(entry.remoteAddress);
}

QString ConnectionScanner::renderEndpointPair(const SocketEntry &entry)
{
    auto endpoint = [&](const std::string &address, int port) {
        const QString host = QString::fromStdString(address);
        return (entry.ipv6 ? u'[' + host + u']' : host) + u':' + QString::number(port);
    };
    return endpoint(entry.localAddress, entry.localPort) + QStringLiteral("->") + endpoint(entry.remoteAddress, entry.remotePort);
}

ActiveConnection ConnectionScanner::placeholder()
{
    return {QStringLiteral("No external connections"), QStringLiteral("IDLE"), QStringLiteral("System"), QStringLiteral("0")};
}

ConnectionScanner::Rows ConnectionScanner::rows(const std::vector<SocketEntry> &entries, const OwnerCache &owners)
{
    Rows rows;
    for (const SocketEntry &e : entries) {
        if (!isListed(e))
            continue;
        ActiveConnection row{renderEndpointPair(e), QStringLiteral("ESTABLISHED"), QStringLiteral("?"), QStringLiteral("0")};
        if (const auto it = owners.find(e.inode); it != owners.end() && e.inode != 0) {
            row.processName = it->second.second;
            row.pid = QString::number(it->second.first);
        }
        rows.append(row);
        if (rows.size() == kMaxConnections)
            break;
    }
    return rows;
}

void ConnectionScanner::start(bool whenChanged)
{
    if (m_watcher.isRunning())
        return;
    // Read before the listing, so a change during it shows at the next tick.
    const std::optional<TcpActivity> activity = m_reader.readTcpActivity();
    if (whenChanged && activity && activity == m_scannedActivity && ++m_quietTicks < kRecheckTicks)
        return;
    m_quietTicks = 0;
    m_scannedActivity = activity;
    m_watcher.setFuture(QtConcurrent::run([reader = m_reader, owners = m_owners, unplaced = m_unplaced] {
        return scan(reader, owners, unplaced);
    }));
}

ConnectionScanner::Scan ConnectionScanner::scan(const SocketTableReader &reader, const OwnerCache &owners,
                                                const std::unordered_set<std::uint64_t> &unplaced)
{
    Scan result;
    const std::vector<SocketEntry> entries = reader.readTcp(1u << SocketEntry::kEstablished, &result.listed);
    if (!result.listed)
        return result;
    // Only the sockets that make it into the rows need an owner.
    std::unordered_set<std::uint64_t> shown;
    for (const SocketEntry &e : entries) {
        if (shown.size() == static_cast<size_t>(kMaxConnections))
            break;
        if (isListed(e))
            shown.insert(e.inode);
    }
    shown.erase(0);   // not yet accepted: no process holds it

    std::unordered_set<std::uint64_t> wanted;
    for (std::uint64_t inode : shown) {
        if (const auto it = owners.find(inode); it != owners.end())
            result.owners.emplace(inode, it->second);
        else if (unplaced.count(inode))
            result.unplaced.insert(inode);
        else
            wanted.insert(inode);
    }
    if (!wanted.empty()) {
        const std::unordered_map<std::uint64_t, int> found = reader.owners(wanted);
        for (std::uint64_t inode : wanted) {
            const auto it = found.find(inode);
            if (it == found.end()) {
                result.unplaced.insert(inode);
                continue;
            }
            result.owners.emplace(inode, std::make_pair(it->second, QString::fromStdString(reader.commandName(it->second))));
        }
    }
    result.rows = rows(entries, result.owners);
    return result;
}

void ConnectionScanner::rescan()
{
    if (m_watcher.isRunning())
        m_rescanPending = true;
    else
        start(false);
}

void ConnectionScanner::watch(bool watching)
{
    m_watchers = std::max(0, m_watchers + (watching ? 1 : -1));
    if (watching && m_watchers == 1)
        rescan();
}

void ConnectionScanner::killOwner(const QString &pidText)
{
    bool ok = false;
    const int pid = pidText.toInt(&ok);
    // toInt also takes surrounding spaces; the text must be a plain signed number.
    static const QRegularExpression plain(QStringLiteral("^[+-]?[0-9]+$"));
    if (!ok || pid <= 0 || !plain.match(pidText).hasMatch())
        return;
    if (pid == 1 || pid == ProcessControl::ownPid()) {
        std::printf("Refusing to kill process %d\n", pid);
        std::fflush(stdout);
        return;
    }
    if (const int error = ProcessControl::sendSignal(pid, SIGKILL); error != 0) {
        std::printf("Failed to kill connection PID %d: %s\n", pid, ProcessControl::errorText(error).c_str());
        std::fflush(stdout);
        return;
    }
    rescan();
}
