#pragma once

#include "LoopbackSocket.h"

#include <cstddef>

// A kernel pipe that carries bytes from one socket to another without copying them
// through user space (splice(2)). What went in and has not come out yet is held(); the
// pipe's capacity bounds it. Opened on first use, so connections that never carry bulk
// bytes pay no descriptors for it.
class SplicePipe
{
public:
    SplicePipe() = default;
    ~SplicePipe();
    SplicePipe(const SplicePipe &) = delete;
    SplicePipe &operator=(const SplicePipe &) = delete;

    // `capacity` asks for a larger pipe than the default 64 KiB.
    bool open(std::size_t capacity);
    bool isOpen() const { return m_read >= 0; }
    std::size_t held() const { return m_held; }

    // Moves up to `max` bytes from socket `from` into the pipe.
    IoResult fill(int from, std::size_t max);
    // Moves what the pipe holds on to socket `to`, as much as it takes now.
    IoResult drain(int to);
    void close();

private:
    int m_read = -1;
    int m_write = -1;
    std::size_t m_held = 0;
};
