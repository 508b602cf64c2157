#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

// Where the proxy relays to, and how long an upstream connect may take.
struct RelayTarget
{
    QHostAddress host = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 11434;
    int connectTimeoutMs = 5000;
};

// One client and its upstream connection. The first read (at most 4096 bytes) names the
// model and opens the upstream; from then on bytes flow both ways unchanged. A side is
// left unread while the other side still has 64 KiB or more to send, so a fast peer never
// piles data up in front of a slow one. When either side ends, what was already read is
// delivered and both are closed. Lives on the proxy thread.
class RelayedConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kFirstReadMax = 4096;
    static constexpr qint64 kChunkMax = 65536;
    static constexpr qint64 kHighWater = 64 * 1024;
    // A closing side whose peer stops reading is cut off after this long.
    static constexpr int kLingerMs = 60000;

    // Takes ownership of `client`, an accepted connection.
    RelayedConnection(QTcpSocket *client, const RelayTarget &target, QObject *parent = nullptr);
    ~RelayedConnection() override;
    // Begins with the first read; call once the signals are connected.
    void start();

    // The quoted value of the first "model" key in `firstRead`, or "General Request".
    static QString modelNamed(const QByteArray &firstRead);
    // What a client gets when the upstream cannot be reached.
    static const QByteArray &failsafeReply();

Q_SIGNALS:
    void routed(const QString &model);
    void logged(const QString &line);
    // Both sides are closed; the owner deletes the connection.
    void finished();

private:
    enum class Stage { FirstRead, Connecting, Relaying, Failsafe, Closing, Done };

    void onClientReadable();
    void onClientClosed();
    void onClientError();
    void onUpstreamConnected();
    void onUpstreamClosed();
    void onUpstreamError();
    void failOver(const QString &error);
    void pump(QTcpSocket *from, QTcpSocket *to, bool drain = false);
    void closeBoth();
    void finishIfClosed();

    Stage m_stage = Stage::FirstRead;
    RelayTarget m_target;
    QTcpSocket *m_client;
    QTcpSocket *m_upstream = nullptr;
    QByteArray m_firstRead;
    qint64 m_firstUnsent = 0;   // bytes of the first read not yet handed to the kernel
    QTimer m_deadline;          // the upstream connect, then the linger while closing
};
