#include "HttpGetListener.h"

#include <QSocketNotifier>

#include <cerrno>
#include <unistd.h>

namespace {
constexpr int kBacklog = 128;
constexpr int kSweepMs = 1000;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return QByteArrayLiteral("OK");
    case 400: return QByteArrayLiteral("Bad Request");
    case 404: return QByteArrayLiteral("Not Found");
    case 405: return QByteArrayLiteral("Method Not Allowed");
    case 431: return QByteArrayLiteral("Request Header Fields Too Large");
    case 503: return QByteArrayLiteral("Service Unavailable");
    default: return QByteArrayLiteral("Error");
    }
}

HttpReply plainReply(int status, const char *text)
{
    return {status, QByteArrayLiteral("text/plain; charset=utf-8"), QByteArray(text) + '\n', {}};
}

// Where the head ends, just past the blank line; -1 while it has not come. Bare LF line
// ends are taken too, as curl-like tools and hand-typed requests send them.
qsizetype headEnd(const QByteArray &buffer)
{
    const qsizetype crlf = buffer.indexOf("\r\n\r\n");
    const qsizetype lf = buffer.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf + 2 <= lf))
        return crlf + 4;
    return lf >= 0 ? lf + 2 : -1;
}
}

struct HttpGetListener::Connection
{
    LoopbackSocket socket;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    QByteArray input;
    QByteArray output;
    qsizetype written = 0;
    qint64 deadline = 0;     // on the listener's clock
    bool answering = false;

    ~Connection()
    {
        // The notifiers may be the very ones whose signal is being handled: they go once
        // control is back in the event loop, switched off before their descriptor closes.
        for (QSocketNotifier *notifier : {readNotifier, writeNotifier}) {
            if (notifier) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
        }
        // Request bytes left unread would turn the close into a reset, which can cut off
        // a reply the client has not read yet.
        socket.discardInput();
    }
};

HttpGetListener::HttpGetListener(Handler handler, QObject *parent)
    : QObject(parent)
    , m_handler(std::move(handler))
{
    m_clock.start();
    m_sweep.setInterval(kSweepMs);
    connect(&m_sweep, &QTimer::timeout, this, &HttpGetListener::sweep);
}

HttpGetListener::~HttpGetListener()
{
    close();
}

bool HttpGetListener::listen(const QHostAddress &address, quint16 port, QString *error)
{
    close();
    QString reason;
    LoopbackSocket listener = LoopbackSocket::listen(address, port, kBacklog, &reason);
    if (!listener.isValid()) {
        if (error)
            *error = reason;
        return false;
    }
    m_listener = std::move(listener);
    m_spare = LoopbackSocket::reserveDescriptor();
    m_acceptNotifier = std::make_unique<QSocketNotifier>(m_listener.fd(), QSocketNotifier::Read);
    connect(m_acceptNotifier.get(), &QSocketNotifier::activated, this, &HttpGetListener::acceptPending);
    return true;
}

void HttpGetListener::close()
{
    if (m_acceptNotifier) {
        m_acceptNotifier->setEnabled(false);
        m_acceptNotifier.release()->deleteLater();
    }
    m_listener.close();
    m_connections.clear();
    m_sweep.stop();
    if (m_spare >= 0) {
        ::close(m_spare);
        m_spare = -1;
    }
}

void HttpGetListener::acceptPending()
{
    for (;;) {
        int error = 0;
        LoopbackSocket client = m_listener.accept(&error);
        if (!client.isValid()) {
            if (error == EMFILE || error == ENFILE) {
                // Without a descriptor to take the client with, it would stay queued and
                // the listener would wake this loop again at once, for ever.
                static const QByteArray busy = serialize(plainReply(503, "busy"));
                if (!m_listener.refuse(m_spare, busy.constData(), static_cast<std::size_t>(busy.size())))
                    return;
                continue;
            }
            return;   // EAGAIN: none left; anything else: the client gave up meanwhile
        }
        if (static_cast<int>(m_connections.size()) >= kMaxConnections && !evictOldestWaiting())
            continue;   // every slot is busy writing a reply: this client is closed unanswered

        auto connection = std::make_unique<Connection>();
        Connection *c = connection.get();
        c->socket = std::move(client);
        c->deadline = m_clock.elapsed() + m_idleTimeoutMs;
        c->readNotifier = new QSocketNotifier(c->socket.fd(), QSocketNotifier::Read, this);
        connect(c->readNotifier, &QSocketNotifier::activated, this, [this, c] { onReadable(c); });
        m_connections.push_back(std::move(connection));
        if (!m_sweep.isActive())
            m_sweep.start();
    }
}

