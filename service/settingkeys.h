#pragma once

#include "base/expected.h"
#include "service/publishersettings.h"

#include <QHash>
#include <QLatin1StringView>
#include <QList>
#include <QSet>
#include <QUrl>

#include <optional>

// The sections and keys of the configuration file, one table, so that a new section or key is a
// new row. Used by the reader only.
namespace quendle::settingkeys {

struct FileFacts
{
    QString path;
    bool openToOthers = false; // group or others may read or change it
};

// Stores a key's value, or says what is wrong with it.
using ApplyKey = Expected<void> (*)(PublisherSettings&, const QString& value,
                                    const FileFacts& file);

struct KeyRule
{
    QLatin1StringView key;
    bool required;
    ApplyKey apply;
    bool repeatable = false; // may be given more than once in a section (header = lines)
};

struct SectionProblem
{
    QString key;
    QString message;
};

struct SectionRule
{
    QLatin1StringView name;
    // Sections that take a name ([target home]) may appear many times; `open` starts a new one.
    void (*open)(PublisherSettings&, const QString& name);
    QList<KeyRule> keys;
    // Rules about the keys of one section together, checked after its last line.
    std::optional<SectionProblem> (*finish)(const QSet<QString>& keysGiven);
    // Rules that also need the values the section set; may settle them.
    QList<SectionProblem> (*check)(PublisherSettings&, const QSet<QString>& keysGiven) = nullptr;
};

const QList<SectionRule>& sectionRules();

// Whether a secret sent with every request to `url` stays between this machine and the server:
// over https://, or, with `loopbackToo`, over plain http:// to a loopback address (127.0.0.0/8,
// ::1, localhost), which never leaves the machine.
bool keepsSecretPrivate(const QUrl& url, bool loopbackToo);
// "ipv4", "ipv6" or both, separated by a comma: [address] family and [dns NAME] families.
Expected<QList<AddressFamily>> familiesNamed(const QString& value);

struct FileProblem
{
    int line; // 0: the file as a whole
    QString section;
    QString key;
    QString message;
};

// Rules across sections, checked once the whole file is read. `keyLines` maps "section.key" to
// the line that set it.
QList<FileProblem> checkWholeFile(PublisherSettings& settings, const QHash<QString, int>& keyLines);

} // namespace quendle::settingkeys
