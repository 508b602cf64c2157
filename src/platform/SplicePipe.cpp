#include "SplicePipe.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

SplicePipe::~SplicePipe()
{
    close();
}

bool SplicePipe::open(std::size_t capacity)
{
    if (isOpen())
        return true;
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    m_read = ends[0];
    m_write = ends[1];
    // Best effort: past the user's pipe allowance the kernel keeps the default size.
    ::fcntl(m_write, F_SETPIPE_SZ, int(capacity));
    m_held = 0;
    return true;
}

IoResult SplicePipe::fill(int from, std::size_t max)
{
    const ssize_t n = ::splice(from, nullptr, m_write, nullptr, max, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (n > 0) {
        m_held += std::size_t(n);
        return {IoResult::Done, std::size_t(n), 0};
    }
    if (n == 0)
        return {IoResult::Closed, 0, 0};
    if (errno == EAGAIN || errno == EINTR)
        return {IoResult::WouldBlock, 0, 0};
    return {IoResult::Failed, 0, errno};
}

IoResult SplicePipe::drain(int to)
{
    if (m_held == 0)
        return {IoResult::Done, 0, 0};
    const ssize_t n = ::splice(m_read, nullptr, to, nullptr, m_held, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (n > 0) {
        m_held -= std::size_t(n);
        return {IoResult::Done, std::size_t(n), 0};
    }
    if (n == 0 || errno == EAGAIN || errno == EINTR)
        return {IoResult::WouldBlock, 0, 0};
    return {IoResult::Failed, 0, errno};
}

void SplicePipe::close()
{
    if (m_read >= 0) {
        ::close(m_read);
        ::close(m_write);
    }
    m_read = m_write = -1;
    m_held = 0;
}