bool HttpGetListener::evictOldestWaiting()
{
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        if (!(*it)->answering) {
            m_connections.erase(it);
            return true;
        }
    }
    return false;
}

void HttpGetListener::onReadable(Connection *c)
{
    char chunk[4096];
    for (;;) {
        const IoResult r = c->socket.read(chunk, sizeof chunk);
        if (r.status == IoResult::WouldBlock)
            break;
        if (r.status != IoResult::Done) {
            drop(c);
            return;
        }
        c->input.append(chunk, static_cast<qsizetype>(r.bytes));
        const qsizetype end = headEnd(c->input);
        if (end >= 0) {
            const std::optional<HttpRequestHead> head = parseHead(c->input.left(end));
            answer(c, head ? m_handler(*head) : plainReply(400, "malformed request"));
            return;
        }
        if (c->input.size() > kMaxHeadBytes) {
            answer(c, plainReply(431, "request head too large"));
            return;
        }
    }
}

void HttpGetListener::answer(Connection *c, const HttpReply &reply)
{
    c->answering = true;
    c->readNotifier->setEnabled(false);
    c->output = serialize(reply);
    c->input.clear();
    c->deadline = m_clock.elapsed() + kWriteTimeoutMs;
    onWritable(c);
}

void HttpGetListener::onWritable(Connection *c)
{
    while (c->written < c->output.size()) {
        const IoResult r = c->socket.write(c->output.constData() + c->written,
                                           static_cast<std::size_t>(c->output.size() - c->written));
        if (r.status == IoResult::WouldBlock) {
            if (!c->writeNotifier) {
                c->writeNotifier = new QSocketNotifier(c->socket.fd(), QSocketNotifier::Write, this);
                connect(c->writeNotifier, &QSocketNotifier::activated, this, [this, c] { onWritable(c); });
            }
            c->writeNotifier->setEnabled(true);
            return;
        }
        if (r.status != IoResult::Done) {
            drop(c);
            return;
        }
        c->written += static_cast<qsizetype>(r.bytes);
    }
    // All sent: an orderly end, after any request bytes still queued are thrown away so
    // that closing does not turn into a reset that could cut the reply short.
    c->socket.shutdownWrite();
    drop(c);
}

void HttpGetListener::drop(Connection *c)
{
    for (auto it = m_connections.begin(); it != m_connections.end(); ++it) {
        if (it->get() == c) {
            m_connections.erase(it);
            break;
        }
    }
    if (m_connections.empty())
        m_sweep.stop();
}

void HttpGetListener::sweep()
{
    const qint64 now = m_clock.elapsed();
    m_connections.remove_if([now](const std::unique_ptr<Connection> &c) { return c->deadline <= now; });
    if (m_connections.empty())
        m_sweep.stop();
}

QByteArray HttpGetListener::serialize(const HttpReply &reply)
{
    QByteArray out;
    out.reserve(reply.body.size() + 160);
    out += "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    if (!reply.contentType.isEmpty())
        out += "Content-Type: " + reply.contentType + "\r\n";
    if (!reply.allow.isEmpty())
        out += "Allow: " + reply.allow + "\r\n";
    out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
    out += reply.body;
    return out;
}

std::optional<HttpRequestHead> HttpGetListener::parseHead(const QByteArray &head)
{
    const QList<QByteArray> lines = head.split('\n');
    if (lines.isEmpty())
        return std::nullopt;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1.") || requestLine.at(0).isEmpty()
        || requestLine.at(1).isEmpty())
        return std::nullopt;
    HttpRequestHead parsed;
    parsed.method = requestLine.at(0);
    parsed.target = requestLine.at(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        if (line.left(colon).trimmed().compare("accept", Qt::CaseInsensitive) == 0)
            parsed.accept = line.mid(colon + 1).trimmed();
    }
    return parsed;
}
