#include "dns/dnsexchange.h"
#include "dns/ldnshandles.h"

#include <QHash>
#include <QSet>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace quendle::dns {

namespace {

QString nameText(const ldns_rdf* rdf)
{
    QString name = text(rdf);
    if (name.size() > 1 && name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name;
}

ldns_rr_type recordType(AddressFamily family)
{
    return family == AddressFamily::Ipv4 ? LDNS_RR_TYPE_A : LDNS_RR_TYPE_AAAA;
}

// The server's addresses: the host itself when it is one, else what the system's resolver says.
QStringList serverAddresses(const QString& host, QString& error)
{
    for (const AddressFamily family : {AddressFamily::Ipv4, AddressFamily::Ipv6})
        if (const auto address = canonicalAddress(host, family))
            return {*address};
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (const int code = getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found)) {
        error = QStringLiteral("cannot find the address of %1: %2")
                    .arg(host, QString::fromLocal8Bit(gai_strerror(code)));
        return {};
    }
    QStringList addresses;
    for (const addrinfo* each = found; each; each = each->ai_next) {
        char buffer[INET6_ADDRSTRLEN] = {};
        const void* bytes =
            each->ai_family == AF_INET
                ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(each->ai_addr)->sin_addr)
                : static_cast<const void*>(
                      &reinterpret_cast<sockaddr_in6*>(each->ai_addr)->sin6_addr);
        if (inet_ntop(each->ai_family, bytes, buffer, sizeof buffer))
            addresses << QString::fromLatin1(buffer);
    }
    freeaddrinfo(found);
    addresses.removeDuplicates();
    return addresses;
}

// A resolver that asks `server` alone, once per exchange, within `seconds`, never recursively.
Resolver resolverFor(const DnsServerAddress& server, int seconds, QString& error)
{
    const QStringList addresses = serverAddresses(server.host, error);
    if (addresses.isEmpty())
        return nullptr;
    Resolver resolver(ldns_resolver_new());
    for (const QString& address : addresses) {
        const bool v6 = address.contains(QLatin1Char(':'));
        const Rdf rdf(ldns_rdf_new_frm_str(v6 ? LDNS_RDF_TYPE_AAAA : LDNS_RDF_TYPE_A,
                                           address.toLatin1().constData()));
        if (rdf)
            ldns_resolver_push_nameserver(resolver.get(), rdf.get());
    }
    ldns_resolver_set_port(resolver.get(), server.port);
    ldns_resolver_set_timeout(resolver.get(), timeval{seconds, 0});
    ldns_resolver_set_retry(resolver.get(), 1);
    ldns_resolver_set_retrans(resolver.get(), 0);
    ldns_resolver_set_recursive(resolver.get(), false);
    ldns_resolver_set_random(resolver.get(), false);
    ldns_resolver_set_dnsrch(resolver.get(), false);
    ldns_resolver_set_defnames(resolver.get(), false);
    return resolver;
}

struct Exchanged
{
    Packet reply;
    ldns_status status = LDNS_STATUS_ERR;
    QString error; // set when there is no usable reply
};

// Sends `query` and reads the answer; a truncated answer over UDP is asked again over TCP. With
// `tcpOnly`, TCP at once.
Exchanged exchange(ldns_resolver* resolver, const ldns_pkt* query, const DnsServerAddress& server,
                   int seconds, bool tcpOnly = false)
{
    Exchanged result;
    for (const bool overTcp : {false, true}) {
        if (tcpOnly && !overTcp)
            continue;
        ldns_resolver_set_usevc(resolver, overTcp);
        ldns_pkt* reply = nullptr;
        result.status = ldns_send(&reply, resolver, query);
        result.reply.reset(reply);
        if (!result.reply || !ldns_pkt_tc(result.reply.get()))
            break;
    }
    if (!result.reply) {
        result.error = result.status == LDNS_STATUS_NETWORK_ERR || result.status == LDNS_STATUS_OK
                           ? QStringLiteral("no answer from %1 within %2 seconds")
                                 .arg(shownServer(server))
                                 .arg(seconds)
                           : QStringLiteral("cannot ask %1: %2")
                                 .arg(shownServer(server),
                                      QString::fromLatin1(ldns_get_errorstr_by_id(result.status)));
    } else if (ldns_pkt_id(result.reply.get()) != ldns_pkt_id(query)) {
        result.error = QStringLiteral("%1 answered another question (its ID does not match)")
                           .arg(shownServer(server));
        result.reply.reset();
    }
    return result;
}

