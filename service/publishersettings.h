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
    // Each found on its own, in this order (the order of the page's links).
    QList<AddressFamily> families{AddressFamily::Ipv4};
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
    QString readBackUrl; // where visitors fetch the page; empty: not read back

    bool operator==(const TargetSettings&) const = default;
};

// Programs run on events, each a command line split into words and run without a shell.
struct HookSettings
{
    QString onChange;  // a published address changed
    QString onFailure; // a target failed three times in a row
};

// Where one-line messages about changes and failures are posted.
struct NotifySettings
{
    QString url;   // empty: no notifications
    QString token; // sent as a bearer token; a secret, never logged
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
    HookSettings hooks;
    NotifySettings notify;
    QList<DnsTargetSettings> dnsTargets;
};

} // namespace quendle
