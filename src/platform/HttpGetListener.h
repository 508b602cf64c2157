#pragma once

#include "LoopbackSocket.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <list>
#include <memory>
#include <optional>

class QSocketNotifier;

// The head of a request, as far as a read-only endpoint needs it.
struct HttpRequestHead
{
    QByteArray method;
    QByteArray target;
    QByteArray accept;   // the Accept header's value; empty when absent
};

struct HttpReply
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QByteArray allow;   // sent as Allow, for 405
};

// A small HTTP/1.x server for answers built in one go: it reads a request head, hands it
// to the handler and writes the reply, then closes the connection. It is built to keep
// answering with hostile clients about: the head is bounded, a client that sends nothing
// is dropped after a timeout, and at the connection limit the oldest connection that has
// not finished its request makes room for the new one, so a flood of idle connections
// cannot lock a scraper out. Runs on the thread that made it; never blocks.
class HttpGetListener : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<HttpReply(const HttpRequestHead &)>;

    static constexpr int kMaxHeadBytes = 8192;
    static constexpr int kMaxConnections = 64;
    static constexpr int kIdleTimeoutMs = 5000;      // to send the whole head
    static constexpr int kWriteTimeoutMs = 10000;    // to take the whole reply

    explicit HttpGetListener(Handler handler, QObject *parent = nullptr);
    ~HttpGetListener() override;

    // Opens the listener; false with the reason in `error` when the address cannot be taken.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    void close();
    bool isListening() const { return m_listener.isValid(); }
    quint16 port() const { return m_listener.isValid() ? m_listener.localPort() : 0; }
    int openConnections() const { return static_cast<int>(m_connections.size()); }

    void setIdleTimeoutMs(int ms) { m_idleTimeoutMs = ms; }

    // A reply as it goes on the wire.
    static QByteArray serialize(const HttpReply &reply);
    // Parses a complete head (up to and including the blank line); absent when malformed.
    static std::optional<HttpRequestHead> parseHead(const QByteArray &head);

private:
    struct Connection;
    using Iterator = std::list<std::unique_ptr<Connection>>::iterator;

    void acceptPending();
    void onReadable(Connection *connection);
    void onWritable(Connection *connection);
    void answer(Connection *connection, const HttpReply &reply);
    void drop(Connection *connection);
    bool evictOldestWaiting();
    void sweep();

    Handler m_handler;
    LoopbackSocket m_listener;
    std::unique_ptr<QSocketNotifier> m_acceptNotifier;
    std::list<std::unique_ptr<Connection>> m_connections;   // oldest first
    QTimer m_sweep;
    QElapsedTimer m_clock;
    int m_idleTimeoutMs = kIdleTimeoutMs;
    int m_spare = -1;   // a descriptor held back to turn clients away with when the table is full
};
