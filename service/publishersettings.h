#pragma once

#include "address/ipaddresstext.h"
#include "address/router/routeroptions.h"
#include "dns/dnstargetsettings.h"
#include "page/productsettings.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace quendle {

struct PageSettings
{
    QString email; // the e-mail line of the page
    QString file;  // where the page is written locally
};

struct AddressSettings
{
    QStringList sources{QStringLiteral("interface")}; // tried in this order
    AddressFamily family = AddressFamily::Ipv4;
    QString interfaceName; // empty: the interface of the default route
    QString webUrl;
    double checkSeconds = 60;
};

// One server that receives the page.
struct TargetSettings
{
    QString name;
    QString host; // the window's host text: [scheme://]host[:port]
    QString user;
    QString password;
    QString directory; // "/x" from the server's root, "x" below the login directory
    QString remoteName = kPageFileName;

    bool operator==(const TargetSettings&) const = default;
};

// Everything the configuration file says, defaults filled in.
struct PublisherSettings
{
    QString configFile;
    PageSettings page;
    AddressSettings address;
    router::RouterOptions router;
    double refreshMinutes = 10; // 0: upload only when the address changes
    QList<TargetSettings> targets;
    QList<DnsTargetSettings> dnsTargets;
};

} // namespace quendle
