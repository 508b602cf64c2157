#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct FileSystemUsage
{
    std::uint64_t totalBytes = 0;
    std::uint64_t usedBytes = 0;   // (blocks - free blocks) x fragment size, as df reports
    std::uint64_t availableBytes = 0;   // what an unprivileged user may still write

    // What df's Use% divides by. The blocks reserved for root (5 % by default on ext4) are
    // neither used nor writable by the user, so dividing by the whole size understates use.
    std::uint64_t userCapacityBytes() const { return usedBytes + availableBytes; }
};

// The block counts of a statvfs answer that the figures are made from.
struct FileSystemBlocks
{
    std::uint64_t blocks = 0;      // f_blocks
    std::uint64_t free = 0;        // f_bfree: includes the reserved blocks
    std::uint64_t available = 0;   // f_bavail: free to an unprivileged user
    std::uint64_t fragmentSize = 0;   // f_frsize
};

// statvfs of the file system that holds a given path (the home directory, for the app).
class FileSystemStats
{
public:
    explicit FileSystemStats(const std::string &path);

    std::optional<FileSystemUsage> read() const;
    // The byte figures of a statvfs answer, clamped where a racing update leaves the counts
    // out of order.
    static FileSystemUsage usageOf(const FileSystemBlocks &blocks);
    // The folder the path's file system is mounted on: the highest folder above the path on
    // the same device. Empty when the path cannot be read.
    std::string mountPoint() const;

private:
    std::string m_path;
};