QString rcodeName(ldns_pkt_rcode rcode)
{
    static const char* const names[] = {"NOERROR", "FORMERR", "SERVFAIL", "NXDOMAIN",
                                        "NOTIMP",  "REFUSED", "YXDOMAIN", "YXRRSET",
                                        "NXRRSET", "NOTAUTH", "NOTZONE"};
    const auto index = static_cast<size_t>(rcode);
    return index < std::size(names) ? QLatin1String(names[index])
                                    : QStringLiteral("RCODE %1").arg(index);
}

// The TSIG error the answer carries (BADSIG 16, BADKEY 17, BADTIME 18...), 0 for none.
uint16_t tsigError(const ldns_pkt* reply)
{
    const ldns_rr* tsig = ldns_pkt_tsig(reply);
    return tsig && ldns_rr_rd_count(tsig) > 5 ? ldns_rdf2native_int16(ldns_rr_rdf(tsig, 5)) : 0;
}

QString tsigErrorName(uint16_t error)
{
    switch (error) {
    case 16:
        return QStringLiteral("BADSIG");
    case 17:
        return QStringLiteral("BADKEY");
    case 18:
        return QStringLiteral("BADTIME");
    default:
        return QStringLiteral("TSIG error %1").arg(error);
    }
}

// What an UPDATE's refusal means, and what to do about it.
QString updateReason(ldns_pkt_rcode rcode, uint16_t tsig, const QString& zone, const QString& name,
                     const TsigKey& key)
{
    if (tsig == 16)
        return QStringLiteral("the server refused the update's signature (BADSIG): the secret in "
                              "key_file or credential is not the one the server has for key %1")
            .arg(key.name);
    if (tsig == 17)
        return QStringLiteral("the server does not know key %1 with %2 (BADKEY): check key_name "
                              "and key_algorithm")
            .arg(key.name, tsigAlgorithmName(key.algorithm));
    if (tsig == 18)
        return QStringLiteral("the server says the update's time is wrong (BADTIME): set this "
                              "machine's clock right, for example with NTP");
    switch (rcode) {
    case LDNS_RCODE_FORMERR:
        return QStringLiteral("the server could not read the update (FORMERR)");
    case LDNS_RCODE_SERVFAIL:
        return QStringLiteral("the server failed to apply the update (SERVFAIL); its log says why");
    case LDNS_RCODE_NOTIMPL:
        return QStringLiteral("the server does not take updates (NOTIMP)");
    case LDNS_RCODE_REFUSED:
        return QStringLiteral("the server refused the update (REFUSED): it does not let key %1 "
                              "change %2")
            .arg(key.name, name);
    case LDNS_RCODE_NOTAUTH:
        return QStringLiteral("the server is not the primary of zone %1 (NOTAUTH): check server "
                              "and zone")
            .arg(zone);
    case LDNS_RCODE_NOTZONE:
        return QStringLiteral("%1 is not in zone %2 (NOTZONE): check zone").arg(name, zone);
    default:
        return QStringLiteral("the server refused the update (%1)").arg(rcodeName(rcode));
    }
}

} // namespace

QString shownServer(const DnsServerAddress& server)
{
    const QString host = server.host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + server.host + QLatin1Char(']')
                             : server.host;
    return host + QLatin1Char(':') + QString::number(server.port);
}

namespace {

// Questions go out on sockets of their own rather than through ldns_send(), which takes the first
// datagram that arrives on its port, whoever sent it.
using Clock = std::chrono::steady_clock;

class Socket
{
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

struct Peer
{
    sockaddr_storage address{};
    socklen_t size = 0;
};

Peer peerAt(const QString& address, int port)
{
    Peer peer;
    const QByteArray text = address.toLatin1();
    if (address.contains(QLatin1Char(':'))) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&peer.address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        if (inet_pton(AF_INET6, text.constData(), &v6->sin6_addr) == 1)
            peer.size = sizeof *v6;
    } else {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&peer.address);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        if (inet_pton(AF_INET, text.constData(), &v4->sin_addr) == 1)
            peer.size = sizeof *v4;
    }
    return peer;
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Waits until `fd` is ready for `events`; false once `deadline` has passed.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd ready{fd, events, 0};
        const int count = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left, 60000)));
        if (count > 0)
            return true;
        if (count < 0 && errno != EINTR)
            return false;
    }
}

