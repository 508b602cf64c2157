#pragma once

#include "HttpFramer.h"
#include "platform/LoopbackSocket.h"
#include "platform/SplicePipe.h"

#include <cstddef>
#include <optional>
#include <vector>

// One direction of a relayed connection: bytes read from one socket are written to the
// other at once, and what the other does not take yet is held (one piece at most: 64 KiB
// read, or 256 KiB in the pipe) while the reading side is left alone, so a fast peer
// never piles data up in front of a slow one. HTTP framing is followed on the way, never
// holding a byte back for it. Bulk bytes that nobody needs to see move through a kernel
// pipe (splice) instead of user space.
class RelayDirection
{
public:
    static constexpr std::size_t kChunkMax = 65536;

    // Sees each message of the direction go by.
    class Observer
    {
    public:
        virtual void messageBegun() = 0;
        virtual void messageBytes(const char *data, std::size_t size) = 0;
        virtual void headEnded(const HttpFramer &framer) = 0;
        virtual void messageEnded() = 0;
        // While true the bytes of the current message are read through user space.
        virtual bool inspecting() const = 0;

    protected:
        ~Observer() = default;
    };

    enum class Step { Open, Ended, Failed };

    RelayDirection(HttpFramer::Role role, Observer *observer);

    void attach(const LoopbackSocket *from, const LoopbackSocket *to) { m_from = from; m_to = to; }
    void setSpliceAllowed(bool allowed) { m_spliceAllowed = allowed; }
    HttpFramer &framer() { return m_framer; }

    // Reads once from `from` and writes what came to `to`, or holds it while `to` is not
    // writable (not connected yet: `toReady` false). Nothing is read while bytes are held.
    Step pump(char *scratch, std::size_t size, bool toReady = true);
    // Frames the bytes the last pump() held unread for a `to` not ready (they are still at
    // the start of `scratch`), once the caller has sent them on their way.
    void walkDeferred(const char *scratch);
    // Writes what is held; Failed when `to` refused it (error()).
    Step flush();
    // Queues bytes to go before anything read later.
    void hold(const char *data, std::size_t size);

    bool holding() const { return m_held.size() > m_offset || m_pipe.held() > 0; }
    std::size_t heldBytes() const { return m_held.size() - m_offset + m_pipe.held(); }
    bool canRead() const { return !m_ended && !holding(); }
    bool ended() const { return m_ended; }
    void end() { m_ended = true; }
    int error() const { return m_error; }
    // Drops what is held and the pipe, when the other side is gone.
    void discard();

private:
    Step pumpOnce(char *scratch, std::size_t size, bool toReady);
    bool spliceNow() const;
    Step splice();
    // What a read that brought no bytes means for this direction; nothing when bytes came.
    std::optional<Step> stopAfterRead(const IoResult &in);
    void walk(const char *data, std::size_t size);
    Step fail(int error);

    HttpFramer m_framer;
    Observer *m_observer;
    const LoopbackSocket *m_from = nullptr;
    const LoopbackSocket *m_to = nullptr;
    std::vector<char> m_held;
    std::size_t m_offset = 0;
    SplicePipe m_pipe;
    bool m_spliceAllowed = true;
    bool m_bulk = false;   // a read came back full: this direction carries bulk bytes
    bool m_ended = false;
    int m_error = 0;
    std::size_t m_moved = 0;      // by the last piece
    std::size_t m_deferred = 0;   // bytes read but not framed yet (see walkDeferred())
};
