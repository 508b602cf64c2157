#include "RelayedConnection.h"

#include "ProxyRelay.h"

#include <QRegularExpression>

#include <cerrno>
#include <cstring>

namespace {
constexpr std::uint32_t kIn = EpollLoop::kReadable;
constexpr std::uint32_t kOut = EpollLoop::kWritable;

bool isReplyWatched(const QByteArray &target)
{
    // Their final object carries the figures of the whole generation.
    return target.startsWith("/api/generate") || target.startsWith("/api/chat");
}
}

RelayedConnection::RelayedConnection(ProxyRelay &relay, LoopbackSocket client)
    : m_relay(relay)
    , m_request(HttpFramer::Role::Request, this)
    , m_response(HttpFramer::Role::Response, relay.target().meterGenerations ? &m_replyWatch : nullptr)
{
    m_replyWatch.connection = this;
    if (relay.target().meterGenerations)
        m_response.framer().setBodyListener(&m_meter);
    m_sockets[Client] = std::move(client);
    for (Side side : {Client, Upstream}) {
        m_watch[side].connection = this;
        m_watch[side].side = side;
    }
    m_request.attach(&m_sockets[Client], &m_sockets[Upstream]);
    m_response.attach(&m_sockets[Upstream], &m_sockets[Client]);
    m_request.setSpliceAllowed(relay.target().splice);
    m_response.setSpliceAllowed(relay.target().splice);
}

RelayedConnection::~RelayedConnection() = default;

