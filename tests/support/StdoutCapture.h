#pragma once

#include <QByteArray>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

// Collects what is printed to standard output while it lives; text() ends the capture.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_saved = ::dup(STDOUT_FILENO);
        ::dup2(m_pipe[1], STDOUT_FILENO);
    }
    ~StdoutCapture() { text(); }

    QByteArray text()
    {
        if (m_saved < 0)
            return m_text;
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_saved = -1;
        ::close(m_pipe[1]);
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_pipe[0], buffer, sizeof buffer)) > 0)
            m_text.append(buffer, n);
        ::close(m_pipe[0]);
        return m_text;
    }

private:
    int m_pipe[2] = {-1, -1};
    int m_saved = -1;
    QByteArray m_text;
};
