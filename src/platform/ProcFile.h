#pragma once

#include <string>
#include <string_view>

// Reads small kernel-provided text files (procfs, sysfs) with plain POSIX calls.
// These are re-read every second, so the read avoids QFile's buffering layers and
// reuses the caller's buffer instead of allocating a fresh one each time.
class ProcFile
{
public:
    // Replaces the contents of `out` with the file's bytes. False when the file cannot be
    // opened or read; `out` is then empty.
    static bool read(const std::string &path, std::string &out);
    // The same, for a path relative to an open directory (openat).
    static bool readAt(int dirFd, const char *relative, std::string &out);

    // Splits off the next line of `text` (without its newline), advancing `text` past it.
    static std::string_view nextLine(std::string_view &text);

    // Splits off the next whitespace-separated field of `text`, advancing `text` past it.
    static std::string_view nextField(std::string_view &text);

    // The text without leading and trailing white space (newlines included).
    static std::string_view trimmed(std::string_view text);

    // Parses an unsigned decimal number that must fill the whole field.
    static bool parseU64(std::string_view field, unsigned long long &value);
    static bool parseInt(std::string_view field, int &value);
};