QString RelayedConnection::modelNamed(const QByteArray &firstRead)
{
    // Most requests are told apart by a plain byte search, without decoding them.
    if (!firstRead.contains("\"model\""))
        return QStringLiteral("General Request");
    static const QRegularExpression pattern(QStringLiteral(R"re("model"\s*:\s*"([^"]+)")re"));
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(firstRead));
    return match.hasMatch() ? match.captured(1) : QStringLiteral("General Request");
}

const QByteArray &RelayedConnection::failsafeReply()
{
    static const QByteArray reply = QByteArrayLiteral(
        "HTTP/1.1 503 Service Unavailable\r\n"
        "Content-Type: application/json\r\n"
        "Connection: close\r\n"
        "\r\n"
        R"({"error": "Local Ollama service (port 11434) is not running or suspended by Quillmoor battery protectors."})");
    return reply;
}

const QByteArray &RelayedConnection::busyReply()
{
    static const QByteArray reply = QByteArrayLiteral(
        "HTTP/1.1 503 Service Unavailable\r\n"
        "Content-Type: application/json\r\n"
        "Connection: close\r\n"
        "\r\n"
        R"({"error": "Quillmoor's local API proxy is busy: too many connections are open. Try again shortly."})");
    return reply;
}

void RelayedConnection::start()
{
    m_watch[Client].events = kIn;
    m_watch[Client].watched = m_relay.loop().add(m_sockets[Client].fd(), kIn, &m_watch[Client]);
    // A client usually sends its request right behind the handshake, so it is often here
    // already: taking it now saves a turn of the loop.
    readFirst();
    if (m_stage == Stage::FirstRead)
        m_relay.setDeadline(this, Deadline::Silence);
    if (m_stage != Stage::Done)
        rearm();
}

void RelayedConnection::expire()
{
    switch (m_stage) {
    case Stage::FirstRead:
        abort();   // silent since it connected
        return;
    case Stage::Connecting:
        failOver(QStringLiteral("Connection timed out"));
        if (m_stage != Stage::Done)
            rearm();
        return;
    case Stage::Closing:
        abort();   // a peer that stopped reading would keep the pair open for ever
        return;
    default:
        return;
    }
}

void RelayedConnection::ready(Side side, std::uint32_t events)
{
    switch (m_stage) {
    case Stage::FirstRead:
        readFirst();
        break;
    case Stage::Connecting:
        if (side == Upstream)
            upstreamConnected();
        else if (events & (EpollLoop::kError | EpollLoop::kHangup))
            abort();   // the client went before anything was relayed
        break;
    case Stage::Relaying:
        relay(side, events);
        break;
    case Stage::Closing:
        progressClose();
        break;
    case Stage::Done:
        return;
    }
    if (m_stage != Stage::Done)
        rearm();
}

void RelayedConnection::readFirst()
{
    const RelayDirection::Step step = m_request.pump(m_relay.scratch(), m_relay.scratchSize(), false);
    if (step == RelayDirection::Step::Failed) {
        m_relay.log(QStringLiteral("❌ Inbound connection read error: ") + QString::fromLocal8Bit(std::strerror(m_request.error())));
        abort();
        return;
    }
    if (step == RelayDirection::Step::Ended) {
        // Nothing was relayed yet: nobody waits for anything.
        abort();
        return;
    }
    if (m_request.holding()) {
        connectUpstream();
        // Framed and named once on their way: finding the model delays no byte.
        m_request.walkDeferred(m_relay.scratch());
    }
}

void RelayedConnection::connectUpstream()
{
    const RelayTarget &target = m_relay.target();
    bool inProgress = false;
    int error = 0;
    m_sockets[Upstream] = LoopbackSocket::connectTo(target.host, target.port, &inProgress, &error);
    if (!m_sockets[Upstream].isValid()) {
        failOver(QString::fromLocal8Bit(std::strerror(error)));
        return;
    }
    m_stage = Stage::Connecting;
    // On loopback the handshake is mostly over by now: the first bytes are tried at once,
    // and when they went the socket joins the loop already relaying.
    upstreamConnected();
    if (m_stage != Stage::Connecting)
        return;
    m_relay.setDeadline(this, Deadline::Connect);
    m_watch[Upstream].events = kOut;
    m_watch[Upstream].watched = m_relay.loop().add(m_sockets[Upstream].fd(), kOut, &m_watch[Upstream]);
}

void RelayedConnection::upstreamConnected()
{
    // The first bytes go out as soon as the socket takes any: a send on a socket still
    // connecting would block (nothing taken), one that was refused fails with the reason.
    const std::size_t before = m_request.heldBytes();
    if (m_request.flush() == RelayDirection::Step::Failed) {
        failOver(QString::fromLocal8Bit(std::strerror(m_request.error())));
        return;
    }
    if (m_request.holding() && m_request.heldBytes() == before)
        return;   // not connected yet: writability will say when
    m_firstForwarded = !m_request.holding();
    m_stage = Stage::Relaying;
    m_relay.setDeadline(this, Deadline::None);
    if (m_request.ended())
        forwardClientEnd();
}

void RelayedConnection::failOver(const QString &error)
{
    m_relay.log(QStringLiteral("❌ Local Ollama (11434) is offline or unavailable: ") + error);
    m_sockets[Upstream].close();
    m_eof[Upstream] = m_shut[Upstream] = true;
    m_request.discard();
    m_request.end();
    m_sockets[Client].discardInput();
    m_response.hold(failsafeReply().constData(), std::size_t(failsafeReply().size()));
    m_stage = Stage::Closing;
    m_relay.setDeadline(this, Deadline::Linger);
    progressClose();
}

void RelayedConnection::relay(Side side, std::uint32_t events)
{
    // The side that became writable takes what is held for it; the side that became
    // readable (or hung up) is read once.
    RelayDirection &toward = side == Client ? m_response : m_request;
    RelayDirection &from = side == Client ? m_request : m_response;
    if ((events & EpollLoop::kError) && !from.canRead()) {
        abort();   // reset, with nothing left to read from it
        return;
    }
    if (toward.holding() && (events & (kOut | EpollLoop::kError | EpollLoop::kHangup))) {
        if (toward.flush() == RelayDirection::Step::Failed) {
            if (side == Upstream && !m_firstForwarded)
                m_relay.log(QStringLiteral("❌ Failed to forward data to Ollama: ")
                            + QString::fromLocal8Bit(std::strerror(toward.error())));
            abort();
            return;
        }
        if (side == Upstream && !toward.holding()) {
            m_firstForwarded = true;
            if (m_eof[Client])
                forwardClientEnd();
        }
    }
    if (!(events & (kIn | EpollLoop::kError | EpollLoop::kHangup)) || !from.canRead())
        return;
    switch (from.pump(m_relay.scratch(), m_relay.scratchSize())) {
    case RelayDirection::Step::Open:
        return;
    case RelayDirection::Step::Ended:
        if (side == Client && m_sockets[Upstream].isValid()) {
            forwardClientEnd();
            return;
        }
        m_eof[side] = true;
        beginClose();
        return;
    case RelayDirection::Step::Failed:
        abort();   // a reset on either side: the other is cut off too
        return;
    }
}

void RelayedConnection::forwardClientEnd()
{
    // A client that has said all it will say (a half-close, as `nc -N` or a shell pipe
    // does) still waits for the reply: the upstream hears the same end once every byte
    // before it has gone, and its reply keeps coming back until it ends the stream itself.
    m_eof[Client] = true;
    if (m_request.holding() || m_shut[Upstream] || !m_sockets[Upstream].isValid())
        return;
    m_sockets[Upstream].shutdownWrite();
    m_shut[Upstream] = true;
}

void RelayedConnection::beginClose()
{
    if (m_decided == false && !m_prefix.isEmpty())
        decide(QStringLiteral("General Request"));
    m_stage = Stage::Closing;
    m_relay.setDeadline(this, Deadline::Linger);
    progressClose();
}

void RelayedConnection::progressClose()
{
    // What was read from either side is delivered first. The upstream is then simply
    // closed; the client gets the end of the stream and is closed once it has closed too,
    // since closing a socket with unread input resets it and can destroy the reply still
    // on its way to the client.
    for (Side side : {Upstream, Client}) {
        LoopbackSocket &socket = m_sockets[side];
        if (!socket.isValid())
            continue;
        RelayDirection &toward = side == Client ? m_response : m_request;
        if (toward.holding() && toward.flush() == RelayDirection::Step::Failed)
            toward.discard();
        if (toward.holding())
            continue;
        if (side == Upstream || m_eof[side]) {
            closeSide(side);
            continue;
        }
        if (!m_shut[side]) {
            socket.shutdownWrite();
            m_shut[side] = true;
        }
        char sink[4096];   // not the shared scratch: it may still hold bytes to be framed
        for (;;) {
            const IoResult result = socket.read(sink, sizeof sink);
            if (result.status == IoResult::WouldBlock)
                break;
            if (result.status != IoResult::Done) {
                closeSide(side);
                break;
            }
        }
    }
    if (!m_sockets[Client].isValid() && !m_sockets[Upstream].isValid())
        finish();
}

void RelayedConnection::closeSide(Side side)
{
    m_sockets[side].close();   // leaves the epoll set with it
    m_watch[side].watched = false;
    (side == Client ? m_response : m_request).discard();
}

void RelayedConnection::abort()
{
    closeSide(Client);
    closeSide(Upstream);
    finish();
}

void RelayedConnection::finish()
{
    if (m_stage == Stage::Done)
        return;
    if (!m_decided && !m_prefix.isEmpty())
        decide(QStringLiteral("General Request"));
    // A reply that ends with the connection, or was cut off: the request was made.
    replyEnded();
    m_stage = Stage::Done;
    m_relay.release(this);
}

void RelayedConnection::rearm()
{
    std::uint32_t wanted[2] = {0, 0};
    switch (m_stage) {
    case Stage::FirstRead:
        wanted[Client] = kIn;
        break;
    case Stage::Connecting:
        wanted[Upstream] = kOut;
        break;
    case Stage::Relaying:
        wanted[Client] = (m_request.canRead() ? kIn : 0) | (m_response.holding() ? kOut : 0);
        wanted[Upstream] = (m_response.canRead() ? kIn : 0) | (m_request.holding() ? kOut : 0);
        break;
    case Stage::Closing:
        wanted[Client] = m_response.holding() ? kOut : kIn;
        wanted[Upstream] = m_request.holding() ? kOut : 0;
        break;
    case Stage::Done:
        return;
    }
    for (Side side : {Client, Upstream}) {
        Watch &watch = m_watch[side];
        if (!m_sockets[side].isValid() || (watch.watched && watch.events == wanted[side]))
            continue;
        watch.events = wanted[side];
        if (watch.watched)
            m_relay.loop().modify(m_sockets[side].fd(), wanted[side], &watch);
        else
            watch.watched = m_relay.loop().add(m_sockets[side].fd(), wanted[side], &watch);
    }
}

void RelayedConnection::decide(const QString &model)
{
    m_decided = true;
    m_named = model;
    if (m_generationAsked && !m_askedModels.empty())
        m_askedModels.back() = model;
    m_prefix.clear();
    m_relay.route(model);
}

void RelayedConnection::messageBegun()
{
    // The connection itself was counted when it was accepted; each further request on it
    // counts on its own.
    if (m_requests++ > 0)
        m_relay.countRequest();
    m_generationAsked = false;
    m_prefix.clear();
    m_decided = false;
}

void RelayedConnection::messageBytes(const char *data, std::size_t size)
{
    if (m_decided)
        return;
    const std::size_t room = std::size_t(kFirstReadMax) - std::size_t(m_prefix.size());
    m_prefix.append(data, qsizetype(std::min(room, size)));
    const QString model = modelNamed(m_prefix);
    if (model != QLatin1String("General Request")) {
        decide(model);
        return;
    }
    // Past the first 4096 bytes a key is not looked for.
    if (m_prefix.size() >= kFirstReadMax)
        decide(model);
}

void RelayedConnection::headEnded(const HttpFramer &framer)
{
    HttpFramer::Asked asked;
    asked.head = framer.method() == "HEAD";
    asked.tunnel = framer.method() == "CONNECT";
    asked.watched = m_relay.target().meterGenerations && isReplyWatched(framer.target());
    m_response.framer().expect(asked);
    m_generationAsked = asked.watched && m_askedModels.size() < HttpFramer::kAskedMax;
    if (m_generationAsked)
        m_askedModels.push_back(m_decided ? m_named : QString());
}

void RelayedConnection::messageEnded()
{
    if (!m_decided)
        decide(QStringLiteral("General Request"));
}

void RelayedConnection::replyHeadEnded(const HttpFramer &framer)
{
    // An interim reply (100 Continue) is not the answer: the one after it is.
    if (!framer.watched() || framer.status() < 200)
        return;
    replyEnded();
    m_metering = true;
    m_meter.begin();
    m_replyModel.clear();
    if (!m_askedModels.empty()) {
        m_replyModel = m_askedModels.front();
        m_askedModels.pop_front();
    }
}

void RelayedConnection::replyEnded()
{
    if (!m_metering)
        return;
    m_metering = false;
    const std::optional<GenerationFigures> figures = m_meter.finish();
    // Ollama names the model in every object; the request's name stands in for a reply
    // that did not.
    const QString model = figures && !figures->model.isEmpty() ? figures->model
                          : m_replyModel.isEmpty()             ? QStringLiteral("General Request")
                                                               : m_replyModel;
    m_relay.meter(model, figures);
}
