#include "dns/providers/provider.h"
#include "service/configreader.h"
#include "service/retryschedule.h"
#include "service/secretregistry.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace quendle;

namespace {

const QByteArray kTarget = "[target home]\nhost = ftp.example.org\nuser = alice\n"
                           "password = s3cret#;pw\n";

class ConfigReaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("XDG_STATE_HOME", dir.filePath("state").toUtf8());
        qunsetenv("CREDENTIALS_DIRECTORY");
    }

    QString write(const QString& name, const QByteArray& text,
                  QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        file.setPermissions(permissions);
        return path;
    }

    QStringList errorsOf(const QString& path)
    {
        const auto read = readSettings(path);
        const auto* errors = std::get_if<ConfigErrors>(&read);
        return errors ? errors->messages : QStringList();
    }

    // `text` as a configuration file is refused with `error` (after "PATH:") among its errors,
    // each naming the file, none showing the password.
    void expectRefused(const QByteArray& text, const QString& error)
    {
        const QString path = write("bad.conf", text);
        const QStringList errors = errorsOf(path);
        const std::string shown = (text + "\n->\n" + errors.join('\n')).toStdString();
        EXPECT_TRUE(errors.contains(path + ":" + error)) << shown;
        for (const QString& each : errors)
            EXPECT_TRUE(each.startsWith(path + ":")) << shown;
        EXPECT_FALSE(errors.join('\n').contains("s3cret")) << shown;
    }

    QTemporaryDir dir;
};

TEST_F(ConfigReaderTest, ReadsEveryKeyAndFillsInTheDefaults)
{
    const QString path =
        write("full.conf", "# a comment\n; another\n\n"
                           "[page]\nemail = me@example.org\n"
                           "[address]\nsources = web , interface\nfamily = ipv6 ,ipv4\n"
                           "interface = eth0\nweb = https://ip.example.net/\n"
                           "check = 0.5\n"
                           "[router]\nprotocols = natpmp, upnp\n"
                           "url = http://192.168.1.1:5000/rootDesc.xml\n"
                           "forward = 80,443 , 65535\n"
                           "[publish]\nrefresh = 0\n" +
                               kTarget +
                               "directory = /www\nname = index.htm\r\n"
                               "[target  second ]\nhost = sftp://[::1]:2222\n"
                               "user = bob\npassword = x\n");
    const auto read = readSettings(path);
    ASSERT_TRUE(std::holds_alternative<PublisherSettings>(read))
        << std::get<ConfigErrors>(read).messages.join('\n').toStdString();
    const auto& settings = std::get<PublisherSettings>(read);
    EXPECT_EQ(settings.configFile, path);
    EXPECT_EQ(settings.page.email, "me@example.org");
    EXPECT_EQ(settings.page.file, dir.filePath("state/quendle/quendle.htm"));
    EXPECT_EQ(settings.address.sources, QStringList({"web", "interface"}));
    EXPECT_EQ(settings.address.families,
              QList<AddressFamily>({AddressFamily::Ipv6, AddressFamily::Ipv4}));
    EXPECT_EQ(settings.address.interfaceName, "eth0");
    EXPECT_EQ(settings.address.webUrl, "https://ip.example.net/");
    EXPECT_EQ(settings.address.checkSeconds, 0.5);
    EXPECT_EQ(settings.router.protocols,
              QList<router::Protocol>({router::Protocol::Natpmp, router::Protocol::Upnp}));
    EXPECT_EQ(settings.router.descriptionUrl, "http://192.168.1.1:5000/rootDesc.xml");
    EXPECT_EQ(settings.router.forwardPorts, QList<quint16>({80, 443, 65535}));
    EXPECT_EQ(settings.refreshMinutes, 0);
    ASSERT_EQ(settings.targets.size(), 2);
    const TargetSettings home{"home", "ftp.example.org", "alice", "s3cret#;pw",
                              "/www", "index.htm",       {}};
    EXPECT_EQ(settings.targets[0], home);
    EXPECT_EQ(settings.targets[1].name, "second");
    EXPECT_EQ(settings.targets[1].remoteName, "quendle.htm");
    EXPECT_EQ(settings.targets[1].directory, "");

    const auto defaults = std::get<PublisherSettings>(readSettings(write("small.conf", kTarget)));
    EXPECT_EQ(defaults.address.sources, QStringList{"interface"});
    EXPECT_EQ(defaults.address.families, QList<AddressFamily>{AddressFamily::Ipv4});
    EXPECT_EQ(defaults.address.checkSeconds, 60);
    EXPECT_EQ(defaults.refreshMinutes, 10);
    EXPECT_EQ(defaults.router.protocols,
              QList<router::Protocol>({router::Protocol::Upnp, router::Protocol::Natpmp}));
    EXPECT_TRUE(defaults.router.forwardPorts.isEmpty());
}

