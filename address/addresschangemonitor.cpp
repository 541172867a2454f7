#include "address/addresschangemonitor.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quendle {

namespace {

bool concerns(const nlmsghdr* message, unsigned interfaceIndex)
{
    switch (message->nlmsg_type) {
    case RTM_NEWADDR:
    case RTM_DELADDR: {
        const auto* address = static_cast<const ifaddrmsg*>(NLMSG_DATA(message));
        return interfaceIndex == 0 || address->ifa_index == interfaceIndex;
    }
    case RTM_NEWROUTE:
    case RTM_DELROUTE: {
        // Only a default route can move the traffic to another interface.
        const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(message));
        return route->rtm_dst_len == 0 && route->rtm_table == RT_TABLE_MAIN;
    }
    default:
        return false;
    }
}

} // namespace

AddressChangeMonitor::AddressChangeMonitor()
{
    m_socket = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups =
        RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        if (m_socket >= 0)
            ::close(m_socket);
        m_socket = -1;
    }
}

AddressChangeMonitor::~AddressChangeMonitor()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

bool AddressChangeMonitor::readChanges(const QString& interfaceName)
{
    const unsigned interfaceIndex =
        interfaceName.isEmpty() ? 0 : if_nametoindex(interfaceName.toLocal8Bit().constData());
    alignas(nlmsghdr) char buffer[8192];
    bool changed = false;
    for (;;) {
        const ssize_t received = ::recv(m_socket, buffer, sizeof buffer, 0);
        if (received < 0) {
            // The kernel dropped notices that did not fit: anything may have changed.
            if (errno == ENOBUFS)
                changed = true;
            if (errno == EINTR || errno == ENOBUFS)
                continue;
            return changed; // EAGAIN: all read
        }
        auto length = static_cast<unsigned>(received);
        for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(message, length);
             message = NLMSG_NEXT(message, length))
            changed = changed || concerns(message, interfaceIndex);
    }
}

} // namespace quendle