// A question as it goes out, and what its answer must be.
struct Question
{
    Packet packet;
    QByteArray wire;
    const TsigKey* key = nullptr; // null: not signed
    QByteArray keyName;           // as ldns takes them
    QByteArray secret;
    const ldns_rdf* mac = nullptr; // the question's signature, which the answer's covers
};

// The question about `name`'s records of `type`, with a random ID, signed with `key` when there
// is one; nullopt with `error` when it cannot be made.
std::optional<Question> makeQuestion(const QString& name, ldns_rr_type type,
                                     const std::optional<TsigKey>& key, QString& error)
{
    Question question;
    // No recursion wanted: only the server's own data counts.
    question.packet.reset(ldns_pkt_query_new(dname(name), type, LDNS_RR_CLASS_IN, 0));
    ldns_pkt_set_random_id(question.packet.get());
    if (key) {
        question.key = &*key;
        question.keyName =
            (key->name.endsWith(QLatin1Char('.')) ? key->name : key->name + QLatin1Char('.'))
                .toLatin1();
        question.secret = key->secret.toLatin1();
        const QByteArray algorithm = tsigAlgorithmName(key->algorithm).toLatin1() + '.';
        const ldns_status signing =
            ldns_pkt_tsig_sign(question.packet.get(), question.keyName.constData(),
                               question.secret.constData(), 300, algorithm.constData(), nullptr);
        if (signing != LDNS_STATUS_OK) {
            error = QStringLiteral("cannot sign the question with key %1: %2")
                        .arg(key->name, QString::fromLatin1(ldns_get_errorstr_by_id(signing)));
            return std::nullopt;
        }
        question.mac = ldns_rr_rdf(ldns_pkt_tsig(question.packet.get()), 3);
    }
    uint8_t* wire = nullptr;
    size_t size = 0;
    if (ldns_pkt2wire(&wire, question.packet.get(), &size) != LDNS_STATUS_OK) {
        std::free(wire);
        error = QStringLiteral("cannot make the question about %1").arg(name);
        return std::nullopt;
    }
    question.wire = QByteArray(reinterpret_cast<const char*>(wire), static_cast<qsizetype>(size));
    std::free(wire);
    return question;
}

uint16_t questionId(const Question& question)
{
    return ldns_pkt_id(question.packet.get());
}

QString questionRefusal(uint16_t tsig, const TsigKey& key)
{
    switch (tsig) {
    case 16:
        return QStringLiteral("BADSIG: the secret in key_file or credential is not the one the "
                              "server has for key %1")
            .arg(key.name);
    case 17:
        return QStringLiteral("BADKEY: the server does not know key %1 with %2, or does not let it "
                              "ask about the zone; check key_name and key_algorithm, and that the "
                              "server allows the key to query")
            .arg(key.name, tsigAlgorithmName(key.algorithm));
    case 18:
        return QStringLiteral("BADTIME: set this machine's clock right, for example with NTP");
    default:
        return tsigErrorName(tsig);
    }
}

