#include "ProcFile.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>

bool ProcFile::read(const std::string &path, std::string &out)
{
    return readAt(AT_FDCWD, path.c_str(), out);
}

bool ProcFile::readAt(int dirFd, const char *relative, std::string &out)
{
    out.clear();
    const int fd = ::openat(dirFd, relative, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // procfs files report a size of 0, so grow until read() says end of file.
    size_t used = 0;
    if (out.capacity() < 4096)
        out.reserve(4096);
    bool ok = true;
    for (;;) {
        if (out.size() < used + 4096)
            out.resize(used + 4096);
        const ssize_t n = ::read(fd, out.data() + used, out.size() - used);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (n == 0)
            break;
        used += static_cast<size_t>(n);
    }
    ::close(fd);
    out.resize(ok ? used : 0);
    return ok;
}

std::string_view ProcFile::nextLine(std::string_view &text)
{
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    return line;
}

std::string_view ProcFile::nextField(std::string_view &text)
{
    size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t'))
        ++start;
    size_t end = start;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t')
        ++end;
    std::string_view field = text.substr(start, end - start);
    text.remove_prefix(end);
    return field;
}

bool ProcFile::parseU64(std::string_view field, unsigned long long &value)
{
    if (field.empty())
        return false;
    const auto [ptr, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    return ec == std::errc() && ptr == field.data() + field.size();
}

bool ProcFile::parseInt(std::string_view field, int &value)
{
    if (field.empty())
        return false;
    const auto [ptr, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    return ec == std::errc() && ptr == field.data() + field.size();
}

std::string_view ProcFile::trimmed(std::string_view text)
{
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}
