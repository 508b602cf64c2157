#pragma once

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>
#include <deque>

// Finds where HTTP/1.1 messages begin and end in one direction of a connection, fed the
// bytes as they pass, in pieces of any size, without holding any of them back: the caller
// forwards every byte at once and only asks where it stood. Knows request and status
// lines, headers, Content-Length and chunked bodies (with trailers), bodiless replies
// (HEAD, 1xx, 204, 304) and replies that end with the connection. Anything it cannot read
// as HTTP (another protocol, an upgraded or tunnelled connection, absurd headers) makes the
// rest of the stream one unframed message, which is passed on just the same.
class HttpFramer
{
public:
    enum class Role { Request, Response };
    static constexpr std::size_t kLineMax = 16 * 1024;
    static constexpr std::size_t kHeadMax = 64 * 1024;
    static constexpr std::size_t kUnbounded = SIZE_MAX;
    static constexpr std::size_t kAskedMax = 1024;

    // What a response framer knows of the request a reply answers.
    struct Asked
    {
        bool head = false;      // HEAD: the reply has no body whatever its headers say
        bool tunnel = false;    // CONNECT: a 2xx reply turns the connection into a tunnel
        bool watched = false;   // a reply whose bytes someone wants to see
    };

    // Sees the body of each watched reply as it is fed, with the chunk framing taken off.
    class BodyListener
    {
    public:
        virtual void bodyBytes(const char *data, std::size_t size) = 0;

    protected:
        ~BodyListener() = default;
    };

    explicit HttpFramer(Role role) : m_role(role) {}
    void setBodyListener(BodyListener *listener) { m_bodyListener = listener; }

    // True between messages.
    bool awaitingMessage() const { return m_state == State::Idle; }
    // True when `next`, fed now, is the first byte of a message.
    bool beginsMessage(char next) const;
    // Takes bytes of the stream; stops early right after a message's head (headEnded())
    // or at its end (messageEnded()), so the caller can act there. Returns how many it took.
    std::size_t feed(const char *data, std::size_t size);
    // True once, right after the head of the current message has been fed.
    bool takeHeadEnded();
    bool messageEnded() const { return m_state == State::Complete; }
    // After messageEnded(): ready for the next message.
    void next();

    // Body bytes ahead that need no reading (a fixed body, chunk data, an unframed stream):
    // the caller may pass up to this many on unseen and tell skip().
    std::size_t opaqueAhead() const;
    void skip(std::size_t size);

    bool isFramed() const { return m_state != State::Raw; }
    // The current request's method and target, the current reply's status (0 until known).
    const QByteArray &method() const { return m_method; }
    const QByteArray &target() const { return m_target; }
    int status() const { return m_status; }
    // For a response framer: the request the next reply answers, in order.
    void expect(const Asked &asked);
    bool watched() const { return m_current.watched; }

private:
    enum class State { Idle, StartLine, Headers, Body, ChunkSize, ChunkData, ChunkEnd, Trailers, Complete, Raw };

    std::size_t takeLine(const char *data, std::size_t size, bool *complete);
    bool startLine();
    void header();
    void headEnded();
    void chunkSize();
    void goRaw() { m_state = State::Raw; m_rawBody = false; m_line.clear(); }

    Role m_role;
    State m_state = State::Idle;
    QByteArray m_line;
    std::size_t m_headBytes = 0;
    bool m_headEvent = false;
    QByteArray m_method;
    QByteArray m_target;
    int m_status = 0;
    bool m_chunked = false;
    bool m_hasLength = false;
    bool m_upgrade = false;
    std::uint64_t m_remaining = 0;
    std::deque<Asked> m_asked;
    Asked m_current;
    BodyListener *m_bodyListener = nullptr;
    bool m_rawBody = false;   // Raw holds a reply's body that ends with the connection
};
