#include "FileSystemStats.h"

#include <sys/statvfs.h>

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
    return usage;
}
