#include "FileSystemStats.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <climits>
#include <cstdlib>

FileSystemStats::FileSystemStats(const std::string &path)
    : m_path(path)
{
}

std::optional<FileSystemUsage> FileSystemStats::read() const
{
    struct statvfs st {};
    if (::statvfs(m_path.c_str(), &st) != 0 || st.f_blocks == 0)
        return std::nullopt;
    const std::uint64_t fragment = st.f_frsize ? st.f_frsize : st.f_bsize;
    FileSystemUsage usage;
    usage.totalBytes = static_cast<std::uint64_t>(st.f_blocks) * fragment;
    const std::uint64_t freeBlocks = st.f_bfree <= st.f_blocks ? st.f_bfree : st.f_blocks;
    usage.usedBytes = (static_cast<std::uint64_t>(st.f_blocks) - freeBlocks) * fragment;
    const std::uint64_t availableBlocks = st.f_bavail <= freeBlocks ? st.f_bavail : freeBlocks;
    usage.availableBytes = static_cast<std::uint64_t>(availableBlocks) * fragment;
    return usage;
}

std::string FileSystemStats::mountPoint() const
{
    char *resolved = ::realpath(m_path.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string path(resolved);
    std::free(resolved);
    struct stat here {};
    if (::stat(path.c_str(), &here) != 0)
        return {};
    // Climb while the parent lies on the same device; the last folder before the device
    // changes (or the root) is where the file system is mounted.
    while (path != "/") {
        const std::size_t slash = path.find_last_of('/');
        const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
        struct stat above {};
        if (::stat(parent.c_str(), &above) != 0 || above.st_dev != here.st_dev)
            break;
        path = parent;
    }
    return path;
}
