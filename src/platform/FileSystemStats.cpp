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
    return usageOf({st.f_blocks, st.f_bfree, st.f_bavail, st.f_frsize ? st.f_frsize : st.f_bsize});
}

FileSystemUsage FileSystemStats::usageOf(const FileSystemBlocks &b)
{
    FileSystemUsage usage;
    usage.totalBytes = b.blocks * b.fragmentSize;
    const std::uint64_t freeBlocks = b.free <= b.blocks ? b.free : b.blocks;
    usage.usedBytes = (b.blocks - freeBlocks) * b.fragmentSize;
    const std::uint64_t availableBlocks = b.available <= freeBlocks ? b.available : freeBlocks;
    usage.availableBytes = availableBlocks * b.fragmentSize;
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
