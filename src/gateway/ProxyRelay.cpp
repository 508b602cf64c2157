#include "ProxyRelay.h"

#include <algorithm>
#include <utility>

#include <cerrno>
#include <unistd.h>

namespace {
// Many clients may connect at once; a short queue would drop their first SYNs.
constexpr int kBacklog = 1024;
// Out of descriptors with no spare left: how long accepting rests before it tries again
// (sooner when a connection closes).
constexpr int kAcceptPauseMs = 200;
constexpr int kAcceptsPerTurn = 32;
using Clock = std::chrono::steady_clock;
}

ProxyRelay::ProxyRelay(RelayTarget target, QObject *parent)
    : QObject(parent)
    , m_target(std::move(target))
    , m_loop(this)
    , m_scratch(RelayDirection::kChunkMax)
    , m_sweep(this)
    , m_resume(this)
    , m_countFlush(this)
{
    m_silence.span = std::chrono::milliseconds(m_target.silentClientMs);
    m_connect.span = std::chrono::milliseconds(m_target.connectTimeoutMs);
    m_linger.span = std::chrono::milliseconds(RelayedConnection::kLingerMs);
    for (Listener &listener : m_listeners)
        listener.relay = this;
    m_loop.setAfterRound([this] { afterRound(); });
    m_sweep.setSingleShot(true);
    // A coarse timer may fire up to 5 % late: a silent client's 10 s would become 10.5.
    m_sweep.setTimerType(Qt::PreciseTimer);
    connect(&m_sweep, &QTimer::timeout, this, &ProxyRelay::sweep);
    m_countFlush.setSingleShot(true);
    connect(&m_countFlush, &QTimer::timeout, this, &ProxyRelay::flushCount);
    m_resume.setSingleShot(true);
    connect(&m_resume, &QTimer::timeout, this, &ProxyRelay::resumeAccepting);
    m_spare = LoopbackSocket::reserveDescriptor();
}

ProxyRelay::~ProxyRelay()
{
    for (RelayedConnection *connection : m_connections)
        delete connection;
    for (RelayedConnection *connection : m_finished)
        delete connection;
    if (m_spare >= 0)
        ::close(m_spare);
}

void ProxyRelay::listen(quint16 port, int attempt)
{
    close();
    QString error;
    m_listeners[0].socket = LoopbackSocket::listen(QHostAddress(QHostAddress::LocalHost), port, kBacklog, &error);
    if (!m_listeners[0].socket.isValid()) {
        Q_EMIT listenFailed(error, attempt);
        return;
    }
    const quint16 actual = m_listeners[0].socket.localPort();
    // Same port on ::1 for clients that resolve "localhost" to it first. A machine without
    // IPv6 is served on 127.0.0.1 alone.
    m_listeners[1].socket = LoopbackSocket::listen(QHostAddress(QHostAddress::LocalHostIPv6), actual, kBacklog, &error);
    m_paused = false;
    for (Listener &listener : m_listeners)
        if (listener.socket.isValid())
            m_loop.add(listener.socket.fd(), EpollLoop::kReadable, &listener);
    Q_EMIT listening(actual, attempt);
}

void ProxyRelay::close()
{
    m_resume.stop();
    for (Listener &listener : m_listeners)
        listener.socket.close();
}

void ProxyRelay::acceptPending(Listener &listener)
{
    // A burst of clients is taken in a few turns rather than one a turn, so the
    // connections already relaying are held up by it once, not over and over.
    for (int i = 0; i < kAcceptsPerTurn && !m_paused && listener.socket.isValid(); ++i)
        if (!acceptOne(listener))
            return;
}

bool ProxyRelay::acceptOne(Listener &listener)
{
    int error = 0;
    LoopbackSocket client = listener.socket.accept(&error);
    if (!client.isValid()) {
        if (error != EMFILE && error != ENFILE && error != ENOBUFS && error != ENOMEM)
            return false;   // nothing waiting, or gone before it was taken
        // The table is full. The spare descriptor lets one client be told so and closed,
        // which keeps the queue moving; without it, accepting rests, since the listener
        // would report the same waiting client on every turn and the thread would spin.
        const char *reply = RelayedConnection::busyReply().constData();
        if (listener.socket.refuse(m_spare, reply, std::size_t(RelayedConnection::busyReply().size())))
            noteRefused(QStringLiteral("the process has no descriptor left"));
        else
            pauseAccepting();
        return true;
    }
    if (connectionCount() >= m_target.maxConnections) {
        const QByteArray &reply = RelayedConnection::busyReply();
        (void)client.write(reply.constData(), std::size_t(reply.size()));
        client.shutdownWrite();
        client.discardInput();
        noteRefused(QStringLiteral("%1 connections are open, the most it takes").arg(m_target.maxConnections));
        return true;
    }
    if (m_refused > 0) {
        log(QStringLiteral("✅ Proxy accepting again after turning away %1 client(s)").arg(m_refused));
        m_refused = 0;
    }
    ++m_newRequests;
    auto *connection = new RelayedConnection(*this, std::move(client));
    m_connections.insert(connection);
    connection->start();
    return true;
}

