// The kernel's sock_diag answers: one datagram of a TCP socket dump, as recv() returns it.
#include "FuzzInput.h"

#include "platform/SocketTableReader.h"

#include <linux/netlink.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A buffer from operator new is aligned for a netlink header, as the reader's own
    // receive buffer is, and exactly as long as the datagram, so reading past it shows.
    const auto buffer = std::make_unique<char[]>(size);
    if (size)
        std::memcpy(buffer.get(), data, size);
    std::vector<SocketEntry> out;
    SocketTableReader::parseDiagnostics(buffer.get(), size, SocketTableReader::kAllStates, {AF_INET, AF_INET6}, out);
    SocketTableReader::parseDiagnostics(buffer.get(), size, 1u << SocketEntry::kListen, {AF_INET6}, out);
    return 0;
}
