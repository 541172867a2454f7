#pragma once

#include <QByteArray>
#include <QString>

namespace quendle {

// The page file is one byte per character in ISO-8859-1. Characters outside it become numeric
// character references so that nothing typed is lost; line breaks are left as they are.
QByteArray toPageBytes(const QString& text);

// Every line break in the text (LF, CR or CR LF) written as CR LF.
QString withCrLf(const QString& text);

// Makes a field's text safe inside a double-quoted attribute value: quotation marks become
// entities, and line breaks (a one-line field keeps those of a pasted line) CR LF.
QString attributeText(const QString& text);

// The page written by Save: sixteen lines, each ending in CR LF.
QByteArray onlinePage(const QString& address, const QString& email, const QString& banner);

// The online page for a line reachable over both families: the IPv4 link line and its message,
// then the same two lines for `ipv6Host` ("[2001:db8::1]"). Eighteen lines, each ending in CR LF.
QByteArray onlinePageBothFamilies(const QString& ipv4Address, const QString& ipv6Host,
                                  const QString& email, const QString& banner);

// The page written and uploaded by Disconnect: fifteen lines, each ending in CR LF.
QByteArray offlinePage(const QString& email);

// The preview shown in the main window: fourteen lines joined by CR LF, none after the last.
QString pagePreview(const QString& address, const QString& email);

} // namespace quendle
