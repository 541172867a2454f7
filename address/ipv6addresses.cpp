#include "address/ipv6addresses.h"

#include <arpa/inet.h>
#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace quendle {

namespace {

constexpr quint32 kForever = 0xffffffff;

// Closes the socket however the dump ends.
struct Socket
{
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// One RTM_NEWADDR message of the dump; none when it is not an IPv6 address.
std::optional<Ipv6Address> fromMessage(const nlmsghdr* message)
{
    const auto* header = static_cast<const ifaddrmsg*>(NLMSG_DATA(message));
    if (header->ifa_family != AF_INET6)
        return std::nullopt;
    Ipv6Address result;
    result.prefixLength = header->ifa_prefixlen;
    result.global = header->ifa_scope == RT_SCOPE_UNIVERSE;
    quint32 flags = header->ifa_flags;
    result.preferredSeconds = kForever;
    const in6_addr* local = nullptr;
    const in6_addr* peer = nullptr;
    int length = static_cast<int>(IFA_PAYLOAD(message));
    for (auto* attribute = IFA_RTA(header); RTA_OK(attribute, length);
         attribute = RTA_NEXT(attribute, length)) {
        const void* data = RTA_DATA(attribute);
        const size_t size = RTA_PAYLOAD(attribute);
        if (attribute->rta_type == IFA_LOCAL && size == sizeof(in6_addr))
            local = static_cast<const in6_addr*>(data);
        else if (attribute->rta_type == IFA_ADDRESS && size == sizeof(in6_addr))
            peer = static_cast<const in6_addr*>(data);
        else if (attribute->rta_type == IFA_FLAGS && size == sizeof(quint32))
            std::memcpy(&flags, data, sizeof flags); // the whole set; ifa_flags has 8 bits
        else if (attribute->rta_type == IFA_CACHEINFO && size == sizeof(ifa_cacheinfo))
            result.preferredSeconds = static_cast<const ifa_cacheinfo*>(data)->ifa_prefered;
    }
    const in6_addr* address = local ? local : peer; // IFA_LOCAL only on point-to-point links
    char text[INET6_ADDRSTRLEN] = {};
    char name[IF_NAMESIZE] = {};
    if (!address || !inet_ntop(AF_INET6, address, text, sizeof text) ||
        !if_indextoname(header->ifa_index, name))
        return std::nullopt;
    result.address = QString::fromLatin1(text);
    result.interfaceName = QString::fromLocal8Bit(name);
    result.temporary = flags & IFA_F_TEMPORARY;
    result.deprecated = (flags & IFA_F_DEPRECATED) || result.preferredSeconds == 0;
    result.unusable = flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED);
    result.permanent = flags & IFA_F_PERMANENT;
    return result;
}

// The first `bits` bits of two addresses agree.
bool samePrefix(const QString& a, const QString& b, int bits)
{
    in6_addr first{};
    in6_addr second{};
    if (inet_pton(AF_INET6, a.toLatin1().constData(), &first) != 1 ||
        inet_pton(AF_INET6, b.toLatin1().constData(), &second) != 1)
        return false;
    return std::memcmp(first.s6_addr, second.s6_addr, static_cast<size_t>(bits / 8)) == 0;
}

} // namespace

QList<Ipv6Address> kernelIpv6Addresses()
{
    Socket socket;
    if (socket.fd < 0)
        return {};
    struct
    {
        nlmsghdr header;
        ifaddrmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
    request.header.nlmsg_type = RTM_GETADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.ifa_family = AF_INET6;
    if (::send(socket.fd, &request, request.header.nlmsg_len, 0) < 0)
        return {};

    QList<Ipv6Address> addresses;
    alignas(nlmsghdr) std::array<char, 16384> buffer{};
    for (;;) {
        const ssize_t received = ::recv(socket.fd, buffer.data(), buffer.size(), 0);
        if (received <= 0)
            return addresses;
        auto length = static_cast<unsigned>(received);
        for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer.data());
             NLMSG_OK(message, length); message = NLMSG_NEXT(message, length)) {
            if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR)
                return addresses;
            if (message->nlmsg_type == RTM_NEWADDR)
                if (const auto address = fromMessage(message))
                    addresses << *address;
        }
    }
}

bool isPublishable(const Ipv6Address& address)
{
    // Global unicast is 2000::/3; unique-local (fc00::/7), link-local and multicast lie outside.
    in6_addr parsed{};
    return inet_pton(AF_INET6, address.address.toLatin1().constData(), &parsed) == 1 &&
           (parsed.s6_addr[0] & 0xe0) == 0x20 && address.global && !address.temporary &&
           !address.deprecated && !address.unusable;
}

std::optional<Ipv6Address> stableIpv6Address(const QList<Ipv6Address>& addresses,
                                             const QString& interfaceName)
{
    const Ipv6Address* best = nullptr;
    for (const Ipv6Address& candidate : addresses) {
        if (!isPublishable(candidate) ||
            (!interfaceName.isEmpty() && candidate.interfaceName != interfaceName))
            continue;
        if (!best || (candidate.permanent && !best->permanent) ||
            (candidate.permanent == best->permanent &&
             candidate.preferredSeconds > best->preferredSeconds))
            best = &candidate;
    }
    return best ? std::optional(*best) : std::nullopt;
}

std::optional<Ipv6Address> stableInsteadOfTemporary(const QList<Ipv6Address>& addresses,
                                                    const QString& address)
{
    for (const Ipv6Address& held : addresses) {
        if (!held.temporary || held.address != address)
            continue;
        QList<Ipv6Address> samePrefixes;
        for (const Ipv6Address& other : addresses)
            if (other.interfaceName == held.interfaceName && samePrefix(other.address, address, 64))
                samePrefixes << other;
        return stableIpv6Address(samePrefixes, held.interfaceName);
    }
    return std::nullopt;
}

} // namespace quendle
