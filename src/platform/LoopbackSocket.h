#pragma once

#include <QHostAddress>
#include <QString>

#include <cstddef>

// What one non-blocking transfer did.
struct IoResult
{
    enum Status { Done, WouldBlock, Closed, Failed };
    Status status = Done;
    std::size_t bytes = 0;   // moved, when Done
    int error = 0;           // errno, when Failed
};

// An owned, non-blocking TCP socket descriptor and the few calls a relay makes on it,
// with nothing around them: no address look-ups, no option probes, no buffering. Every
// descriptor is opened close-on-exec so launched tools never inherit a connection.
class LoopbackSocket
{
public:
    LoopbackSocket() = default;
    explicit LoopbackSocket(int fd) : m_fd(fd) {}
    ~LoopbackSocket() { close(); }
    LoopbackSocket(LoopbackSocket &&other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    LoopbackSocket &operator=(LoopbackSocket &&other) noexcept;
    LoopbackSocket(const LoopbackSocket &) = delete;
    LoopbackSocket &operator=(const LoopbackSocket &) = delete;

    // A listener on `address` (port 0: the system picks one); on failure an invalid socket
    // and the reason in `error`.
    static LoopbackSocket listen(const QHostAddress &address, quint16 port, int backlog, QString *error);
    // Starts a connection; `inProgress` tells whether it completes later (watch for
    // writability, then ask pendingError()). Invalid, with `error` set, when it failed at once.
    static LoopbackSocket connectTo(const QHostAddress &address, quint16 port, bool *inProgress, int *error);
    // A descriptor held back for the moment the table is full (see refuse()).
    static int reserveDescriptor();

    bool isValid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    quint16 localPort() const;

    // The next pending client, non-blocking with Nagle off; invalid with `error` (an errno,
    // EAGAIN when none is waiting) otherwise.
    LoopbackSocket accept(int *error) const;
    // With the descriptor table full: gives up `spare` for a moment to take the next
    // pending client, sends it `reply` and closes it, then takes `spare` back. False when
    // no client could be taken or the spare could not be restored.
    bool refuse(int &spare, const char *reply, std::size_t size) const;

    int pendingError() const;
    IoResult read(char *data, std::size_t size) const;
    IoResult write(const char *data, std::size_t size) const;
    // Sends the end of the stream; reading goes on.
    void shutdownWrite() const;
    // Drops whatever input is queued, so that closing sends an orderly end, not a reset.
    void discardInput() const;
    void close();

private:
    int m_fd = -1;
};
