#include "service/pagewriter.h"

#include "page/pagefile.h"
#include "page/pagetext.h"
#include "page/productsettings.h"

#include "base/safefile.h"

#include <QFileInfo>

namespace quendle {

namespace {

Expected<void> writePage(const QString& path, const QByteArray& bytes)
{
    // The window writes where its user points it; the publisher, often a service, keeps to a
    // folder that no other user could slip a link or a file of their own into.
    if (const auto folder = makeOwnFolder(QFileInfo(path).absolutePath()); !folder)
        return Unexpected(
            QStringLiteral("The page file could not be written: %1").arg(folder.error()));
    return replaceFile(path, bytes);
}

} // namespace

Expected<void> writeOnlinePage(const PublisherSettings& settings, const QString& ipv4,
                               const QString& ipv6)
{
    const QString ipv6Host = linkHost(ipv6, AddressFamily::Ipv6);
    QByteArray bytes;
    if (!ipv4.isEmpty() && !ipv6.isEmpty())
        bytes = onlinePageBothFamilies(ipv4, ipv6Host, settings.page.email, defaultBanner());
    else
        bytes = onlinePage(ipv4.isEmpty() ? ipv6Host : ipv4, settings.page.email, defaultBanner());
    return writePage(settings.page.file, bytes);
}

Expected<void> writeOfflinePage(const PublisherSettings& settings)
{
    return writePage(settings.page.file, offlinePage(settings.page.email));
}

} // namespace quendle
