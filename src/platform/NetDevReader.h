#pragma once

#include <cstdint>
#include <optional>
#include "KeptFile.h"

#include <string>
#include <string_view>
#include <vector>

// Byte totals summed over every interface (loopback included).
struct NetTotals
{
    std::uint64_t received = 0;
    std::uint64_t sent = 0;
};

// One interface's byte counters, as the kernel keeps them.
struct InterfaceCounters
{
    std::string name;
    std::uint64_t received = 0;
    std::uint64_t sent = 0;
};

// Reads <procRoot>/net/dev, whose counters are 64-bit on every current kernel.
class NetDevReader
{
public:
    explicit NetDevReader(const std::string &procRoot = "/proc");

    // With `perInterface`, also each interface's own counters, in file order.
    std::optional<NetTotals> read(std::vector<InterfaceCounters> *perInterface = nullptr);

    // Parses the text of a net/dev file; absent when no interface line is usable.
    static std::optional<NetTotals> parse(std::string_view text, std::vector<InterfaceCounters> *perInterface = nullptr);

private:
    KeptFile m_file;
    std::string m_buffer;
};
