#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct FileSystemUsage
{
    std::uint64_t totalBytes = 0;
    std::uint64_t usedBytes = 0;   // (blocks - free blocks) x fragment size, as df reports
};

// statvfs of the file system that holds a given path (the home directory, for the app).
class FileSystemStats
{
public:
    explicit FileSystemStats(const std::string &path);

    std::optional<FileSystemUsage> read() const;

private:
    std::string m_path;
};
