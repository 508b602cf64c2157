// The tables under /proc/net: the TCP socket tables (tcp, tcp6), the interface counters
// (dev), the TCP counters of snmp and the routing tables (route, ipv6_route).
#include "FuzzInput.h"

#include "platform/InterfaceAddressReader.h"
#include "platform/NetDevReader.h"
#include "platform/SocketTableReader.h"
#include "telemetry/ConnectionScanner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text = FuzzInput::text(data, size);

    for (const bool ipv6 : {false, true}) {
        const std::vector<SocketEntry> entries = SocketTableReader::parse(text, ipv6);
        for (const SocketEntry &entry : entries) {
            if (entry.localPort < 0 || entry.localPort > 65535 || entry.remotePort < 0 || entry.remotePort > 65535)
                std::abort();
        }
        // The connection list is made of these rows; its owners come from /proc/<pid>/fd.
        ConnectionScanner::OwnerCache owners;
        for (const SocketEntry &entry : entries)
            owners[entry.inode] = {static_cast<int>(entry.uid), QString::fromStdString(entry.localAddress)};
        (void)ConnectionScanner::rows(entries, owners);
    }
    (void)SocketTableReader::parseTcpActivity(text);

    std::vector<InterfaceCounters> interfaces;
    (void)NetDevReader::parse(text, &interfaces);

    (void)InterfaceAddressReader::defaultInterfaceIn(text);
    (void)InterfaceAddressReader::defaultInterfaceInIpv6(text);
    return 0;
}