void ProxyRelay::noteRefused(const QString &why)
{
    // One line when refusing starts and one when it ends: a flood of clients would
    // otherwise bury every other line of the log.
    if (m_refused++ == 0)
        log(QStringLiteral("⚠️ Proxy busy, turning clients away: ") + why);
}

void ProxyRelay::pauseAccepting()
{
    if (m_paused)
        return;
    m_paused = true;
    for (Listener &listener : m_listeners)
        if (listener.socket.isValid())
            m_loop.modify(listener.socket.fd(), 0, &listener);
    m_resume.start(kAcceptPauseMs);
}

void ProxyRelay::resumeAccepting()
{
    if (!m_paused)
        return;
    m_paused = false;
    m_resume.stop();
    if (m_spare < 0)
        m_spare = LoopbackSocket::reserveDescriptor();
    for (Listener &listener : m_listeners)
        if (listener.socket.isValid())
            m_loop.modify(listener.socket.fd(), EpollLoop::kReadable, &listener);
}

void ProxyRelay::route(const QString &model)
{
    m_model = model;
    m_routed = true;
}

void ProxyRelay::meter(const QString &model, const std::optional<GenerationFigures> &figures)
{
    // A handful of models at most between two reports: a list beats a hash here.
    auto it = std::find_if(m_metered.begin(), m_metered.end(), [&](const ModelThroughput &row) { return row.model == model; });
    if (it == m_metered.end()) {
        m_metered.append(ModelThroughput{});
        it = m_metered.end() - 1;
        it->model = model;
    }
    it->add(figures);
}

ProxyRelay::DeadlineQueue &ProxyRelay::queueFor(RelayedConnection::Deadline deadline)
{
    switch (deadline) {
    case RelayedConnection::Deadline::Silence:
        return m_silence;
    case RelayedConnection::Deadline::Connect:
        return m_connect;
    default:
        return m_linger;
    }
}

void ProxyRelay::setDeadline(RelayedConnection *connection, RelayedConnection::Deadline deadline)
{
    if (connection->deadline != RelayedConnection::Deadline::None)
        queueFor(connection->deadline).members.erase(connection->deadlineSlot);
    connection->deadline = deadline;
    if (deadline == RelayedConnection::Deadline::None)
        return;
    DeadlineQueue &queue = queueFor(deadline);
    connection->due = Clock::now() + queue.span;
    connection->deadlineSlot = queue.members.insert(queue.members.end(), connection);
    // A queue's newest member is due last in that queue, but the queues have spans of
    // their own: the timer moves when it is idle or set for later than this. A member
    // that leaves early just makes one wake-up find nothing due.
    if (!m_sweep.isActive() || connection->due < m_sweepDue)
        armSweep();
}

void ProxyRelay::armSweep()
{
    Clock::time_point next = Clock::time_point::max();
    for (DeadlineQueue *queue : {&m_silence, &m_connect, &m_linger})
        if (!queue->members.empty())
            next = std::min(next, queue->members.front()->due);
    if (next == Clock::time_point::max()) {
        m_sweep.stop();
        return;
    }
    m_sweepDue = next;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count() + 1;
    m_sweep.start(int(std::max<qint64>(0, wait)));
}

void ProxyRelay::sweep()
{
    const Clock::time_point now = Clock::now();
    for (DeadlineQueue *queue : {&m_silence, &m_connect, &m_linger}) {
        while (!queue->members.empty() && queue->members.front()->due <= now) {
            RelayedConnection *connection = queue->members.front();
            setDeadline(connection, RelayedConnection::Deadline::None);
            connection->expire();
        }
    }
    afterRound();
    armSweep();
}

void ProxyRelay::release(RelayedConnection *connection)
{
    setDeadline(connection, RelayedConnection::Deadline::None);
    m_connections.erase(connection);
    m_finished.push_back(connection);
    // A descriptor came free: a listener resting for lack of them may go on.
    if (m_paused)
        resumeAccepting();
}

void ProxyRelay::afterRound()
{
    for (RelayedConnection *connection : m_finished)
        delete connection;
    m_finished.clear();
    if ((m_newRequests == 0 && !m_routed && m_metered.isEmpty()) || m_countFlush.isActive())
        return;
    const auto since = std::chrono::steady_clock::now() - m_lastCounted;
    if (since >= std::chrono::milliseconds(kCountIntervalMs))
        flushCount();
    else
        m_countFlush.start(int(kCountIntervalMs - std::chrono::duration_cast<std::chrono::milliseconds>(since).count()));
}

void ProxyRelay::flushCount()
{
    if (m_newRequests == 0 && !m_routed && m_metered.isEmpty())
        return;
    m_lastCounted = std::chrono::steady_clock::now();
    if (m_newRequests > 0 || m_routed)
        Q_EMIT counted(m_newRequests, m_model, m_routed);
    if (!m_metered.isEmpty())
        Q_EMIT metered(std::exchange(m_metered, {}));
    m_newRequests = 0;
    m_routed = false;
}
