#include "InterfaceAddressReader.h"

#include "ProcFile.h"

#include <cerrno>
#include <charconv>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <limits>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr unsigned kRouteUp = 0x0001;       // RTF_UP
constexpr unsigned kRouteReject = 0x0200;   // RTF_REJECT

// The first N whitespace-separated fields of a line; false when it has fewer.
template <size_t N>
bool splitFields(std::string_view line, std::string_view (&fields)[N])
{
    for (std::string_view &field : fields)
        if ((field = ProcFile::nextField(line)).empty())
            return false;
    return true;
}

bool parseHex(std::string_view field, unsigned long long &value)
{
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value, 16);
    return error == std::errc() && end == field.data() + field.size();
}
}

InterfaceAddressReader::InterfaceAddressReader(std::string procRoot)
    : m_root(std::move(procRoot))
{
    m_netlink = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (m_netlink < 0)
        return;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(m_netlink, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        ::close(m_netlink);
        m_netlink = -1;
    }
}

InterfaceAddressReader::~InterfaceAddressReader()
{
    if (m_netlink >= 0)
        ::close(m_netlink);
}

bool InterfaceAddressReader::changed()
{
    if (m_netlink < 0 || !m_checked) {
        m_checked = true;
        // Announcements queued before the first look say nothing new.
        if (m_netlink >= 0)
            while (::recv(m_netlink, m_drain, sizeof m_drain, 0) > 0) {}
        return true;
    }
    bool any = false;
    for (;;) {
        const ssize_t n = ::recv(m_netlink, m_drain, sizeof m_drain, 0);
        if (n > 0) {
            any = true;
            continue;
        }
        // ENOBUFS: announcements were dropped, so something changed.
        if (n < 0 && errno == ENOBUFS)
            any = true;
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    return any;
}

std::vector<InterfaceAddress> InterfaceAddressReader::enumerate()
{
    std::vector<InterfaceAddress> addresses;
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    char host[1025];
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !entry->ifa_name)
            continue;
        const int family = entry->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6)
            continue;
        const socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        if (::getnameinfo(entry->ifa_addr, length, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
            continue;
        addresses.push_back({entry->ifa_name, family == AF_INET6, host});
    }
    ::freeifaddrs(list);
    return addresses;
}

std::string InterfaceAddressReader::defaultInterfaceIn(std::string_view text)
{
    // Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
    std::string best;
    unsigned long long bestMetric = std::numeric_limits<unsigned long long>::max();
    ProcFile::nextLine(text);   // header
    while (!text.empty()) {
        const std::string_view line = ProcFile::nextLine(text);
        std::string_view fields[8];
        if (!splitFields(line, fields))
            continue;
        unsigned long long flags = 0, metric = 0;
        if (fields[1] != "00000000" || fields[7] != "00000000" || !parseHex(fields[3], flags)
            || !ProcFile::parseU64(fields[6], metric))
            continue;
        if (!(flags & kRouteUp) || (flags & kRouteReject) || metric >= bestMetric)
            continue;
        best = std::string(fields[0]);
        bestMetric = metric;
    }
    return best;
}

std::string InterfaceAddressReader::defaultInterfaceInIpv6(std::string_view text)
{
    // destination prefix source prefix next-hop metric refcount use flags interface
    std::string best;
    unsigned long long bestMetric = std::numeric_limits<unsigned long long>::max();
    while (!text.empty()) {
        const std::string_view line = ProcFile::nextLine(text);
        std::string_view fields[10];
        if (!splitFields(line, fields))
            continue;
        unsigned long long flags = 0, metric = 0;
        if (fields[0] != std::string_view("00000000000000000000000000000000") || fields[1] != "00"
            || !parseHex(fields[8], flags) || !parseHex(fields[5], metric))
            continue;
        // The kernel keeps an unreachable default on lo when no real one exists.
        if (!(flags & kRouteUp) || (flags & kRouteReject) || fields[9] == "lo" || metric >= bestMetric)
            continue;
        best = std::string(fields[9]);
        bestMetric = metric;
    }
    return best;
}

std::string InterfaceAddressReader::defaultRouteInterface() const
{
    std::string text;
    if (ProcFile::read(m_root + "/net/route", text))
        if (std::string found = defaultInterfaceIn(text); !found.empty())
            return found;
    if (ProcFile::read(m_root + "/net/ipv6_route", text))
        return defaultInterfaceInIpv6(text);
    return {};
}
