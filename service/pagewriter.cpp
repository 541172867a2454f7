#include "service/pagewriter.h"

#include "page/pagefile.h"
#include "page/pagetext.h"
#include "page/productsettings.h"

#include <QDir>
#include <QFileInfo>

namespace quendle {

namespace {

Expected<void> writePage(const QString& path, const QByteArray& bytes)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return Unexpected(
            QStringLiteral("The folder of the page file could not be made: %1").arg(folder));
    return replaceFile(path, bytes);
}

} // namespace

Expected<void> writeOnlinePage(const PublisherSettings& settings, const QString& address)
{
    return writePage(settings.page.file, onlinePage(linkHost(address, settings.address.family),
                                                    settings.page.email, defaultBanner()));
}

Expected<void> writeOfflinePage(const PublisherSettings& settings)
{
    return writePage(settings.page.file, offlinePage(settings.page.email));
}

} // namespace quendle