// Why `wire` is not the answer to `question` (it is then dropped), or nothing when it is; the
// answer is then in `reply`. `question` is null when no question asked has the datagram's ID.
std::optional<QString> notTheAnswer(const Question* question, const QByteArray& wire, Packet& reply)
{
    ldns_pkt* parsed = nullptr;
    const auto* bytes = reinterpret_cast<const uint8_t*>(wire.constData());
    if (ldns_wire2pkt(&parsed, bytes, static_cast<size_t>(wire.size())) != LDNS_STATUS_OK) {
        ldns_pkt_free(parsed);
        return QStringLiteral("bytes that are no DNS message");
    }
    reply.reset(parsed);
    if (!question)
        return QStringLiteral("an answer to another question");
    const ldns_rr_list* asked = ldns_pkt_question(question->packet.get());
    const ldns_rr_list* answered = ldns_pkt_question(parsed);
    const bool sameQuestion = ldns_rr_list_rr_count(answered) == 1 &&
                              ldns_dname_compare(ldns_rr_owner(ldns_rr_list_rr(answered, 0)),
                                                 ldns_rr_owner(ldns_rr_list_rr(asked, 0))) == 0 &&
                              ldns_rr_get_type(ldns_rr_list_rr(answered, 0)) ==
                                  ldns_rr_get_type(ldns_rr_list_rr(asked, 0)) &&
                              ldns_rr_get_class(ldns_rr_list_rr(answered, 0)) ==
                                  ldns_rr_get_class(ldns_rr_list_rr(asked, 0));
    if (!ldns_pkt_qr(parsed) || ldns_pkt_id(parsed) != questionId(*question) || !sameQuestion)
        return QStringLiteral("an answer to another question");
    if (!question->key)
        return std::nullopt;
    if (ldns_pkt_tsig_verify(parsed, bytes, static_cast<size_t>(wire.size()),
                             question->keyName.constData(), question->secret.constData(),
                             question->mac))
        return std::nullopt;
    if (!ldns_pkt_tsig(parsed) && ldns_pkt_get_rcode(parsed) != LDNS_RCODE_NOERROR)
        return QStringLiteral("an unsigned answer saying %1")
            .arg(rcodeName(ldns_pkt_get_rcode(parsed)));
    if (const uint16_t tsig = tsigError(parsed))
        return QStringLiteral("an unsigned answer saying %1")
            .arg(questionRefusal(tsig, *question->key));
    return QStringLiteral("an answer without a valid signature of key %1").arg(question->key->name);
}

// What came back from one address, or why nothing that counts did.
struct Heard
{
    Packet reply;
    QString error;   // why there is no reply, when it is not the wait running out
    QString dropped; // what last arrived and was dropped
};

// Reads exactly `size` bytes before `deadline`; false with `error` empty when the wait ran out.
bool readExactly(int fd, char* into, qsizetype size, Clock::time_point deadline, QString& error)
{
    while (size > 0) {
        if (!waitFor(fd, POLLIN, deadline))
            return false;
        const ssize_t got = ::recv(fd, into, static_cast<size_t>(size), 0);
        if (got == 0) {
            error = QStringLiteral("the server closed the connection without an answer");
            return false;
        }
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            error = systemError(errno);
            return false;
        }
        into += got;
        size -= got;
    }
    return true;
}

// Over TCP: the messages on the connection are read in turn until one is the answer.
Heard askOverTcp(const Question& question, const Peer& peer, Clock::time_point deadline)
{
    Heard heard;
    const Socket socket(
        ::socket(peer.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (socket.fd() < 0) {
        heard.error = systemError(errno);
        return heard;
    }
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&peer.address), peer.size) != 0) {
        if (errno != EINPROGRESS) {
            heard.error = systemError(errno);
            return heard;
        }
        if (!waitFor(socket.fd(), POLLOUT, deadline))
            return heard;
        int code = 0;
        socklen_t size = sizeof code;
        getsockopt(socket.fd(), SOL_SOCKET, SO_ERROR, &code, &size);
        if (code != 0) {
            heard.error = systemError(code);
            return heard;
        }
    }
    const auto length = static_cast<uint16_t>(question.wire.size());
    QByteArray message = QByteArray(1, static_cast<char>(length >> 8)) +
                         QByteArray(1, static_cast<char>(length & 0xff)) + question.wire;
    for (qsizetype sent = 0; sent < message.size();) {
        if (!waitFor(socket.fd(), POLLOUT, deadline))
            return heard;
        const ssize_t written = ::send(socket.fd(), message.constData() + sent,
                                       static_cast<size_t>(message.size() - sent), MSG_NOSIGNAL);
        if (written < 0 && errno != EAGAIN && errno != EINTR) {
            heard.error = systemError(errno);
            return heard;
        }
        sent += std::max<ssize_t>(written, 0);
    }
    for (;;) {
        unsigned char prefix[2];
        if (!readExactly(socket.fd(), reinterpret_cast<char*>(prefix), 2, deadline, heard.error))
            return heard;
        QByteArray wire((prefix[0] << 8) | prefix[1], Qt::Uninitialized);
        if (!readExactly(socket.fd(), wire.data(), wire.size(), deadline, heard.error))
            return heard;
        if (const auto why = notTheAnswer(&question, wire, heard.reply)) {
            heard.dropped = *why;
            heard.reply.reset();
            continue;
        }
        return heard;
    }
}

