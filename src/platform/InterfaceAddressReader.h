#pragma once

#include <string>
#include <string_view>
#include <vector>

// One address of one network interface.
struct InterfaceAddress
{
    std::string interface;   // "wlp2s0", "eth0", "lo" ...
    bool ipv6 = false;
    std::string address;     // numeric text
};

// Interface addresses (getifaddrs) and the routing tables under a procfs root.
class InterfaceAddressReader
{
public:
    explicit InterfaceAddressReader(std::string procRoot = "/proc");
    ~InterfaceAddressReader();
    InterfaceAddressReader(const InterfaceAddressReader &) = delete;
    InterfaceAddressReader &operator=(const InterfaceAddressReader &) = delete;

    // Whether addresses or routes may have changed since the last call: true the first
    // time, then only when the kernel has announced a change on its routing socket (one
    // non-blocking read). True on every call where no such socket can be opened.
    bool changed();
    bool listening() const { return m_netlink >= 0; }

    // Every IPv4 and IPv6 address, in the kernel's enumeration order.
    static std::vector<InterfaceAddress> enumerate();

    // The interface of the default route with the lowest metric: IPv4's table first, then
    // IPv6's. Empty when there is no default route.
    std::string defaultRouteInterface() const;

    static std::string defaultInterfaceIn(std::string_view ipv4Routes);
    static std::string defaultInterfaceInIpv6(std::string_view ipv6Routes);

private:
    std::string m_root;
    int m_netlink = -1;
    bool m_checked = false;
    char m_drain[8192];
};
