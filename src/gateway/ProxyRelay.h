#pragma once

#include "ModelThroughput.h"
#include "RelayedConnection.h"
#include "platform/EpollLoop.h"
#include "platform/LoopbackSocket.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <list>
#include <unordered_set>
#include <vector>

// The proxy's listeners and its connections, all on the proxy thread and driven by one
// epoll set. Listens on the loopback addresses only: the model server behind it is meant
// for this machine alone. Holds the limits: so many connections at once, a grace period
// for clients that send nothing, and a pause instead of a spin when the process runs out
// of descriptors. What it counts reaches the owner once per round of events.
class ProxyRelay : public QObject
{
    Q_OBJECT

public:
    explicit ProxyRelay(RelayTarget target, QObject *parent = nullptr);
    ~ProxyRelay() override;

    // Replaces any listeners; reports listening() or listenFailed(). Port 0 picks one.
    void listen(quint16 port, int attempt);
    // Closes the listeners; connections being relayed carry on.
    void close();
    int connectionCount() const { return int(m_connections.size()); }

    // For the connections.
    const RelayTarget &target() const { return m_target; }
    EpollLoop &loop() { return m_loop; }
    char *scratch() { return m_scratch.data(); }
    std::size_t scratchSize() const { return m_scratch.size(); }
    void countRequest() { ++m_newRequests; }
    void route(const QString &model);
    // A generate or chat reply for `model` ended; `figures` when it carried them.
    void meter(const QString &model, const std::optional<GenerationFigures> &figures);
    void log(const QString &line) { Q_EMIT logged(line); }
    void setDeadline(RelayedConnection *connection, RelayedConnection::Deadline deadline);
    // The connection is closed; it is deleted once the current round is over.
    void release(RelayedConnection *connection);

Q_SIGNALS:
    void listening(quint16 port, int attempt);
    void listenFailed(const QString &error, int attempt);
    // Requests seen since the last report; `model` set when one was named meanwhile.
    void counted(int requests, const QString &model, bool routed);
    // What each model did since the last report.
    void metered(const QList<ModelThroughput> &since);
    void logged(const QString &line);

private:
    struct Listener : EpollLoop::Watcher
    {
        ProxyRelay *relay = nullptr;
        LoopbackSocket socket;
        void ready(std::uint32_t) override { relay->acceptPending(*this); }
    };
    // Connections waiting for the same span, oldest first: each is due in joining order.
    struct DeadlineQueue
    {
        std::list<RelayedConnection *> members;
        std::chrono::milliseconds span{0};
    };

    void acceptPending(Listener &listener);
    bool acceptOne(Listener &listener);
    void noteRefused(const QString &why);
    void pauseAccepting();
    void resumeAccepting();
    void sweep();
    void armSweep();
    void afterRound();
    DeadlineQueue &queueFor(RelayedConnection::Deadline deadline);

    RelayTarget m_target;
    EpollLoop m_loop;
    Listener m_listeners[2];   // 127.0.0.1 and ::1
    std::unordered_set<RelayedConnection *> m_connections;
    std::vector<RelayedConnection *> m_finished;
    std::vector<char> m_scratch;
    DeadlineQueue m_silence;
    DeadlineQueue m_connect;
    DeadlineQueue m_linger;
    QTimer m_sweep;
    std::chrono::steady_clock::time_point m_sweepDue;
    QTimer m_resume;
    int m_spare = -1;          // given up to refuse a client when the table is full
    bool m_paused = false;
    int m_refused = 0;   // clients turned away since accepting last went normally
    // Counts reach the GUI thread at most every kCountIntervalMs: one queued signal per
    // request woke that thread thousands of times a second under load, on a machine whose
    // cores the relayed client and server need.
    static constexpr int kCountIntervalMs = 50;
    QTimer m_countFlush;
    std::chrono::steady_clock::time_point m_lastCounted;
    void flushCount();
    int m_newRequests = 0;
    QList<ModelThroughput> m_metered;
    QString m_model;
    bool m_routed = false;
};