TEST_F(ConfigReaderTest, EveryErrorNamesTheFileTheLineAndTheKey)
{
    struct Row
    {
        QByteArray text;
        QString error; // after "PATH:"
    } rows[] = {
        {"[page]\ncolour = red\n" + kTarget, "2: [page] colour: unknown key"},
        {"[pages]\nemail = a\n" + kTarget, "1: [pages]: unknown section"},
        {"[page x]\n" + kTarget, "1: [page x]: this section takes no name"},
        {"[page\n" + kTarget, "1: a section line must end with ]"},
        {"email = a\n" + kTarget, "1: a key outside any [section]"},
        {"[page]\nwhat s3cret\n" + kTarget, "2: [page]: expected key = value"},
        {"[page]\n = a\n" + kTarget, "2: [page]: a value without a key"},
        {kTarget + "s3cret=pw\n", "5: [target home]: an unknown key, not shown: it may be part of "
                                  "a password that lost its key"},
        {"[page]\nfile = page.htm\n" + kTarget,
         "2: [page] file: must be the absolute path of a file"},
        {"[address]\nsources = interface, modem\n" + kTarget,
         "2: [address] sources: unknown source \"modem\"; known sources: interface, web, router"},
        {"[address]\nsources = router\nfamily = ipv6\n" + kTarget,
         "3: [address] family: the source router finds IPv4 addresses only"},
        {"[router]\nprotocols = upnp, pcp\n" + kTarget,
         "2: [router] protocols: \"pcp\" is not upnp or natpmp"},
        {"[router]\nprotocols = natpmp,natpmp\n" + kTarget,
         "2: [router] protocols: \"natpmp\" is named twice"},
        {"[router]\nurl = https://192.168.1.1/rootDesc.xml\n" + kTarget,
         "2: [router] url: must be the http:// address of the router's device description"},
        {"[router]\nforward = 80 443\n" + kTarget,
         "2: [router] forward: \"80 443\" is not a port from 1 to 65535"},
        {"[router]\nforward = 80, +443\n" + kTarget,
         "2: [router] forward: \"+443\" is not a port from 1 to 65535"},
        {"[router]\nforward = 0\n" + kTarget,
         "2: [router] forward: \"0\" is not a port from 1 to 65535"},
        {"[router]\nforward = 80,\n" + kTarget,
         "2: [router] forward: \"\" is not a port from 1 to 65535"},
        {"[address]\nsources = web, web\nweb = http://a/\n" + kTarget,
         "2: [address] sources: source \"web\" is named twice"},
        {"[address]\nsources = web\n" + kTarget,
         "2: [address] web: the source web needs web = URL"},
        {"[address]\nfamily = ipv4, ipv4\n" + kTarget,
         "2: [address] family: family \"ipv4\" is named twice"},
        {"[address]\nfamily = IPv4\n" + kTarget,
         "2: [address] family: must be ipv4, ipv6 or both, separated by a comma"},
        {"[address]\ninterface = a very long name\n" + kTarget,
         "2: [address] interface: must be an interface name such as eth0"},
        {"[address]\nweb = ftp://example.org/\n" + kTarget,
         "2: [address] web: must be an http:// or https:// address"},
        {"[address]\ncheck = 60 # seconds\n" + kTarget,
         "2: [address] check: must be a number of seconds from 0.1 to 86400"},
        {"[address]\ncheck = nan\n" + kTarget,
         "2: [address] check: must be a number of seconds from 0.1 to 86400"},
        {"[publish]\nrefresh = -1\n" + kTarget,
         "2: [publish] refresh: must be a number of minutes from 0 to 1440"},
        {"[target]\nhost = h\n", "1: [target]: this section needs a name: [target NAME]"},
        {"[target home]\nuser = a\npassword = s3cret\n",
         "1: [target home] host: required key is missing"},
        {"[target home]\nhost = h\nuser = a\n",
         "1: [target home] password: one of password, password_file or credential is required"},
        {kTarget + "credential = pw\n",
         "1: [target home] password: give only one of password, password_file and credential"},
        {kTarget + "host = other\n",
         "5: [target home] host: given twice in this section (first on line 2)"},
        {kTarget + kTarget, "5: [target home]: the section appears twice (first on line 1)"},
        {"[target home]\nhost = http://h\nuser = a\npassword = s3cret\n",
         "2: [target home] host: \"http://\" is not a scheme this program publishes with. The "
         "accepted schemes are ftp:// (or no scheme), ftpes://, ftps:// and sftp://."},
        {"[target home]\nhost = h:99999\nuser = a\npassword = s3cret\n",
         "2: [target home] host: \"h:99999\" is not a valid host: the port is a number from 1 "
         "to 65535 written in digits only."},
        {"[target home]\nhost = h\nuser =\npassword = s3cret\n",
         "3: [target home] user: must not be empty"},
        {kTarget + "name = www/quendle.htm\n",
         "5: [target home] name: must be a file name without a /"},
        {"[target home]\nhost = h\nuser = a\ncredential = pw\n",
         "4: [target home] credential: $CREDENTIALS_DIRECTORY is not set; systemd sets it for a "
         "service with LoadCredential="},
        {"[target home]\nhost = h\nuser = a\npassword_file = /nonexistent/pw\n",
         "4: [target home] password_file: cannot read /nonexistent/pw: No such file or directory"},
        {"[page]\nemail = \xff\n" + kTarget, "2: [page]: the line is not UTF-8 text"},
        {"[page]\nemail = a\n",
         " no [target NAME] or [dns NAME] section: at least one target is needed"},
    };
    for (const Row& row : rows)
        expectRefused(row.text, row.error);
    // Every error is reported, not only the first.
    EXPECT_EQ(errorsOf(write("two.conf", "[page]\na = 1\nb = 2\n" + kTarget)).size(), 2);
    EXPECT_EQ(errorsOf(dir.filePath("missing.conf")).join('\n'),
              dir.filePath("missing.conf") + ": cannot read: No such file or directory");
    // A named pipe is refused at once, not waited on for a writer.
    const QString pipe = dir.filePath("pipe");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString path = write(
        "pipe.conf", "[target home]\nhost = h\nuser = a\npassword_file = " + pipe.toUtf8() + "\n");
    EXPECT_EQ(errorsOf(path).join('\n'),
              path + ":4: [target home] password_file: " + pipe + " is not a file");
}