// Over UDP, every question on one socket connected to `peer`: the kernel passes on only datagrams
// from its address and port. At most kWindow questions are in flight at once, so that the
// server's socket buffer is not overrun; a question whose answer is `late` is sent again once,
// and leaves the window when late again (its answer is still taken until `deadline`). A datagram
// is matched to its question by ID and must then be its answer (notTheAnswer()); whatever else
// arrives is dropped. A truncated answer is asked again over TCP. Ends when every question has
// its answer or an error, at the latest at `deadline`.
std::vector<Heard> askOverUdp(const QList<const Question*>& questions, const Peer& peer,
                              Clock::time_point deadline, Clock::duration late)
{
    constexpr qsizetype kWindow = 64;
    std::vector<Heard> heard(static_cast<size_t>(questions.size()));
    const Socket socket(
        ::socket(peer.address.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (socket.fd() < 0 ||
        ::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&peer.address), peer.size) != 0) {
        const QString error = systemError(errno);
        for (Heard& each : heard)
            each.error = error;
        return heard;
    }
    QHash<uint16_t, qsizetype> byId;
    for (qsizetype i = 0; i < questions.size(); ++i)
        byId.insert(questionId(*questions[i]), i);
    // A refusal is an ICMP message, which anyone can send: it ends nothing either.
    const QString portClosed = QStringLiteral("a report that the port is closed");
    QString droppedByAll; // what last arrived for no open question
    QList<int> times(questions.size());
    QList<Clock::time_point> sentAt(questions.size());
    const auto send = [&](qsizetype i) {
        const QByteArray& wire = questions[i]->wire;
        const auto sendOnce = [&] {
            return ::send(socket.fd(), wire.constData(), static_cast<size_t>(wire.size()), 0);
        };
        // A connected socket reports the refusal of an earlier datagram on the next send.
        ssize_t sent = sendOnce();
        if (sent < 0 && errno == ECONNREFUSED) {
            droppedByAll = portClosed;
            sent = sendOnce();
        }
        // A datagram the socket's buffer has no room for is as good as lost: it goes again.
        if (sent < 0 && errno != EAGAIN && errno != ECONNREFUSED)
            heard[i].error = systemError(errno);
        ++times[i];
        sentAt[i] = Clock::now();
    };
    const auto settled = [](const Heard& each) { return each.reply || !each.error.isEmpty(); };

    QList<qsizetype> inFlight;
    qsizetype next = 0;
    QByteArray buffer(65535, Qt::Uninitialized);
    while (!std::all_of(heard.cbegin(), heard.cend(), settled)) {
        const Clock::time_point now = Clock::now();
        for (auto each = inFlight.begin(); each != inFlight.end();) {
            const bool isLate = now >= sentAt[*each] + late;
            if (settled(heard[*each]) || (isLate && times[*each] > 1)) {
                each = inFlight.erase(each);
                continue;
            }
            if (isLate)
                send(*each);
            ++each;
        }
        while (inFlight.size() < kWindow && next < questions.size()) {
            send(next);
            inFlight << next++;
        }
        Clock::time_point wake = deadline;
        for (const qsizetype i : inFlight)
            wake = std::min(wake, sentAt[i] + late);
        if (!waitFor(socket.fd(), POLLIN, wake)) {
            if (Clock::now() >= deadline)
                break;
            continue;
        }
        const ssize_t got =
            ::recv(socket.fd(), buffer.data(), static_cast<size_t>(buffer.size()), 0);
        if (got < 0) {
            if (errno == ECONNREFUSED)
                droppedByAll = portClosed;
            else if (errno != EAGAIN && errno != EINTR)
                break; // each question still open reports that no answer came
            continue;
        }
        const QByteArray wire = buffer.first(got);
        const auto byte = [&](qsizetype at) { return static_cast<uint8_t>(wire[at]); };
        const qsizetype i =
            got < 2 ? -1 : byId.value(static_cast<uint16_t>((byte(0) << 8) | byte(1)), -1);
        if (i < 0 || settled(heard[i])) {
            Packet ignored;
            droppedByAll = notTheAnswer(nullptr, wire, ignored).value_or(QString());
            continue;
        }
        if (const auto why = notTheAnswer(questions[i], wire, heard[i].reply)) {
            heard[i].dropped = *why;
            heard[i].reply.reset();
        } else if (ldns_pkt_tc(heard[i].reply.get())) {
            heard[i] = askOverTcp(*questions[i], peer, deadline);
        }
    }
    for (Heard& each : heard)
        if (!each.reply && each.dropped.isEmpty())
            each.dropped = droppedByAll;
    return heard;
}

