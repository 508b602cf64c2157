#include "SocketTableReader.h"

#include "ProcFile.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
bool parseHex32(std::string_view text, std::uint32_t &out)
{
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out, 16);
    return ec == std::errc() && ptr == text.data() + text.size();
}

// "0100007F:1F90": the address as the kernel holds it in memory, printed word by word in
// host order, then the port in plain hex.
bool parseEndpoint(std::string_view text, bool ipv6, std::string &address, int &port)
{
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view hex = text.substr(0, colon);
    std::uint32_t portValue = 0;
    if (!parseHex32(text.substr(colon + 1), portValue) || portValue > 65535)
        return false;
    char buffer[INET6_ADDRSTRLEN] = {};
    if (ipv6) {
        if (hex.size() != 32)
            return false;
        in6_addr raw {};
        for (int word = 0; word < 4; ++word) {
            std::uint32_t value = 0;
            if (!parseHex32(hex.substr(static_cast<size_t>(word) * 8, 8), value))
                return false;
            std::memcpy(raw.s6_addr + word * 4, &value, 4);
        }
        if (!::inet_ntop(AF_INET6, &raw, buffer, sizeof buffer))
            return false;
    } else {
        std::uint32_t value = 0;
        if (hex.size() != 8 || !parseHex32(hex, value))
            return false;
        in_addr raw {};
        raw.s_addr = value;
        if (!::inet_ntop(AF_INET, &raw, buffer, sizeof buffer))
            return false;
    }
    address = buffer;
    port = static_cast<int>(portValue);
    return true;
}

bool wanted(unsigned stateMask, int state)
{
    return state >= 0 && state < 32 && (stateMask & (1u << state)) != 0;
}

// Sends one dump request on a NETLINK_SOCK_DIAG socket; -1 when refused.
template<typename Request>
int sendDump(__u16 type, const Request &request)
{
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return -1;
    struct
    {
        nlmsghdr header;
        Request request;
    } message {};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = type;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.header.nlmsg_seq = 1;
    message.request = request;
    sockaddr_nl kernel {};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &message, sizeof message, 0, reinterpret_cast<const sockaddr *>(&kernel), sizeof kernel) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads a dump's answers into `out`, keeping the families in `families` and the states of
// `stateMask`; false (and nothing added) when the kernel answers with an error.
bool receiveDump(int fd, unsigned stateMask, std::initializer_list<int> families, std::vector<SocketEntry> &out)
{
    if (fd < 0)
        return false;
    const size_t before = out.size();
    alignas(nlmsghdr) char buffer[32768];
    for (;;) {
        ssize_t length = ::recv(fd, buffer, sizeof buffer, 0);
        if (length < 0 && errno == EINTR)
            continue;
        const auto part = length <= 0 ? SocketTableReader::DumpPart::Failed
                                      : SocketTableReader::parseDiagnostics(buffer, static_cast<size_t>(length),
                                                                            stateMask, families, out);
        if (part == SocketTableReader::DumpPart::More)
            continue;
        ::close(fd);
        if (part == SocketTableReader::DumpPart::Failed)
            out.resize(before);
        return part == SocketTableReader::DumpPart::Done;
    }
}

bool isPidName(const char *name, int &pid)
{
    const char *end = name + std::strlen(name);
    const auto [ptr, ec] = std::from_chars(name, end, pid);
    return end != name && ec == std::errc() && ptr == end && pid > 0;
}
}

SocketTableReader::SocketTableReader(std::string procRoot)
    : m_root(std::move(procRoot))
{
}

