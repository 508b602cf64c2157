#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct FileSystemUsage
{
    std::uint64_t totalBytes = 0;
    std::uint64_t usedBytes = 0;   // (blocks - free blocks) x fragment size, as df reports
    std::uint64_t availableBytes = 0;   // what an unprivileged user may still write
};

// statvfs of the file system that holds a given path (the home directory, for the app).
class FileSystemStats
{
public:
    explicit FileSystemStats(const std::string &path);

    std::optional<FileSystemUsage> read() const;
    // The folder the path's file system is mounted on: the highest folder above the path on
    // the same device. Empty when the path cannot be read.
    std::string mountPoint() const;

private:
    std::string m_path;
};