// Why nothing came back that counts, for people.
QString unheard(const Heard& heard, const Question& question, const DnsServerAddress& server,
                int seconds)
{
    if (!heard.error.isEmpty())
        return QStringLiteral("cannot ask %1%2: %3")
            .arg(shownServer(server), question.key ? QString() : QStringLiteral(" over TCP"),
                 heard.error);
    QString error = (question.key ? QStringLiteral("no answer from %1 signed with key %2 within %3 "
                                                   "seconds")
                                        .arg(shownServer(server), question.key->name)
                                  : QStringLiteral("no answer from %1 over TCP within %2 seconds")
                                        .arg(shownServer(server)))
                        .arg(seconds);
    if (!heard.dropped.isEmpty())
        error += QStringLiteral("; dropped: ") + heard.dropped;
    return error;
}

// Asks each of the server's addresses in turn, each within `seconds`, the questions no address
// before answered: signed ones together over UDP, the others one by one over TCP.
std::vector<Exchanged> askServer(const QStringList& addresses,
                                 const QList<const Question*>& questions,
                                 const DnsServerAddress& server, int seconds)
{
    std::vector<Exchanged> results(static_cast<size_t>(questions.size()));
    QList<qsizetype> open;
    for (qsizetype i = 0; i < questions.size(); ++i)
        open << i;
    // A late answer is asked again in good time, and once only.
    const auto late = std::min<Clock::duration>(std::chrono::milliseconds(500),
                                                std::chrono::seconds(seconds) / 4);
    for (const QString& address : addresses) {
        const Peer peer = peerAt(address, server.port);
        if (peer.size == 0 || open.isEmpty())
            continue;
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
        QList<const Question*> asking;
        for (const qsizetype i : open)
            asking << questions[i];
        std::vector<Heard> heard;
        if (questions.first()->key) {
            heard = askOverUdp(asking, peer, deadline, late);
        } else {
            for (const Question* question : asking)
                heard.push_back(
                    askOverTcp(*question, peer, Clock::now() + std::chrono::seconds(seconds)));
        }
        QList<qsizetype> stillOpen;
        for (qsizetype j = 0; j < open.size(); ++j) {
            Exchanged& result = results[open[j]];
            if (heard[j].reply) {
                result.reply = std::move(heard[j].reply);
                result.status = LDNS_STATUS_OK;
                result.error.clear();
            } else {
                result.error = unheard(heard[j], *asking[j], server, seconds);
                stillOpen << open[j];
            }
        }
        open = stillOpen;
    }
    return results;
}

// What an authoritative answer says `name` holds; the answer of another server fails.
RecordsAnswer readAnswer(const ldns_pkt* reply, const DnsServerAddress& server, const QString& name,
                         ldns_rr_type type)
{
    RecordsAnswer result;
    const ldns_pkt_rcode rcode = ldns_pkt_get_rcode(reply);
    if (rcode != LDNS_RCODE_NOERROR && rcode != LDNS_RCODE_NXDOMAIN) {
        result.error = QStringLiteral("%1 answered %2 for %3")
                           .arg(shownServer(server), rcodeName(rcode), name);
        return result;
    }
    if (!ldns_pkt_aa(reply)) {
        result.error = QStringLiteral("%1 is not authoritative for %2 (its answer is not "
                                      "the zone's own)")
                           .arg(shownServer(server), name);
        return result;
    }
    const Rdf owner(dname(name));
    for (const ldns_rr_list* section : {ldns_pkt_answer(reply), ldns_pkt_authority(reply)}) {
        for (size_t i = 0; i < ldns_rr_list_rr_count(section); ++i) {
            const ldns_rr* rr = ldns_rr_list_rr(section, i);
            const ldns_rr_type found = ldns_rr_get_type(rr);
            if (found == LDNS_RR_TYPE_SOA && result.zone.isEmpty())
                result.zone = nameText(ldns_rr_owner(rr));
            if (section != ldns_pkt_answer(reply) ||
                ldns_dname_compare(ldns_rr_owner(rr), owner.get()) != 0)
                continue;
            if (found == LDNS_RR_TYPE_CNAME && type != LDNS_RR_TYPE_SOA) {
                result.error = QStringLiteral("%1 is an alias (CNAME) of %2 at %3")
                                   .arg(name, nameText(ldns_rr_rdf(rr, 0)), shownServer(server));
                return result;
            }
            if (found == type && (type == LDNS_RR_TYPE_A || type == LDNS_RR_TYPE_AAAA)) {
                const AddressFamily family =
                    type == LDNS_RR_TYPE_A ? AddressFamily::Ipv4 : AddressFamily::Ipv6;
                if (const auto address = canonicalAddress(text(ldns_rr_rdf(rr, 0)), family))
                    result.addresses << *address;
            }
        }
    }
    result.addresses.sort();
    result.addresses.removeDuplicates();
    result.ok = true;
    return result;
}

