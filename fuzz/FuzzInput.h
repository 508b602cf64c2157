#pragma once

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

// What the fuzz targets share: views of libFuzzer's bytes as the types the parsers take,
// and a scratch folder for the readers that only read files (a sysfs or procfs root).
namespace FuzzInput {

inline std::string_view text(const std::uint8_t *data, std::size_t size)
{
    return {reinterpret_cast<const char *>(data), size};
}

// A deep copy: QByteArray::fromRawData would let a parser keep a view of libFuzzer's
// buffer past the call, which is not how any parser is fed.
inline QByteArray bytes(const std::uint8_t *data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

inline QString string(const std::uint8_t *data, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

// The input cut at each newline, the newlines dropped.
inline std::vector<std::string_view> lines(std::string_view text)
{
    std::vector<std::string_view> out;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        out.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return out;
}

// One folder for the life of the process, removed when it exits. It is made in memory
// where the machine has /dev/shm: ext4 flushes a file rewritten through O_TRUNC when it is
// closed, which made a write take 2 ms on a disk here against 11 µs on tmpfs.
inline const std::string &root()
{
    static QTemporaryDir dir((QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                                 : QDir::tempPath())
                             + QStringLiteral("/quillmoor-fuzz-XXXXXX"));
    static const std::string path = [] {
        if (!dir.isValid())
            std::abort();
        return dir.path().toStdString();
    }();
    return path;
}

// Writes `bytes` to root()/relative, making the folders on the way.
inline std::string put(const std::string &relative, std::string_view bytes)
{
    const std::filesystem::path path = std::filesystem::path(root()) / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

// Removes root()/relative, so a reader finds it absent.
inline std::string drop(const std::string &relative)
{
    const std::filesystem::path path = std::filesystem::path(root()) / relative;
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return path.string();
}

}
