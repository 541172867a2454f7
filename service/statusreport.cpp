#include "service/statusreport.h"

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
    using Result = PublisherState::Result;
    using Verification = PublisherState::Verification;
    QString line = u"target %1: "_s.arg(target.name);
    if (target.result == Result::Pending)
        line += u"not yet published"_s;
    else
        line += u"%1 %2"_s.arg(target.result == Result::Uploaded ? u"uploaded"_s : u"failed"_s,
                               timeText(target.lastAttempt));
    if (target.result == Result::Uploaded && target.verification == Verification::Verified)
        line += u", verified"_s;
    if (target.result == Result::Uploaded && target.verification == Verification::Unverified)
        line += u", not verified"_s;
    if (!target.reason.isEmpty())
        line += u": "_s + target.reason;
    if (target.nextRetry.isValid())
        line += u"; next try %1"_s.arg(timeText(target.nextRetry));
    return line;
}

} // namespace

QString roundSummary(const PublisherState& state)
{
    QStringList addresses;
    for (const PublisherState::Family& family : state.families)
        if (!family.address.isEmpty())
            addresses << family.address;
    qsizetype current = 0;
    qsizetype verified = 0;
    qsizetype unverified = 0;
    for (const PublisherState::Target& target : state.targets) {
        current += target.current() ? 1 : 0;
        verified +=
            target.current() && target.verification == PublisherState::Verification::Verified ? 1
                                                                                              : 0;
        unverified += target.result == PublisherState::Result::Uploaded &&
                              target.verification == PublisherState::Verification::Unverified
                          ? 1
                          : 0;
    }
    const qsizetype total = state.targets.size();
    QString line = addresses.isEmpty() ? u"no address found"_s
                                       : u"%1 on %2 of %3 %4"_s.arg(addresses.join(u" and "_s))
                                             .arg(current)
                                             .arg(total)
                                             .arg(total == 1 ? u"target"_s : u"targets"_s);
    if (addresses.isEmpty())
        return line;
    if (unverified > 0)
        line += u", %1 not verified"_s.arg(unverified);
    else if (verified > 0)
        line += u", verified"_s;
    return line;
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
    return lines.join(u'\n') + u'\n';
}

QString historyText(const PublisherState& state)
{
    if (state.history.isEmpty())
        return u"no address change recorded yet\n"_s;
    QString text;
    for (const PublisherState::Change& change : state.history) {
        text += u"%1 %2 "_s.arg(timeText(change.at), familyLabel(change.family));
        text += change.previous.isEmpty() ? u"%1 found"_s.arg(change.address)
                                          : u"%1 → %2"_s.arg(change.previous, change.address);
        text += u" (%1)\n"_s.arg(change.source);
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