// Asks `server` each question, as askManyRecords() says.
QList<RecordsAnswer> ask(const DnsServerAddress& server,
                         const QList<std::pair<QString, ldns_rr_type>>& asked, int seconds,
                         const std::optional<TsigKey>& key)
{
    QList<RecordsAnswer> results(asked.size());
    if (asked.isEmpty())
        return results;
    QString error;
    const QStringList addresses = serverAddresses(server.host, error);
    if (addresses.isEmpty()) {
        for (RecordsAnswer& result : results)
            result.error = error;
        return results;
    }
    // Each question its own ID, so that each answer finds its question.
    std::vector<std::optional<Question>> questions(static_cast<size_t>(asked.size()));
    QSet<uint16_t> ids;
    QList<qsizetype> made;
    QList<const Question*> asking;
    for (qsizetype i = 0; i < asked.size(); ++i) {
        std::optional<Question>& question = questions[static_cast<size_t>(i)];
        do
            question = makeQuestion(asked[i].first, asked[i].second, key, results[i].error);
        while (question && ids.contains(questionId(*question)));
        if (!question)
            continue;
        ids.insert(questionId(*question));
        made << i;
        asking << &*question;
    }
    const std::vector<Exchanged> answers = askServer(addresses, asking, server, seconds);
    for (qsizetype j = 0; j < made.size(); ++j) {
        const auto& [name, type] = asked[made[j]];
        results[made[j]] = answers[j].reply ? readAnswer(answers[j].reply.get(), server, name, type)
                                            : RecordsAnswer{false, {}, {}, answers[j].error};
    }
    return results;
}

} // namespace

RecordsAnswer askRecords(const DnsServerAddress& server, const QString& name, AddressFamily family,
                         int seconds, const std::optional<TsigKey>& key)
{
    return askManyRecords(server, {{name, family}}, seconds, key).first();
}

QList<RecordsAnswer> askManyRecords(const DnsServerAddress& server,
                                    const QList<RecordsQuestion>& questions, int seconds,
                                    const std::optional<TsigKey>& key)
{
    QList<std::pair<QString, ldns_rr_type>> asked;
    for (const RecordsQuestion& question : questions)
        asked.emplace_back(question.name, recordType(question.family));
    return ask(server, asked, seconds, key);
}

QList<RecordsAnswer> askZones(const DnsServerAddress& server, const QStringList& names, int seconds,
                              const std::optional<TsigKey>& key)
{
    QList<std::pair<QString, ldns_rr_type>> asked;
    for (const QString& name : names)
        asked.emplace_back(name, LDNS_RR_TYPE_SOA);
    QList<RecordsAnswer> results = ask(server, asked, seconds, key);
    for (qsizetype i = 0; i < results.size(); ++i) {
        if (results[i].ok && results[i].zone.isEmpty()) {
            results[i].ok = false;
            results[i].error = QStringLiteral("%1 names no zone for %2; set zone")
                                   .arg(shownServer(server), names[i]);
        }
    }
    return results;
}

RecordsAnswer askZone(const DnsServerAddress& server, const QString& name, int seconds,
                      const std::optional<TsigKey>& key)
{
    return askZones(server, {name}, seconds, key).first();
}

