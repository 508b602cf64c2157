#include "KeptFile.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>

namespace {
bool regeneratedOnRead(int fd)
{
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return false;
    return fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC;
}
}

KeptFile::KeptFile(std::string path)
    : m_path(std::move(path))
{
}

KeptFile::~KeptFile()
{
    close();
}

KeptFile::KeptFile(KeptFile &&other) noexcept
    : m_path(std::move(other.m_path))
    , m_fd(std::exchange(other.m_fd, -1))
{
}

KeptFile &KeptFile::operator=(KeptFile &&other) noexcept
{
    if (this != &other) {
        close();
        m_path = std::move(other.m_path);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

void KeptFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool KeptFile::read(std::string &out)
{
    if (m_fd >= 0) {
        if (readOpen(m_fd, out))
            return true;
        close();
    }
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        out.clear();
        return false;
    }
    const bool ok = readOpen(fd, out);
    if (ok && regeneratedOnRead(fd))
        m_fd = fd;
    else
        ::close(fd);
    return ok;
}

bool KeptFile::readOpen(int fd, std::string &out)
{
    // The last size plus a page: the usual pass is one short read. procfs and sysfs fill a
    // read as far as the text goes, so a short read is the end; a full one may not be.
    size_t used = 0;
    const size_t want = out.size() + 4096;
    if (out.capacity() < want)
        out.reserve(want);
    for (;;) {
        out.resize(std::max(out.capacity(), used + 4096));
        const size_t room = out.size() - used;
        const ssize_t n = ::pread(fd, out.data() + used, room, static_cast<off_t>(used));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            out.clear();
            return false;
        }
        used += static_cast<size_t>(n);
        if (static_cast<size_t>(n) < room)
            break;
    }
    out.resize(used);
    return true;
}
