#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Byte totals summed over every interface (loopback included).
struct NetTotals
{
    std::uint64_t received = 0;
    std::uint64_t sent = 0;
};

// Reads <procRoot>/net/dev, whose counters are 64-bit on every current kernel.
class NetDevReader
{
public:
    explicit NetDevReader(const std::string &procRoot = "/proc");

    std::optional<NetTotals> read();

    // Parses the text of a net/dev file; absent when no interface line is usable.
    static std::optional<NetTotals> parse(std::string_view text);

private:
    std::string m_path;
    std::string m_buffer;
};