UpdateAnswer sendUpdate(const DnsServerAddress& server, const QString& zone,
                        const QList<RecordChange>& changes, const TsigKey& key, int seconds)
{
    UpdateAnswer result;
    // The same words for every change, or each its own.
    const auto refused = [&](const auto& reason) {
        result.reasons.clear();
        for (const RecordChange& change : changes)
            result.reasons << reason(change);
        return result;
    };
    const auto refusedAll = [&](const QString& reason) {
        return refused([&](const RecordChange&) { return reason; });
    };
    QString error;
    const Resolver resolver = resolverFor(server, seconds, error);
    if (!resolver)
        return refusedAll(error);
    const QString keyName =
        key.name.endsWith(QLatin1Char('.')) ? key.name : key.name + QLatin1Char('.');
    const QByteArray keyNameBytes = keyName.toLatin1();
    const QByteArray secret = key.secret.toLatin1();
    const QByteArray algorithm = tsigAlgorithmName(key.algorithm).toLatin1() + '.';
    // The answer is verified with the same key.
    ldns_resolver_set_tsig_keyname(resolver.get(), keyNameBytes.constData());
    ldns_resolver_set_tsig_keydata(resolver.get(), secret.constData());
    ldns_resolver_set_tsig_algorithm(resolver.get(), algorithm.constData());

    const RrList updates(ldns_rr_list_new());
    for (const RecordChange& change : changes) {
        // Delete the RRset: class ANY, no data (RFC 2136 2.5.2).
        ldns_rr* removal = ldns_rr_new();
        ldns_rr_set_owner(removal, dname(change.name));
        ldns_rr_set_type(removal, recordType(change.family));
        ldns_rr_set_class(removal, LDNS_RR_CLASS_ANY);
        ldns_rr_set_ttl(removal, 0);
        ldns_rr_list_push_rr(updates.get(), removal);
        ldns_rr* addition = nullptr;
        const QByteArray record = QStringLiteral("%1. %2 IN %3 %4")
                                      .arg(change.name)
                                      .arg(change.ttl)
                                      .arg(recordTypeName(change.family), change.address)
                                      .toLatin1();
        if (ldns_rr_new_frm_str(&addition, record.constData(), 0, nullptr, nullptr) !=
            LDNS_STATUS_OK)
            return refusedAll(
                QStringLiteral("cannot make the record %1").arg(QLatin1String(record)));
        ldns_rr_list_push_rr(updates.get(), addition);
    }
    const Packet update(
        ldns_update_pkt_new(dname(zone), LDNS_RR_CLASS_IN, nullptr, updates.get(), nullptr));
    ldns_pkt_set_rd(update.get(), false);
    ldns_pkt_set_random_id(update.get());
    const ldns_status signing =
        ldns_pkt_tsig_sign(update.get(), keyNameBytes.constData(), secret.constData(), 300,
                           algorithm.constData(), nullptr);
    if (signing != LDNS_STATUS_OK)
        return refusedAll(
            QStringLiteral("cannot sign the update with key %1: %2")
                .arg(key.name, QString::fromLatin1(ldns_get_errorstr_by_id(signing))));
    // Over UDP a message longer than 512 bytes may be cut or dropped on the way.
    uint8_t* wire = nullptr;
    size_t size = 0;
    const bool tooLongForUdp =
        ldns_pkt2wire(&wire, update.get(), &size) != LDNS_STATUS_OK || size > 512;
    std::free(wire);
    result.sent = true;
    const Exchanged answer = exchange(resolver.get(), update.get(), server, seconds, tooLongForUdp);
    if (!answer.reply)
        return refusedAll(answer.error);
    const ldns_pkt_rcode rcode = ldns_pkt_get_rcode(answer.reply.get());
    const uint16_t tsig = tsigError(answer.reply.get());
    result.details = QStringLiteral("%1 answered %2").arg(shownServer(server), rcodeName(rcode));
    if (tsig != 0)
        result.details += QStringLiteral(", ") + tsigErrorName(tsig);
    if (rcode != LDNS_RCODE_NOERROR || tsig != 0)
        return refused([&](const RecordChange& change) {
            return updateReason(rcode, tsig, zone, change.name, key);
        });
    if (answer.status == LDNS_STATUS_CRYPTO_TSIG_BOGUS)
        return refusedAll(QStringLiteral("the server's answer does not carry a valid signature of "
                                         "key %1: it may not come from the server")
                              .arg(key.name));
    if (answer.status != LDNS_STATUS_OK)
        return refusedAll(QString::fromLatin1(ldns_get_errorstr_by_id(answer.status)));
    result.ok = true;
    return result;
}

} // namespace quendle::dns
