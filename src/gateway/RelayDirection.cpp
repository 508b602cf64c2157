#include "RelayDirection.h"

#include <algorithm>

namespace {
// A body shorter than this goes through user space: a pipe would cost more than it saves.
constexpr std::size_t kSpliceMin = 16 * 1024;
constexpr int kPiecesPerTurn = 8;
// Spliced pieces are larger than read ones: on loopback, pieces of 64 KiB made splice
// slower than a plain copy, pieces of 256 KiB faster (measured with the relay bench).
constexpr std::size_t kSpliceMax = 256 * 1024;
}

RelayDirection::RelayDirection(HttpFramer::Role role, Observer *observer)
    : m_framer(role)
    , m_observer(observer)
{
}

RelayDirection::Step RelayDirection::fail(int error)
{
    m_error = error;
    return Step::Failed;
}

void RelayDirection::hold(const char *data, std::size_t size)
{
    if (m_offset == m_held.size()) {
        m_held.clear();
        m_offset = 0;
    }
    m_held.insert(m_held.end(), data, data + size);
}

void RelayDirection::discard()
{
    m_held.clear();
    m_offset = 0;
    m_pipe.close();
}

RelayDirection::Step RelayDirection::flush()
{
    if (m_pipe.held() > 0) {
        const IoResult result = m_pipe.drain(m_to->fd());
        if (result.status == IoResult::Failed)
            return fail(result.error);
        return m_ended ? Step::Ended : Step::Open;
    }
    if (m_offset < m_held.size()) {
        const IoResult result = m_to->write(m_held.data() + m_offset, m_held.size() - m_offset);
        if (result.status == IoResult::Failed)
            return fail(result.error);
        if (result.status == IoResult::Done)
            m_offset += result.bytes;
        if (m_offset == m_held.size()) {
            m_held.clear();
            m_offset = 0;
            if (m_held.capacity() > kChunkMax)
                m_held.shrink_to_fit();
        }
    }
    return m_ended ? Step::Ended : Step::Open;
}

bool RelayDirection::spliceNow() const
{
    if (!m_spliceAllowed || m_framer.watched() || (m_observer && m_observer->inspecting()))
        return false;
    const std::size_t opaque = m_framer.opaqueAhead();
    // An unframed stream is spliced once it has shown itself to be bulk; a known body
    // when it is long enough to be worth a pipe.
    if (opaque == HttpFramer::kUnbounded)
        return m_bulk;
    return opaque >= kSpliceMin && (m_bulk || opaque >= kChunkMax);
}

std::optional<RelayDirection::Step> RelayDirection::stopAfterRead(const IoResult &in)
{
    switch (in.status) {
    case IoResult::WouldBlock:
        return Step::Open;
    case IoResult::Closed:
        m_ended = true;
        return Step::Ended;
    case IoResult::Failed:
        return fail(in.error);
    default:
        return std::nullopt;   // bytes came: go on with them
    }
}

RelayDirection::Step RelayDirection::splice()
{
    const std::size_t opaque = m_framer.opaqueAhead();
    const IoResult in = m_pipe.fill(m_from->fd(), std::min(opaque, kSpliceMax));
    if (const std::optional<Step> stop = stopAfterRead(in))
        return *stop;
    m_moved = in.bytes;
    m_framer.skip(in.bytes);
    if (m_framer.messageEnded()) {
        if (m_observer)
            m_observer->messageEnded();
        m_framer.next();
    }
    return flush();
}

RelayDirection::Step RelayDirection::pump(char *scratch, std::size_t size, bool toReady)
{
    // A bulk stream is moved several pieces a turn while the far side takes them whole:
    // the turn of the loop costs more than the piece.
    Step step = Step::Open;
    for (int round = 0; round < kPiecesPerTurn; ++round) {
        m_moved = 0;
        step = pumpOnce(scratch, size, toReady);
        if (step != Step::Open || !toReady || holding() || m_moved < kChunkMax / 2)
            break;
    }
    return step;
}

RelayDirection::Step RelayDirection::pumpOnce(char *scratch, std::size_t size, bool toReady)
{
    if (holding()) {
        if (!toReady)
            return Step::Open;
        const Step step = flush();
        if (step == Step::Failed || holding())
            return step;
    }
    if (m_ended)
        return Step::Ended;
    if (toReady && spliceNow()) {
        if (m_pipe.open(kSpliceMax))
            return splice();
        m_spliceAllowed = false;   // no descriptors for a pipe: user space will do
    }
    const IoResult in = m_from->read(scratch, std::min(size, kChunkMax));
    if (const std::optional<Step> stop = stopAfterRead(in))
        return *stop;
    m_moved = in.bytes;
    m_bulk = m_bulk || in.bytes >= kChunkMax / 2;
    if (!toReady) {
        hold(scratch, in.bytes);
        m_deferred = in.bytes;
        return Step::Open;
    }
    const IoResult out = m_to->write(scratch, in.bytes);
    const std::size_t sent = out.status == IoResult::Done ? out.bytes : 0;
    if (out.status != IoResult::Failed && sent < in.bytes)
        hold(scratch + sent, in.bytes - sent);
    // Framed once they are on their way: nothing waits for the framing.
    walk(scratch, in.bytes);
    return out.status == IoResult::Failed ? fail(out.error) : Step::Open;
}

void RelayDirection::walkDeferred(const char *scratch)
{
    const std::size_t size = m_deferred;
    m_deferred = 0;
    walk(scratch, size);
}

void RelayDirection::walk(const char *data, std::size_t size)
{
    std::size_t offset = 0;
    while (offset < size) {
        if (m_observer && m_framer.beginsMessage(data[offset]))
            m_observer->messageBegun();
        const std::size_t used = m_framer.feed(data + offset, size - offset);
        if (m_observer && used > 0)
            m_observer->messageBytes(data + offset, used);
        offset += used;
        if (m_framer.takeHeadEnded() && m_observer)
            m_observer->headEnded(m_framer);
        if (m_framer.messageEnded()) {
            if (m_observer)
                m_observer->messageEnded();
            m_framer.next();
        }
    }
}
