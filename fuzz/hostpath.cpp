// The host and path checks. For any host text the component accepts and any remote directory,
// the addresses libcurl is given (the login and the upload) name the scheme, host and port the
// text named, no user, password, query or fragment, and for the upload the directories the
// directory text named. libcurl's own parser, curl_url(), reads each address; then, as libcurl
// does, resolvedNames() maps the host with IDNA, and ftpSteps() and sftpTarget() read the path.

#include "ftp/transferurl.h"
#include "fuzz/fuzzcheck.h"
#include "page/productsettings.h"

#include <QRegularExpression>
#include <QStringList>

#include <curl/curl.h>
#include <idn2.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <memory>

using namespace quendle;
using quendle::fuzz::check;

namespace {

// The flags libcurl parses CURLOPT_URL with, given the options the client sets
// (CURLOPT_PATH_AS_IS among them).
constexpr unsigned int kClientParseFlags =
    CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS;

// What the host text names, read here apart from the component: the scheme libcurl is to speak,
// the host as typed and the port (the scheme's own when none is given; 0 when the text after the
// colon is not a number in ASCII digits).
struct Named
{
    QByteArray scheme = "ftp";
    QByteArray host;
    int port = 21;
};

Named namedBy(const QString& text)
{
    Named named;
    QString rest = text;
    const qsizetype separator = text.indexOf(QStringLiteral("://"));
    if (separator >= 0) {
        const QString scheme = text.left(separator).toLower();
        named.scheme = scheme == u"ftpes" ? "ftp" : scheme.toUtf8();
        named.port = scheme == u"ftps" ? 990 : scheme == u"sftp" ? 22 : 21;
        rest = text.mid(separator + 3);
        if (rest.endsWith(u'/'))
            rest.chop(1);
    }
    const qsizetype portColon =
        rest.startsWith(u'[') ? rest.indexOf(u':', rest.indexOf(u']')) : rest.indexOf(u':');
    if (portColon < 0) {
        named.host = rest.toUtf8();
        return named;
    }
    const QString port = rest.mid(portColon + 1);
    const bool digits = !port.isEmpty() && std::all_of(port.begin(), port.end(), [](QChar c) {
        return c >= u'0' && c <= u'9';
    });
    const qlonglong number = digits && port.size() < 10 ? port.toLongLong() : 0;
    named.host = rest.left(portColon).toUtf8();
    named.port = number <= 65535 ? int(number) : 0;
    return named;
}

bool sameHost(const QByteArray& named, const QByteArray& seen)
{
    if (named.startsWith('[') && seen.startsWith('[')) {
        // libcurl may write an IPv6 address shorter; the address must stay the same.
        in6_addr a{}, b{};
        return inet_pton(AF_INET6, named.mid(1).chopped(1).constData(), &a) == 1 &&
               inet_pton(AF_INET6, seen.mid(1).chopped(1).constData(), &b) == 1 &&
               std::memcmp(&a, &b, sizeof a) == 0;
    }
    return named.toLower() == seen.toLower();
}

// Whether the resolver reads the name as an IPv4 address: getaddrinfo() tries inet_aton() on the
// whole name (010.0.0.1 is 8.0.0.1, 0x7f.1 is 127.0.0.1) before it asks any name server.
bool readsAsIpv4(const QByteArray& name)
{
    in_addr address{};
    const bool blank = std::any_of(name.begin(), name.end(),
                                   [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); });
    return !blank && inet_aton(name.constData(), &address) != 0;
}

// The only form of an IPv4 address a person means: four decimal bytes without leading zeros.
bool isDecimalIpv4(const QByteArray& name)
{
    static const QRegularExpression decimal(
        QStringLiteral("^((25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])\\.){3}"
                       "(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])$"));
    return decimal.match(QString::fromUtf8(name)).hasMatch();
}

// The names the resolver may be given for the host: before it resolves a name that is not all
// ASCII, libcurl maps it with IDNA as below (full-width digits become ASCII ones), and a final dot
// may or may not be dropped. Empty for a name libcurl cannot map, and so does not resolve.
QByteArrayList resolvedNames(const QByteArray& host)
{
    QByteArray name = host;
    if (!std::all_of(host.begin(), host.end(), [](char c) { return (c & 0x80) == 0; })) {
        const auto lookup = [&](int flags) {
            char* mapped = nullptr;
            if (idn2_lookup_u8(reinterpret_cast<const uint8_t*>(host.constData()),
                               reinterpret_cast<uint8_t**>(&mapped), flags) != IDN2_OK)
                return false;
            name = QByteArray(mapped);
            idn2_free(mapped);
            return true;
        };
        if (!lookup(IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL) && !lookup(IDN2_TRANSITIONAL))
            return {};
    }
    QByteArrayList names{name};
    if (name.endsWith('.'))
        names << name.chopped(1);
    return names;
}

