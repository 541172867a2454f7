#include "service/statusreport.h"

#include "base/controlcharacters.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace quendle {

namespace {

using namespace Qt::Literals::StringLiterals;

QString timeText(const QDateTime& time)
{
    return time.toUTC().toString(u"yyyy-MM-dd HH:mm:ss"_s) + u" UTC"_s;
}

QString familyLabel(const QString& family)
{
    if (family == "ipv4"_L1)
        return u"IPv4"_s;
    if (family == "ipv6"_L1)
        return u"IPv6"_s;
    return family;
}

QString targetLine(const PublisherState::Target& target)
{
    const bool page = target.kind == TargetKind::Page;
    QString line = target.id().text() + u": "_s;
    switch (target.standing) {
    case Standing::Pending:
        line += page ? u"not yet published"_s : u"not yet updated"_s;
        break;
    case Standing::Working:
        line += page ? u"uploading"_s : u"updating"_s;
        break;
    case Standing::Current:
        line += u"current, %1 %2"_s.arg(page ? u"uploaded"_s : u"checked"_s,
                                        timeText(target.lastAttempt));
        break;
    case Standing::Unverified:
        line += u"uploaded %1, not seen where visitors look"_s.arg(timeText(target.lastAttempt));
        break;
    case Standing::Failed:
        line += u"failed %1"_s.arg(timeText(target.lastAttempt));
        break;
    case Standing::Held:
        line += u"held until the configuration is reloaded"_s;
        break;
    case Standing::Stopped:
        line += u"stopped"_s;
        break;
    }
    if (!target.reason.isEmpty())
        line += u": "_s + target.reason;
    if (target.nextTry.isValid())
        line += u"; next try %1"_s.arg(timeText(target.nextTry));
    return line;
}

} // namespace

StandingCounts countsOf(const PublisherState& state)
{
    QList<TargetStanding> targets;
    for (const PublisherState::Target& target : state.targets)
        targets.append({target.id(), target.standing, {}, {}, {}});
    return StandingCounts::of(targets);
}

QString roundSummary(const PublisherState& state)
{
    QStringList addresses;
    for (const PublisherState::Family& family : state.families)
        if (!family.address.isEmpty())
            addresses << family.address;
    return standingSummary(addresses, countsOf(state));
}

QString statusText(const PublisherState& state, bool running)
{
    QStringList lines;
    if (running)
        lines << u"watch is running (pid %1), started %2"_s.arg(state.pid).arg(
            timeText(state.watchStarted));
    else
        lines << u"no watch is running; its last state, written %1 by pid %2:"_s
                     .arg(timeText(state.written))
                     .arg(state.pid);
    for (const PublisherState::Family& family : state.families) {
        if (family.address.isEmpty())
            lines << u"%1 address: none found"_s.arg(familyLabel(family.family));
        else
            lines << u"%1 address %2 from %3, since %4"_s.arg(
                familyLabel(family.family), family.address, family.source, timeText(family.since));
    }
    for (const PublisherState::Target& target : state.targets)
        lines << targetLine(target);
    for (const PublisherState::Mapping& mapping : state.mappings) {
        QString line = u"port %1 forwarded by %2"_s.arg(mapping.port).arg(mapping.protocol);
        line += mapping.leaseUntil.isValid()
                    ? u", lease until %1"_s.arg(timeText(mapping.leaseUntil))
                    : u", no lease end"_s;
        if (!mapping.note.isEmpty())
            line += u": "_s + mapping.note;
        lines << line;
    }
    // The fields come from a file: a control character in one reaches the terminal as text,
    // and a line break in one starts no line of its own.
    for (QString& line : lines)
        line = printableLine(line);
    return lines.join(u'\n') + u'\n';
}

QString historyText(const PublisherState& state)
{
    if (state.history.isEmpty())
        return u"no address change recorded yet\n"_s;
    QString text;
    for (const PublisherState::Change& change : state.history) {
        QString line = u"%1 %2 "_s.arg(timeText(change.at), familyLabel(change.family));
        line += change.previous.isEmpty() ? u"%1 found"_s.arg(change.address)
                                          : u"%1 → %2"_s.arg(change.previous, change.address);
        line += u" (%1)"_s.arg(change.source);
        // As in statusText: the fields come from a file.
        text += printableLine(line) + u'\n';
    }
    return text;
}

QByteArray historyJson(const PublisherState& state)
{
    const QJsonObject root = QJsonDocument::fromJson(stateToJson(state)).object();
    return QJsonDocument(QJsonObject{{u"history"_s, root.value(u"history"_s)}})
        .toJson(QJsonDocument::Indented);
}

QByteArray statusJson(const PublisherState& state, bool running)
{
    QJsonObject root = QJsonDocument::fromJson(stateToJson(state)).object();
    root.insert(u"running"_s, running);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace quendle
