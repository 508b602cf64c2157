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
    , m_page(std::move(other.m_page))
{
}

KeptFile &KeptFile::operator=(KeptFile &&other) noexcept
{
    if (this != &other) {
        close();
        m_path = std::move(other.m_path);
        m_fd = std::exchange(other.m_fd, -1);
        m_page = std::move(other.m_page);
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
    // One read when the text fits the page kept from the last pass. procfs and sysfs fill a
    // read as far as the text goes, so a short read is the end; a full one may not be, and
    // the page grows for the next pass.
    if (m_page.empty())
        m_page.resize(512);   // most sysfs attributes are a few bytes; /proc/stat grows it once
    size_t used = 0;
    for (;;) {
        if (used == m_page.size())
            m_page.resize(m_page.size() * 2);
        const size_t room = m_page.size() - used;
        const ssize_t n = ::pread(fd, m_page.data() + used, room, static_cast<off_t>(used));
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
    out.assign(m_page.data(), used);
    return true;
}