SocketTableReader::DumpPart SocketTableReader::parseDiagnostics(const void *datagram, std::size_t length,
                                                                unsigned stateMask, std::initializer_list<int> families,
                                                                std::vector<SocketEntry> &out)
{
    // A datagram never comes near INT_MAX bytes; the macros below count in int.
    int left = static_cast<int>(std::min<std::size_t>(length, 1u << 30));
    char address[INET6_ADDRSTRLEN];
    for (auto *h = static_cast<const nlmsghdr *>(datagram); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
        if (h->nlmsg_type == NLMSG_DONE)
            return DumpPart::Done;
        if (h->nlmsg_type == NLMSG_ERROR)
            return DumpPart::Failed;
        // Answers carry the type of their request.
        if ((h->nlmsg_type != SOCK_DIAG_BY_FAMILY && h->nlmsg_type != TCPDIAG_GETSOCK)
            || h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
            continue;
        const auto *diag = static_cast<const inet_diag_msg *>(NLMSG_DATA(h));
        const int family = diag->idiag_family;
        if (std::find(families.begin(), families.end(), family) == families.end()
            || !wanted(stateMask, diag->idiag_state))
            continue;
        SocketEntry entry;
        entry.ipv6 = family == AF_INET6;
        entry.state = diag->idiag_state;
        entry.uid = diag->idiag_uid;
        entry.inode = diag->idiag_inode;
        entry.localPort = ntohs(diag->id.idiag_sport);
        entry.remotePort = ntohs(diag->id.idiag_dport);
        if (::inet_ntop(family, diag->id.idiag_src, address, sizeof address))
            entry.localAddress = address;
        if (::inet_ntop(family, diag->id.idiag_dst, address, sizeof address))
            entry.remoteAddress = address;
        out.push_back(std::move(entry));
    }
    return DumpPart::More;
}

std::vector<SocketEntry> SocketTableReader::parse(std::string_view text, bool ipv6)
{
    std::vector<SocketEntry> entries;
    bool header = true;
    while (!text.empty()) {
        std::string_view line = ProcFile::nextLine(text);
        if (header) {   // "  sl  local_address rem_address   st ..."
            header = false;
            continue;
        }
        // sl local remote st tx:rx tr:when retrnsmt uid timeout inode ...
        std::string_view fields[10];
        int count = 0;
        while (count < 10) {
            const std::string_view f = ProcFile::nextField(line);
            if (f.empty())
                break;
            fields[count++] = f;
        }
        if (count < 10)
            continue;
        SocketEntry entry;
        entry.ipv6 = ipv6;
        std::uint32_t state = 0;
        unsigned long long uid = 0, inode = 0;
        if (!parseEndpoint(fields[1], ipv6, entry.localAddress, entry.localPort)
            || !parseEndpoint(fields[2], ipv6, entry.remoteAddress, entry.remotePort)
            || !parseHex32(fields[3], state) || !ProcFile::parseU64(fields[7], uid)
            || !ProcFile::parseU64(fields[9], inode))
            continue;
        entry.state = static_cast<int>(state);
        entry.uid = static_cast<unsigned>(uid);
        entry.inode = inode;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<SocketEntry> SocketTableReader::readTcp(unsigned stateMask, bool *listed) const
{
    std::vector<SocketEntry> all;
    if (m_root == "/proc" && readTcpDiagnostics(stateMask, all)) {
        if (listed)
            *listed = true;
        return all;
    }
    return readTcpTables(stateMask, listed);
}

bool SocketTableReader::readTcpDiagnostics(unsigned stateMask, std::vector<SocketEntry> &out, bool combined)
{
    out.clear();
    // The older request answers for both families in one walk of the connection hash,
    // where a request per family walks it once each. Kernels that dropped it get those.
    inet_diag_req both {};
    both.idiag_family = AF_INET;
    both.idiag_states = stateMask;
    if (combined && receiveDump(sendDump(TCPDIAG_GETSOCK, both), stateMask, {AF_INET, AF_INET6}, out)) {
        std::stable_partition(out.begin(), out.end(), [](const SocketEntry &e) { return !e.ipv6; });
        return true;
    }
    const auto family = [stateMask, &out](int which) {
        inet_diag_req_v2 request {};
        request.sdiag_family = static_cast<__u8>(which);
        request.sdiag_protocol = IPPROTO_TCP;
        request.idiag_states = stateMask;
        return receiveDump(sendDump(SOCK_DIAG_BY_FAMILY, request), stateMask, {which}, out);
    };
    // A kernel without IPv6 refuses that family alone; IPv4 must answer.
    if (!family(AF_INET))
        return false;
    family(AF_INET6);
    return true;
}

std::vector<SocketEntry> SocketTableReader::readTcpTables(unsigned stateMask, bool *listed) const
{
    std::vector<SocketEntry> all;
    std::string text;
    if (listed)
        *listed = true;
    for (const bool ipv6 : {false, true}) {
        if (!ProcFile::read(m_root + (ipv6 ? "/net/tcp6" : "/net/tcp"), text)) {
            // A kernel without IPv6 has no tcp6; every kernel has tcp.
            if (!ipv6 && listed)
                *listed = false;
            continue;
        }
        for (SocketEntry &entry : parse(text, ipv6))
            if (wanted(stateMask, entry.state))
                all.push_back(std::move(entry));
    }
    return all;
}

std::unordered_map<std::uint64_t, int> SocketTableReader::owners(const std::unordered_set<std::uint64_t> &inodes) const
{
    std::unordered_map<std::uint64_t, int> found;
    if (inodes.empty())
        return found;
    DIR *proc = ::opendir(m_root.c_str());
    if (!proc)
        return found;
    char link[64];
    std::string fdPath;
    while (const dirent *process = ::readdir(proc)) {
        int pid = 0;
        if (!isPidName(process->d_name, pid))
            continue;
        fdPath = m_root + '/' + process->d_name + "/fd";
        const int fdDir = ::open(fdPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdDir < 0)
            continue;   // another user's process, or gone
        DIR *fds = ::fdopendir(fdDir);
        if (!fds) {
            ::close(fdDir);
            continue;
        }
        while (const dirent *fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.')
                continue;
            const ssize_t n = ::readlinkat(fdDir, fd->d_name, link, sizeof link - 1);
            if (n <= 8 || std::memcmp(link, "socket:[", 8) != 0 || link[n - 1] != ']')
                continue;
            unsigned long long inode = 0;
            if (!ProcFile::parseU64(std::string_view(link + 8, static_cast<size_t>(n) - 9), inode))
                continue;
            if (inodes.count(inode) && !found.count(inode))
                found.emplace(inode, pid);
        }
        ::closedir(fds);
        if (found.size() == inodes.size())
            break;
    }
    ::closedir(proc);
    return found;
}

std::optional<TcpActivity> SocketTableReader::parseTcpActivity(std::string_view snmp)
{
    // "Tcp: RtoAlgorithm RtoMin … CurrEstab …" then "Tcp: 1 200 …": names, then values.
    std::vector<std::string_view> names;
    while (!snmp.empty()) {
        std::string_view line = ProcFile::nextLine(snmp);
        if (line.substr(0, 4) != "Tcp:")
            continue;
        line.remove_prefix(4);
        std::vector<std::string_view> fields;
        for (std::string_view f = ProcFile::nextField(line); !f.empty(); f = ProcFile::nextField(line))
            fields.push_back(f);
        if (names.empty()) {
            names = std::move(fields);
            continue;
        }
        if (fields.size() != names.size())
            return std::nullopt;
        std::uint64_t active = 0, passive = 0, failed = 0;
        int found = 0;
        TcpActivity activity;
        for (size_t i = 0; i < names.size(); ++i) {
            std::uint64_t *slot = names[i] == "ActiveOpens"    ? &active
                                : names[i] == "PassiveOpens" ? &passive
                                : names[i] == "AttemptFails" ? &failed
                                : names[i] == "EstabResets"  ? &activity.resets
                                : names[i] == "CurrEstab"    ? &activity.established
                                                             : nullptr;
            unsigned long long value = 0;
            if (!slot)
                continue;
            if (!ProcFile::parseU64(fields[i], value))
                return std::nullopt;
            *slot = value;
            ++found;
        }
        if (found != 5)
            return std::nullopt;
        // Wraps like the counters themselves; only ever compared for equality.
        activity.opened = active + passive - failed;
        return activity;
    }
    return std::nullopt;
}

std::optional<TcpActivity> SocketTableReader::readTcpActivity() const
{
    std::string text;
    if (!ProcFile::read(m_root + "/net/snmp", text))
        return std::nullopt;
    return parseTcpActivity(text);
}

std::string SocketTableReader::commandName(int pid) const
{
    std::string text;
    if (!ProcFile::read(m_root + '/' + std::to_string(pid) + "/comm", text))
        return {};
    return std::string(ProcFile::trimmed(text));
}