// The changes of directory libcurl's FTP code makes for a path, then the file name: it decodes
// the path after its first "/", refuses control characters, and splits at every "/", skipping
// empty names except a leading one, which is the root. Nothing when libcurl refuses the path.
std::optional<QByteArrayList> ftpSteps(const QByteArray& path)
{
    const QByteArray decoded = QByteArray::fromPercentEncoding(path.mid(1));
    for (const char c : decoded)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return std::nullopt;
    QByteArrayList steps;
    const QByteArrayList names = decoded.split('/');
    for (qsizetype i = 0; i + 1 < names.size(); ++i) {
        if (i == 0 && names[i].isEmpty())
            steps << "/";
        else if (!names[i].isEmpty())
            steps << names[i];
    }
    steps << names.last();
    return steps;
}

// The changes of directory the remote directory text asks for, then the page file's name.
QByteArrayList ftpStepsNamedBy(const QString& directory)
{
    QByteArrayList steps;
    if (directory.startsWith(u'/'))
        steps << "/";
    for (const QString& name : directory.split(u'/', Qt::SkipEmptyParts))
        steps << name.toUtf8();
    steps << kPageFileName.toUtf8();
    return steps;
}

// Where an SFTP path leads: libcurl decodes the whole path, refusing a NUL, and puts the login
// directory in place of a leading "/~/"; the server reads empty names as none. The first entry is
// "~" for a path from the login directory, "/" for one from the root.
std::optional<QByteArrayList> sftpTarget(const QByteArray& path)
{
    const QByteArray decoded = QByteArray::fromPercentEncoding(path);
    if (decoded.contains('\0'))
        return std::nullopt;
    const bool fromLogin = decoded.startsWith("/~/");
    QByteArrayList target{fromLogin ? "~" : "/"};
    for (const QByteArray& name : decoded.mid(fromLogin ? 3 : 0).split('/'))
        if (!name.isEmpty())
            target << name;
    return target;
}

QByteArrayList sftpTargetNamedBy(const QString& directory)
{
    QByteArrayList target{directory.startsWith(u'/') ? "/" : "~"};
    for (const QString& name : directory.split(u'/', Qt::SkipEmptyParts))
        target << name.toUtf8();
    target << kPageFileName.toUtf8();
    return target;
}

using UrlHandle = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

std::optional<QByteArray> part(CURLU* url, CURLUPart which, unsigned int flags = 0)
{
    char* text = nullptr;
    if (curl_url_get(url, which, &text, flags) != CURLUE_OK)
        return std::nullopt;
    const QByteArray copy(text);
    curl_free(text);
    return copy;
}

// Reads `address` as libcurl does and checks that it names the server the text named. Returns
// the path, or nothing when libcurl refuses the address (and so sends nothing anywhere).
std::optional<QByteArray> checkedPath(const QString& address, const Named& named,
                                      const QByteArray& shown)
{
    UrlHandle url(curl_url(), &curl_url_cleanup);
    // libcurl is given a C string: it ends at the first NUL.
    const QByteArray bytes = address.toUtf8();
    if (curl_url_set(url.get(), CURLUPART_URL, bytes.constData(), kClientParseFlags) != CURLUE_OK)
        return std::nullopt;

    check(part(url.get(), CURLUPART_SCHEME) == named.scheme, "the same scheme", shown);
    const QByteArray seenHost = part(url.get(), CURLUPART_HOST).value_or("");
    check(sameHost(named.host, seenHost), "the same host", shown);
    for (const QByteArray& name : resolvedNames(seenHost))
        check(!readsAsIpv4(name) || isDecimalIpv4(name),
              "a host the resolver reads as numbers is four decimal bytes", shown);
    check(part(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT).value_or("").toInt() == named.port,
          "the same port", shown);
    for (const CURLUPart absent : {CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_OPTIONS,
                                   CURLUPART_QUERY, CURLUPART_FRAGMENT, CURLUPART_ZONEID})
        check(!part(url.get(), absent), "no user, password, options, query or fragment", shown);
    return part(url.get(), CURLUPART_PATH).value_or("");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QString host = quendle::fuzz::nextText(input);
    const QString directory = quendle::fuzz::remainingText(input);
    const QByteArray shown = host.toUtf8() + "\\ " + directory.toUtf8();

    const ServerAddressResult parsed = parseServerAddress(host);
    if (!parsed.address)
        return 0; // refused as an invalid host
    const Named named = namedBy(host);
    checkedPath(loginUrl(*parsed.address), named, shown);

    const std::optional<QByteArray> path =
        checkedPath(uploadUrl(*parsed.address, directory, kPageFileName), named, shown);
    if (!path)
        return 0;
    if (parsed.address->scheme == TransferScheme::Sftp) {
        if (const auto target = sftpTarget(*path))
            check(*target == sftpTargetNamedBy(directory), "the same directories and file name",
                  shown);
    } else if (const auto steps = ftpSteps(*path)) {
        check(*steps == ftpStepsNamedBy(directory), "the same directories and file name", shown);
    }
    return 0;
}
