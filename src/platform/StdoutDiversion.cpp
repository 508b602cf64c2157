#include "StdoutDiversion.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

StdoutDiversion::StdoutDiversion()
{
    std::fflush(stdout);
    m_stdout = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (m_stdout >= 0)
        ::dup2(STDERR_FILENO, STDOUT_FILENO);
}

StdoutDiversion::~StdoutDiversion()
{
    if (m_stdout < 0)
        return;
    std::fflush(stdout);
    ::dup2(m_stdout, STDOUT_FILENO);
    ::close(m_stdout);
}

bool StdoutDiversion::write(const QByteArray &bytes) const
{
    const int fd = m_stdout >= 0 ? m_stdout : STDOUT_FILENO;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}
