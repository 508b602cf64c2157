#include "HttpFramer.h"

#include <algorithm>
#include <cstring>

namespace {
bool isToken(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
        || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

QByteArray lower(QByteArray text)
{
    return text.trimmed().toLower();
}

// The last comma-separated element of a header value, which decides the body's framing.
QByteArray lastElement(const QByteArray &value)
{
    const qsizetype comma = value.lastIndexOf(',');
    return lower(comma < 0 ? value : value.mid(comma + 1));
}
}

std::size_t HttpFramer::takeLine(const char *data, std::size_t size, bool *complete)
{
    const void *end = std::memchr(data, '\n', size);
    const std::size_t used = end ? std::size_t(static_cast<const char *>(end) - data) + 1 : size;
    m_line.append(data, qsizetype(used));
    *complete = end != nullptr;
    if (*complete) {
        m_line.chop(1);
        if (m_line.endsWith('\r'))
            m_line.chop(1);
    }
    return used;
}

std::size_t HttpFramer::feed(const char *data, std::size_t size)
{
    std::size_t used = 0;
    while (used < size && m_state != State::Complete && !m_headEvent) {
        const char *at = data + used;
        const std::size_t left = size - used;
        switch (m_state) {
        case State::Idle:
            // Empty lines between requests are allowed and belong to no message.
            if (m_role == Role::Request && isLineEnd(*at)) {
                while (used < size && isLineEnd(data[used]))
                    ++used;
                return used;
            }
            m_line.clear();
            m_headBytes = 0;
            m_method.clear();
            m_target.clear();
            m_status = 0;
            m_chunked = m_hasLength = m_upgrade = m_rawBody = false;
            m_remaining = 0;
            // The first byte tells a request's method (a token) or a reply's "HTTP/" apart
            // from any other protocol.
            if (m_role == Role::Request ? !isToken(*at) : *at != 'H') {
                goRaw();
                break;
            }
            m_state = State::StartLine;
            break;
        case State::StartLine:
        case State::Headers:
        case State::Trailers:
        case State::ChunkSize:
        case State::ChunkEnd: {
            bool complete = false;
            const std::size_t taken = takeLine(at, left, &complete);
            used += taken;
            m_headBytes += taken;
            if (!complete) {
                if (m_line.size() > qsizetype(kLineMax))
                    goRaw();
                break;
            }
            if (m_state == State::StartLine) {
                if (!startLine())
                    goRaw();
                else
                    m_state = State::Headers;
            } else if (m_state == State::Headers) {
                if (m_line.isEmpty())
                    headEnded();
                else if (m_headBytes > kHeadMax)
                    goRaw();
                else
                    header();
            } else if (m_state == State::ChunkSize) {
                chunkSize();
            } else if (m_state == State::ChunkEnd) {
                if (m_line.isEmpty())
                    m_state = State::ChunkSize;
                else
                    goRaw();
            } else if (m_line.isEmpty()) {
                m_state = State::Complete;
            } else if (m_headBytes > kHeadMax) {
                goRaw();
            }
            m_line.clear();
            continue;
        }
        case State::Body:
        case State::ChunkData:
        case State::Raw: {
            const bool listened = m_bodyListener && m_current.watched && (m_state != State::Raw || m_rawBody);
            const std::size_t taken = std::min<std::uint64_t>(left, opaqueAhead());
            skip(taken);
            used += taken;
            if (listened && taken > 0)
                m_bodyListener->bodyBytes(at, taken);
            break;
        }
        case State::Complete:
            break;
        }
    }
    return used;
}

bool HttpFramer::startLine()
{
    const QList<QByteArray> parts = m_line.split(' ');
    if (m_role == Role::Request) {
        if (parts.size() != 3 || !parts[2].startsWith("HTTP/1.") || parts[0].isEmpty() || parts[1].isEmpty())
            return false;
        for (char c : parts[0])
            if (!isToken(c))
                return false;
        m_method = parts[0];
        m_target = parts[1];
        return true;
    }
    if (parts.size() < 2 || !parts[0].startsWith("HTTP/1.") || parts[1].size() != 3)
        return false;
    bool ok = false;
    m_status = parts[1].toInt(&ok);
    return ok && m_status >= 100;
}

void HttpFramer::header()
{
    const qsizetype colon = m_line.indexOf(':');
    if (colon <= 0)
        return;
    const QByteArray name = lower(m_line.left(colon));
    const QByteArray value = m_line.mid(colon + 1);
    if (name == "transfer-encoding") {
        m_chunked = lastElement(value) == "chunked";
    } else if (name == "content-length") {
        bool ok = false;
        const qulonglong length = value.trimmed().toULongLong(&ok);
        if (ok) {
            m_hasLength = true;
            m_remaining = length;
        }
    } else if (name == "upgrade") {
        m_upgrade = true;
    }
}

void HttpFramer::headEnded()
{
    m_headEvent = true;
    if (m_role == Role::Request) {
        // An upgrade or a tunnel may turn what follows into another protocol: stop framing.
        if (m_upgrade || m_method == "CONNECT")
            m_state = State::Raw;
        else if (m_chunked)
            m_state = State::ChunkSize;
        else
            m_state = m_remaining > 0 ? State::Body : State::Complete;
        return;
    }
    const bool interim = m_status >= 100 && m_status < 200 && m_status != 101;
    if (!interim) {
        m_current = m_asked.empty() ? Asked{} : m_asked.front();
        if (!m_asked.empty())
            m_asked.pop_front();
    }
    if (m_status == 101 || (m_current.tunnel && m_status / 100 == 2))
        m_state = State::Raw;
    else if (interim || m_current.head || m_status == 204 || m_status == 304)
        m_state = State::Complete;
    else if (m_chunked)
        m_state = State::ChunkSize;
    else if (m_hasLength)
        m_state = m_remaining > 0 ? State::Body : State::Complete;
    else {
        m_state = State::Raw;   // ends with the connection
        m_rawBody = true;
    }
}

void HttpFramer::chunkSize()
{
    const qsizetype semicolon = m_line.indexOf(';');
    const QByteArray digits = (semicolon < 0 ? m_line : m_line.left(semicolon)).trimmed();
    bool ok = false;
    const qulonglong size = digits.toULongLong(&ok, 16);
    if (!ok || digits.isEmpty() || digits.size() > 15) {
        goRaw();
        return;
    }
    m_remaining = size;
    m_headBytes = 0;
    m_state = size > 0 ? State::ChunkData : State::Trailers;
}

bool HttpFramer::beginsMessage(char next) const
{
    return m_state == State::Idle && !(m_role == Role::Request && isLineEnd(next));
}

void HttpFramer::expect(const Asked &asked)
{
    // A client can send requests faster than replies come, or after the replies stopped
    // being framed; what is remembered for them stays bounded.
    if (m_state != State::Raw && m_asked.size() < kAskedMax)
        m_asked.push_back(asked);
}

bool HttpFramer::takeHeadEnded()
{
    const bool ended = m_headEvent;
    m_headEvent = false;
    return ended;
}

void HttpFramer::next()
{
    if (m_state == State::Complete)
        m_state = State::Idle;
}

std::size_t HttpFramer::opaqueAhead() const
{
    switch (m_state) {
    case State::Body:
    case State::ChunkData:
        return std::size_t(std::min<std::uint64_t>(m_remaining, kUnbounded));
    case State::Raw:
        return kUnbounded;
    default:
        return 0;
    }
}

void HttpFramer::skip(std::size_t size)
{
    if (m_state == State::Raw || size == 0)
        return;
    m_remaining -= std::min<std::uint64_t>(size, m_remaining);
    if (m_remaining > 0)
        return;
    m_state = m_state == State::Body ? State::Complete : State::ChunkEnd;
}
