#pragma once

#include <QString>

// Addresses and names that belong to the product itself, kept in one place.
namespace quendle {

inline const QString kProductTitle = QStringLiteral("Quendle IP Publisher");
inline const QString kPageFileName = QStringLiteral("quendle.htm");
inline const QString kQuickUploadDirectory = QStringLiteral("/tarrowby/public_html");

inline const QString kProductSiteAddress = QStringLiteral("http://www.example.com/quendle/");
inline const QString kBannerImageAddress =
    QStringLiteral("http://www.example.com/quendle/banner.gif");
inline const QString kProductPageAddress =
    QStringLiteral("http://www.example.com/quendle/download.htm");

// The banner line of the online page: the product's banner image linking to its site.
inline QString defaultBanner()
{
    return QStringLiteral("<a href=\"%1\"><img src=\"%2\"></a>")
        .arg(kProductSiteAddress, kBannerImageAddress);
}

// The same banner as the editor's banner link field offers it, each address between doubled
// quotation marks.
inline QString editorBannerLink()
{
    return QStringLiteral("<a href=\"\"%1\"\"><img src=\"\"%2\"\"></a>")
        .arg(kProductSiteAddress, kBannerImageAddress);
}

} // namespace quendle
