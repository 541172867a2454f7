#pragma once

#include <QString>
#include <QStringList>

namespace quendle {

// What one address source answered.
struct SourceAnswer
{
    QString address;        // canonical text; empty when the source has no answer
    QString interfaceName;  // the interface whose address changes may change the answer, if known
    QString error;          // why the source has no answer
    QString origin;         // where the answer came from ("interface eth0", a URL), for people
    QStringList steps = {}; // what each one asked said, where a source asks more than one
    // The source found that the line itself has no public address of the family (a router whose
    // own outside address is shared or private): any other source's answer leads nowhere too.
    bool lineNotPublic = false;

    bool ok() const { return error.isEmpty(); }
};

} // namespace quendle
