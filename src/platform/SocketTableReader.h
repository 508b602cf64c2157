#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// One TCP socket as the kernel's socket tables list it.
struct SocketEntry
{
    static constexpr int kEstablished = 0x01;   // include/net/tcp_states.h
    static constexpr int kListen = 0x0A;

    bool ipv6 = false;
    std::string localAddress;    // numeric, "127.0.0.1" or "::1"
    int localPort = 0;
    std::string remoteAddress;
    int remotePort = 0;
    int state = 0;               // the kernel's TCP state number
    unsigned uid = 0;
    std::uint64_t inode = 0;     // 0 for a socket in TIME_WAIT, which no process owns
};

// The kernel's TCP counters (net/snmp) that move whenever a connection reaches or leaves
// ESTABLISHED: the connections established now, the opens that got through (attempts
// less failed attempts) and the resets of established connections. Equal readings mean
// no connection was set up or torn down in between.
struct TcpActivity
{
    std::uint64_t established = 0;
    std::uint64_t opened = 0;
    std::uint64_t resets = 0;
    bool operator==(const TcpActivity &) const = default;
};

// The TCP tables under a procfs root (net/tcp and net/tcp6) and the processes that own
// their sockets, found as ss -p finds them: through the socket links in /proc/<pid>/fd.
class SocketTableReader
{
public:
    // A bit per TCP state number: 1 << SocketEntry::kListen and so on.
    static constexpr unsigned kAllStates = 0xFFFu;

    explicit SocketTableReader(std::string procRoot = "/proc");

    // The TCP sockets in the states of `stateMask`, IPv4 first; a missing table (no IPv6)
    // contributes nothing. For the live /proc they come from the kernel's socket
    // diagnostics over netlink, as ss gets them: the kernel then skips the states left
    // out, so listeners cost next to nothing, where reading net/tcp walks the whole
    // connection hash, twice per read. Should netlink be refused, and for any other
    // root (a test's tree), the text tables are read. `listed`, when given, says whether
    // the listing got through: an empty list from an unreadable IPv4 table is no
    // evidence that there are no sockets.
    std::vector<SocketEntry> readTcp(unsigned stateMask = kAllStates, bool *listed = nullptr) const;

    // The same from the text tables alone.
    std::vector<SocketEntry> readTcpTables(unsigned stateMask = kAllStates, bool *listed = nullptr) const;

    // The same from this machine's kernel over netlink alone; false when it refuses.
    // `combined` asks for both families at once, falling back to one request each.
    static bool readTcpDiagnostics(unsigned stateMask, std::vector<SocketEntry> &out, bool combined = true);

    // One datagram of a sock_diag dump's answer (its bytes aligned as an nlmsghdr): the
    // sockets of `families` in the states of `stateMask` are appended to `out`. More until
    // the kernel's closing message, Failed on an error message.
    enum class DumpPart { More, Done, Failed };
    static DumpPart parseDiagnostics(const void *datagram, std::size_t length, unsigned stateMask,
                                     std::initializer_list<int> families, std::vector<SocketEntry> &out);

    // The lines of one table; the header and malformed lines are skipped.
    static std::vector<SocketEntry> parse(std::string_view text, bool ipv6);

    // Which process holds each of the given socket inodes. Sockets of processes whose
    // descriptors this user cannot see stay unmatched. The walk ends as soon as every
    // inode is found.
    std::unordered_map<std::uint64_t, int> owners(const std::unordered_set<std::uint64_t> &inodes) const;

    // The counters above; empty where net/snmp is missing or lacks them.
    std::optional<TcpActivity> readTcpActivity() const;
    static std::optional<TcpActivity> parseTcpActivity(std::string_view snmp);

    // The kernel's short name for a process, empty when it has gone.
    std::string commandName(int pid) const;

private:
    std::string m_root;
};
