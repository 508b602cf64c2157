#pragma once

#include "GenerationMeter.h"
#include "RelayDirection.h"
#include "platform/EpollLoop.h"
#include "platform/LoopbackSocket.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <chrono>
#include <deque>
#include <cstdint>
#include <list>

class ProxyRelay;

// Where the proxy relays to, how long an upstream connect may take, and the limits that
// keep one client from shutting the others out.
struct RelayTarget
{
    QHostAddress host = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 11434;
    int connectTimeoutMs = 5000;
    // Connections relayed at once; the next one gets busyReply() and is closed.
    int maxConnections = 512;
    // A client that sends nothing this long after connecting is closed.
    int silentClientMs = 10000;
    // Off: bulk bytes go through user space too (the read/write path).
    bool splice = true;
    // Off: generate and chat replies are not read for Ollama's token figures, and may be
    // spliced like any other.
    bool meterGenerations = true;
};

// One client and its upstream connection, on the proxy thread. The first bytes open the
// upstream; from then on bytes flow both ways unchanged (RelayDirection). Each HTTP request
// on the connection is counted and named by the first "model" key in its first 4096
// bytes, and each generate or chat reply is read on its way for the figures Ollama puts
// in its last object (GenerationMeter). When either side ends, what was already read is
// delivered and both are closed.
class RelayedConnection final : private RelayDirection::Observer
{
public:
    static constexpr qint64 kFirstReadMax = 4096;   // of each request, for its model name
    // A closing side whose peer stops reading is cut off after this long.
    static constexpr int kLingerMs = 60000;

    enum class Deadline { None, Silence, Connect, Linger };
    using DeadlineSlot = std::list<RelayedConnection *>::iterator;

    RelayedConnection(ProxyRelay &relay, LoopbackSocket client);
    ~RelayedConnection();
    RelayedConnection(const RelayedConnection &) = delete;
    RelayedConnection &operator=(const RelayedConnection &) = delete;

    // Begins with the first read; the connection reports to the relay from here on.
    void start();
    // Its deadline passed.
    void expire();

    // The quoted value of the first "model" key in `firstRead`, or "General Request".
    static QString modelNamed(const QByteArray &firstRead);
    // What a client gets when the upstream cannot be reached.
    static const QByteArray &failsafeReply();
    // What a client gets when the proxy already relays as many connections as it may.
    static const QByteArray &busyReply();

    // Kept by the relay's deadline queues.
    Deadline deadline = Deadline::None;
    DeadlineSlot deadlineSlot;
    std::chrono::steady_clock::time_point due;

private:
    enum class Stage { FirstRead, Connecting, Relaying, Closing, Done };
    enum Side { Client, Upstream };

    struct Watch : EpollLoop::Watcher
    {
        RelayedConnection *connection = nullptr;
        Side side = Client;
        std::uint32_t events = 0;
        bool watched = false;
        void ready(std::uint32_t events) override { connection->ready(side, events); }
    };

    void ready(Side side, std::uint32_t events);
    void readFirst();
    void connectUpstream();
    void upstreamConnected();
    void failOver(const QString &error);
    void relay(Side side, std::uint32_t events);
    void forwardClientEnd();
    void beginClose();
    void progressClose();
    void abort();
    void closeSide(Side side);
    void rearm();
    void finish();
    void decide(const QString &model);

    // Sees the replies go by, for their figures.
    struct ReplyWatch final : RelayDirection::Observer
    {
        RelayedConnection *connection = nullptr;
        void messageBegun() override {}
        void messageBytes(const char *, std::size_t) override {}
        void headEnded(const HttpFramer &framer) override { connection->replyHeadEnded(framer); }
        void messageEnded() override { connection->replyEnded(); }
        bool inspecting() const override { return false; }
    };
    void replyHeadEnded(const HttpFramer &framer);
    void replyEnded();

    void messageBegun() override;
    void messageBytes(const char *data, std::size_t size) override;
    void headEnded(const HttpFramer &framer) override;
    void messageEnded() override;
    bool inspecting() const override { return !m_decided; }

    ProxyRelay &m_relay;
    Stage m_stage = Stage::FirstRead;
    LoopbackSocket m_sockets[2];
    Watch m_watch[2];
    bool m_eof[2] = {false, false};
    bool m_shut[2] = {false, false};
    ReplyWatch m_replyWatch;
    GenerationMeter m_meter;
    bool m_metering = false;     // the current reply is a generation being read
    QString m_named;             // the model the latest request named
    // The models the generation requests named whose replies have not begun, in order:
    // a client may send several before the first reply.
    std::deque<QString> m_askedModels;
    bool m_generationAsked = false;   // the current request is one
    QString m_replyModel;        // the model the reply being read was asked for
    RelayDirection m_request;    // client to upstream
    RelayDirection m_response;   // upstream to client
    bool m_firstForwarded = false;
    int m_requests = 0;
    QByteArray m_prefix;         // the first bytes of the current request
    bool m_decided = true;       // the current request's model is known (or given up)
};