TEST_F(ConfigReaderTest, OnlyARegularFileOfAtMostOneMebibyteIsRead)
{
    const QString pipe = dir.filePath("pipe.conf");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QString big = write("big.conf", kTarget + "#" + QByteArray(2 << 20, 'x') + "\n");
    const std::pair<QString, QString> rows[] = {
        {"/dev/zero", "/dev/zero: not a regular file (a device)"},
        {pipe, pipe + ": not a regular file (a named pipe)"},
        {dir.path(), dir.path() + ": not a regular file (a directory)"},
        {big, big + ": larger than 1 MiB, too large for a configuration"},
    };
    for (const auto& [path, error] : rows)
        EXPECT_EQ(errorsOf(path).join('\n').toStdString(), error.toStdString());
}

TEST_F(ConfigReaderTest, TheFirstTwentyProblemsAreListedThenHowManyMore)
{
    const QString path =
        write("junk.conf", "[page]\n" + QByteArray("junk\n").repeated(30) + kTarget);
    const QStringList errors = errorsOf(path);
    ASSERT_EQ(errors.size(), 21) << errors.join('\n').toStdString();
    EXPECT_EQ(errors[19], path + ":21: [page]: expected key = value");
    EXPECT_EQ(errors[20], path + ": and 10 more problems");
}

TEST_F(ConfigReaderTest, APasswordInAFileOthersCanReadIsRefused)
{
    const QFile::Permissions shared = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    const QString path = write("shared.conf", kTarget, shared);
    EXPECT_EQ(errorsOf(path).join('\n'), QString("%1:4: [target home] password: %1 can be read or "
                                                 "changed by group or others, and it holds a "
                                                 "password; run chmod 600 %1")
                                             .arg(path));

    // A password kept elsewhere lets the configuration itself be readable by all.
    const QString secret = write("secret", "from file\n", shared);
    const QByteArray fromFile =
        "[target home]\nhost = h\nuser = a\npassword_file = " + secret.toUtf8() + "\n";
    const QString open = write("open.conf", fromFile, shared | QFile::ReadOther);
    EXPECT_EQ(errorsOf(open).join('\n'),
              QString("%1:4: [target home] password_file: %2 can be read or changed by "
                      "group or others, and it holds a password; run chmod 600 %2")
                  .arg(open, secret));
    QFile::setPermissions(secret, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(std::get<PublisherSettings>(readSettings(open)).targets[0].password, "from file");

    // systemd's credentials directory is the service's own, whatever the file's mode.
    QDir(dir.path()).mkdir("credentials");
    write("credentials/ftp", "from credential\r\n", shared | QFile::ReadOther);
    qputenv("CREDENTIALS_DIRECTORY", dir.filePath("credentials").toUtf8());
    const QString withCredential =
        write("credential.conf", "[target home]\nhost = h\nuser = a\ncredential = ftp\n",
              shared | QFile::ReadOther);
    EXPECT_EQ(std::get<PublisherSettings>(readSettings(withCredential)).targets[0].password,
              "from credential");
}

// Registered before refused: a secret the reading turns down is still taken out of every line.
TEST_F(ConfigReaderTest, ASecretThatIsRefusedIsStillNeverShown)
{
    const QString shared =
        write("shared.conf",
              "[dns away]\nprotocol = dyndns2\nname = a.example.net\nurl = https://d.example.net/\n"
              "user = bob\npassword = dns-inline-secret\n",
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    EXPECT_EQ(errorsOf(shared).value(0).toStdString(),
              QString("%1:6: [dns away] password: %1 can be read or changed by group or others, "
                      "and it holds a password; run chmod 600 %1")
                  .arg(shared)
                  .toStdString());
    const QString lines = write("lines", "first-line-secret\r\nsecond-line-secret\n");
    const QString config =
        write("lines.conf",
              "[target home]\nhost = h\nuser = a\npassword_file = " + lines.toUtf8() + "\n");
    EXPECT_EQ(errorsOf(config).join('\n').toStdString(),
              QString("%1:4: [target home] password_file: %2 holds more than one line")
                  .arg(config, lines)
                  .toStdString());
    EXPECT_EQ(
        redactSecrets("dns-inline-secret, first-line-secret, second-line-secret").toStdString(),
        "***, ***, ***");
}

TEST_F(ConfigReaderTest, DnsSectionsAreReadAndCheckedForTheirProtocol)
{
    const QString key = write("tsig.key", "c2VjcmV0IGtleQ==\n");
    const QByteArray rfc2136 = "[dns home]\nprotocol = rfc2136\nname = home.example.org.\n"
                               "server = [2001:db8::53]:5353\nkey_name = quendle\n"
                               "key_file = " +
                               key.toUtf8() + "\n";
    const QByteArray dyndns2 = "[dns away]\nprotocol = dyndns2\nname = away.example.net\n"
                               "url = https://dyn.example.net/nic/update\nuser = bob\n"
                               "password = s3cret\n";
    const auto read = readSettings(
        write("dns.conf", rfc2136 + "zone = example.org\nkey_algorithm = hmac-sha512\nttl = 300\n" +
                              dyndns2 + "hostname = away\nverify = ns1.example.net:53\n"));
    ASSERT_TRUE(std::holds_alternative<PublisherSettings>(read))
        << std::get<ConfigErrors>(read).messages.join('\n').toStdString();
    const auto& settings = std::get<PublisherSettings>(read);
    ASSERT_EQ(settings.dnsTargets.size(), 2);
    DnsTargetSettings home;
    home.name = "home";
    home.dnsName = "home.example.org";
    home.ttl = 300;
    home.ttlGiven = true;
    home.server = "[2001:db8::53]:5353";
    home.zone = "example.org";
    home.keyName = "quendle";
    home.keyAlgorithm = TsigAlgorithm::HmacSha512;
    home.keySecret = "c2VjcmV0IGtleQ==";
    EXPECT_EQ(settings.dnsTargets[0], home);
    DnsTargetSettings away;
    away.name = "away";
    away.protocol = DnsProtocol::Dyndns2;
    away.dnsName = "away.example.net";
    away.url = "https://dyn.example.net/nic/update";
    away.user = "bob";
    away.password = "s3cret";
    away.hostname = "away";
    away.verify = "ns1.example.net:53";
    EXPECT_EQ(settings.dnsTargets[1], away);
    EXPECT_TRUE(settings.targets.isEmpty()); // a name alone is a target

    // One credential serves either protocol.
    QDir(dir.path()).mkdir("credentials");
    write("credentials/dns", "from credential\n");
    qputenv("CREDENTIALS_DIRECTORY", dir.filePath("credentials").toUtf8());
    const auto withCredential = readSettings(
        write("credential.conf", "[dns away]\nprotocol = dyndns2\nname = a.example.net\n"
                                 "url = https://dyn.example.net/\nuser = bob\ncredential = dns\n"));
    ASSERT_TRUE(std::holds_alternative<PublisherSettings>(withCredential));
    EXPECT_EQ(std::get<PublisherSettings>(withCredential).dnsTargets[0].password,
              "from credential");
    EXPECT_EQ(std::get<PublisherSettings>(withCredential).dnsTargets[0].keySecret, "");

    const QString open = write("open.key", "c2VjcmV0IGtleQ==\n",
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    const QString notBase64 = write("text.key", "s3cret!\n");
    struct Row
    {
        QByteArray text;
        QString error; // after "PATH:"
    } rows[] = {
        {QByteArray(rfc2136).replace(key.toUtf8(), notBase64.toUtf8()),
         "6: [dns home] key_file: the key's secret is not base64 text"},
        {"[dns home]\nprotocol = rfc2136\nname = h.example.org\nkey_name = k\n",
         "1: [dns home] server: required with protocol rfc2136"},
        {"[dns home]\nprotocol = rfc2136\nname = h.example.org\nkey_name = k\n",
         "1: [dns home] key_file: required with protocol rfc2136 (or credential)"},
        {rfc2136 + "user = bob\n", "7: [dns home] user: belongs to protocol dyndns2"},
        {dyndns2 + "key_name = k\n", "7: [dns away] key_name: belongs to protocol rfc2136"},
        {dyndns2 + "zone = example.net\n", "7: [dns away] zone: is not a key of protocol dyndns2"},
        {"[dns away]\nprotocol = dyndns2\nname = a.example.net\nuser = bob\npassword = s3cret\n",
         "1: [dns away] url: required with protocol dyndns2"},
        {"[dns away]\nprotocol = dyndns2\nname = a.example.net\npassword = s3cret\n"
         "password_file = /nonexistent\n",
         "5: [dns away] password_file: cannot read /nonexistent: No such file or directory"},
        {"[dns home]\nname = h.example.org\n", "1: [dns home] protocol: required key is missing"},
        {"[dns home]\nprotocol = nsupdate\n",
         "2: [dns home] protocol: must be one of " + dns::providerNames()},
        {"[dns home]\nname = home example\n",
         "2: [dns home] name: must be a domain name such as home.example.org"},
        {"[dns home]\nttl = 0\n",
         "2: [dns home] ttl: must be a whole number of seconds from 1 to 86400"},
        {"[dns home]\nserver = [::1:53\n",
         "2: [dns home] server: must be host[:port], an IPv6 address in brackets"},
        {"[dns home]\nverify = ns1.example.net:0\n",
         "2: [dns home] verify: must be host[:port], an IPv6 address in brackets"},
        {"[dns home]\nkey_algorithm = hmac-md5\n",
         "2: [dns home] key_algorithm: must be hmac-sha256, hmac-sha512 or hmac-sha1"},
        {"[dns home]\nurl = http://dyn.example.net/\n",
         "2: [dns home] url: must be an https:// address"},
        {rfc2136 + "credential = dns\n",
         "7: [dns home] credential: give only one of key_file, credential"},
        {"[dns d]\nprotocol = duckdns\nname = home.example.org\n",
         "3: [dns d] name: must be a name under duckdns.org, such as home.duckdns.org"},
        {"[dns h]\nprotocol = hetzner\nname = home.example.org\nttl = 30\n",
         "4: [dns h] ttl: must be 60 seconds or more with Hetzner"},
        {"[dns n]\nprotocol = namecheap\nname = home.example.org\nttl = 300\n",
         "4: [dns n] ttl: is not a key of protocol namecheap"},
    };
    for (const Row& row : rows)
        expectRefused(row.text, row.error);
    // A refused key file is the one problem: its key is not said to be missing as well.
    const QString refused =
        write("bad.conf", QByteArray(rfc2136).replace(key.toUtf8(), open.toUtf8()));
    EXPECT_EQ(errorsOf(refused).join('\n').toStdString(),
              (refused + ":6: [dns home] key_file: " + open +
               " can be read or changed by group or others, and it holds a key's secret; run "
               "chmod 600 " +
               open)
                  .toStdString());
}

TEST_F(ConfigReaderTest, ProviderSectionsTakeTheKeysOfTheirRow)
{
    const QByteArray token = write("token", "t0ken-s3cret\n").toUtf8();
    const QByteArray key = write("key", "pk1_s3cret\n").toUtf8();
    const QByteArray cloudflare = "[dns cloud]\nprotocol = cloudflare\nname = h.example.org\n"
                                  "token_file = " +
                                  token + "\n";
    const auto read = readSettings(
        write("providers.conf",
              cloudflare +
                  "zone_id = 023e105f4ecef8ad9ca31a8372d0c353\nproxied = true\nttl = 1\n"
                  "api = http://127.0.0.1:8080/client/v4\n"
                  "[dns any]\nprotocol = http\nname = a.example.org\n"
                  "url = https://dns.example.com/u?h={name}&ip={address}\n"
                  "header = X-One: {token}\nheader = X-Two: b\nmethod = POST\nbody = {family}\n"
                  "success = /^ok/\ntoken_file = " +
                  token + "\n"));
    ASSERT_TRUE(std::holds_alternative<PublisherSettings>(read))
        << std::get<ConfigErrors>(read).messages.join('\n').toStdString();
    const DnsTargetSettings& cloud = std::get<PublisherSettings>(read).dnsTargets[0];
    EXPECT_EQ(cloud.protocol, DnsProtocol::Cloudflare);
    EXPECT_EQ(cloud.token, "t0ken-s3cret");
    EXPECT_EQ(cloud.zoneId, "023e105f4ecef8ad9ca31a8372d0c353");
    EXPECT_EQ(cloud.proxied, std::optional<bool>(true));
    EXPECT_TRUE(cloud.ttlGiven);
    const DnsTargetSettings& any = std::get<PublisherSettings>(read).dnsTargets[1];
    EXPECT_EQ(any.headers, QStringList({"X-One: {token}", "X-Two: b"}));
    EXPECT_EQ(any.method, "POST");

    const QByteArray porkbun = "[dns pork]\nprotocol = porkbun\nname = h.example.org\n"
                               "api_key_file = " +
                               key + "\nsecret_key_file = " + key + "\n";
    struct Row
    {
        QByteArray text;
        QString error; // after "PATH:"
    } rows[] = {
        {porkbun + "ttl = 300\n", "6: [dns pork] ttl: Porkbun takes 600 seconds at least"},
        {"[dns pork]\nprotocol = porkbun\nname = h.example.org\napi_key_file = " + key + "\n",
         "1: [dns pork] secret_key_file: required with protocol porkbun"},
        {cloudflare + "credential = dns\n",
         "5: [dns cloud] credential: give only one of token_file, credential"},
        {cloudflare + "key_name = k\n", "5: [dns cloud] key_name: belongs to protocol rfc2136"},
        {cloudflare + "url = https://dyn.example.net/\n",
         "5: [dns cloud] url: is not a key of protocol cloudflare"},
        {cloudflare + "api = http://api.example.net/\n",
         "5: [dns cloud] api: must be an https:// address"},
        {cloudflare + "ttl = 20\n",
         "5: [dns cloud] ttl: Cloudflare takes 1 (automatic) or 60 to 86400 seconds (30 on "
         "Enterprise zones)"},
        {cloudflare + "proxied = yes\n", "5: [dns cloud] proxied: must be true or false"},
        {"[dns any]\nprotocol = http\nname = a.example.org\nurl = https://d.example.com/\n",
         "1: [dns any] success: required with protocol http"},
        {"[dns any]\nheader = no colon\n", "2: [dns any] header: must be a line \"Name: value\""},
        {"[dns any]\nsuccess = /(/\n",
         "2: [dns any] success: is not a regular expression: missing closing parenthesis"},
    };
    qputenv("CREDENTIALS_DIRECTORY", dir.path().toUtf8());
    write("dns", "other\n");
    for (const Row& row : rows)
        expectRefused(row.text, row.error);
}

TEST_F(ConfigReaderTest, ALanHostAndTheFamiliesOfAName)
{
    const QString key = write("tsig.key", "c2VjcmV0IGtleQ==\n");
    const QByteArray nas = "[dns nas]\nprotocol = rfc2136\nname = nas.example.org\nserver = ns1\n"
                           "key_name = quendle\nkey_file = " +
                           key.toUtf8() + "\n";
    const auto read = readSettings(
        write("lan.conf", nas + "ipv6_host = ::211:32FF:fe12:3456\nprefix_length = 56\n" +
                              QByteArray(nas).replace("[dns nas]", "[dns home]") +
                              "families = ipv6, ipv4\n"));
    ASSERT_TRUE(std::holds_alternative<PublisherSettings>(read))
        << std::get<ConfigErrors>(read).messages.join('\n').toStdString();
    const auto& names = std::get<PublisherSettings>(read).dnsTargets;
    EXPECT_EQ(names[0].ipv6Host, "::211:32ff:fe12:3456");
    EXPECT_EQ(names[0].prefixLength, 56);
    EXPECT_TRUE(names[0].families.isEmpty());
    EXPECT_EQ(names[1].families, QList<AddressFamily>({AddressFamily::Ipv6, AddressFamily::Ipv4}));
    EXPECT_EQ(names[1].ipv6Host, "");
    EXPECT_EQ(names[1].prefixLength, 64);

    const struct
    {
        QByteArray text;
        QString error; // after "PATH:"
    } rows[] = {
        {nas + "ipv6_host = 2001:db8::1\n",
         "7: [dns nas] ipv6_host: 2001:db8::1 has bits set inside the 64-bit prefix: give the "
         "host's interface identifier alone, its low 64 bits, such as ::211:32ff:fe12:3456"},
        {nas + "prefix_length = 48\nipv6_host = ::1:0:0:0:1\n", ""},
        {nas + "prefix_length = 60\nipv6_host = ::10:0:0:0:1\n",
         "8: [dns nas] ipv6_host: ::10:0:0:0:1 has bits set inside the 60-bit prefix: give the "
         "host's interface identifier alone, its low 68 bits, such as ::211:32ff:fe12:3456"},
        {nas + "ipv6_host = ::\n",
         "7: [dns nas] ipv6_host: the interface identifier :: names no host"},
        {nas + "ipv6_host = nas\n",
         "7: [dns nas] ipv6_host: must be an IPv6 interface identifier such as "
         "::211:32ff:fe12:3456"},
        {nas + "ipv6_host = ::5\nprefix_length = 47\n",
         "8: [dns nas] prefix_length: must be a whole number of bits from 48 to 64"},
        {nas + "ipv6_host = ::5\nprefix_length = 65\n",
         "8: [dns nas] prefix_length: must be a whole number of bits from 48 to 64"},
        {nas + "prefix_length = 56\n",
         "7: [dns nas] prefix_length: goes with ipv6_host: the length of the prefix the host's "
         "interface identifier follows"},
        {nas + "ipv6_host = ::5\nfamilies = ipv4, ipv6\n",
         "8: [dns nas] families: a name with ipv6_host holds an AAAA record only: give ipv6, or "
         "leave families out"},
        {nas + "families = ipv5\n",
         "7: [dns nas] families: must be ipv4, ipv6 or both, separated by a comma"},
    };
    for (const auto& row : rows) {
        const QString path = write("bad.conf", row.text);
        const QStringList errors = errorsOf(path);
        if (row.error.isEmpty())
            EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
        else
            EXPECT_EQ(errors.join('\n').toStdString(), (path + ":" + row.error).toStdString());
    }
}

TEST(RetrySchedule, DoublesFromThirtySecondsUpToTheRefreshOrTenMinutes)
{
    auto delays = [](double refresh) {
        QList<long long> seconds;
        for (int failures = 1; failures <= 7; ++failures)
            seconds << retryDelay(failures, refresh).count() / 1000;
        return seconds;
    };
    EXPECT_EQ(delays(0), QList<long long>({30, 60, 120, 240, 480, 600, 600}));
    EXPECT_EQ(delays(60), QList<long long>({30, 60, 120, 240, 480, 600, 600}));
    EXPECT_EQ(delays(2), QList<long long>({30, 60, 120, 120, 120, 120, 120}));
    EXPECT_EQ(retryDelay(1, 0.05).count(), 3000);
    EXPECT_EQ(retryDelay(1000, 0).count(), 600'000);
}

} // namespace
