#include "service/publisherstate.h"

#include "address/ipaddresstext.h"
#include "service/configreader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

#include <unistd.h>

namespace quendle {

namespace {

using namespace Qt::Literals::StringLiterals;

constexpr int kFormat = 1;

QJsonValue timeValue(const QDateTime& time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QDateTime timeFrom(const QJsonValue& value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODate);
}

const QString kResults[] = {u"pending"_s, u"uploaded"_s, u"failed"_s};

QJsonValue verificationValue(PublisherState::Verification verification)
{
    switch (verification) {
    case PublisherState::Verification::Verified:
        return true;
    case PublisherState::Verification::Unverified:
        return false;
    case PublisherState::Verification::NotChecked:
        break;
    }
    return QJsonValue();
}

PublisherState::Verification verificationFrom(const QJsonValue& value)
{
    if (!value.isBool())
        return PublisherState::Verification::NotChecked;
    return value.toBool() ? PublisherState::Verification::Verified
                          : PublisherState::Verification::Unverified;
}

QJsonArray historyValue(const QList<PublisherState::Change>& history)
{
    QJsonArray changes;
    for (const PublisherState::Change& change : history)
        changes.append(QJsonObject{{u"time"_s, timeValue(change.at)},
                                   {u"family"_s, change.family},
                                   {u"old"_s, change.previous},
                                   {u"new"_s, change.address},
                                   {u"source"_s, change.source}});
    return changes;
}

// The history as the file holds it, every field checked: a history written by another program,
// or damaged, is not taken in part.
std::variant<QList<PublisherState::Change>, QString> historyFrom(const QJsonValue& value)
{
    QList<PublisherState::Change> history;
    if (value.isUndefined())
        return history; // a state file from before the history
    if (!value.isArray())
        return u"\"history\" is not a list"_s;
    const QJsonArray changes = value.toArray();
    for (qsizetype i = 0; i < changes.size(); ++i) {
        const QString which = u"change %1 of the history"_s.arg(i + 1);
        const QJsonObject object = changes[i].toObject();
        for (const QString& key : {u"time"_s, u"family"_s, u"old"_s, u"new"_s, u"source"_s})
            if (!object.value(key).isString())
                return u"%1: \"%2\" is missing or not text"_s.arg(which, key);
        PublisherState::Change change{
            timeFrom(object.value(u"time"_s)), object.value(u"family"_s).toString(),
            object.value(u"old"_s).toString(), object.value(u"new"_s).toString(),
            object.value(u"source"_s).toString()};
        if (!change.at.isValid())
            return u"%1: \"time\" is not a time"_s.arg(which);
        if (change.family != "ipv4"_L1 && change.family != "ipv6"_L1)
            return u"%1: \"family\" is neither ipv4 nor ipv6"_s.arg(which);
        const AddressFamily family =
            change.family == "ipv6"_L1 ? AddressFamily::Ipv6 : AddressFamily::Ipv4;
        const auto isAddress = [family](const QString& text) {
            const Expected<QString> canonical = canonicalAddress(text, family);
            return canonical && *canonical == text;
        };
        if (!isAddress(change.address) ||
            (!change.previous.isEmpty() && !isAddress(change.previous)))
            return u"%1: \"old\" or \"new\" is not an %2 address"_s.arg(which, familyName(family));
        history.append(change);
    }
    return history;
}

} // namespace

void recordAddressChange(PublisherState& state, PublisherState::Change change)
{
    QList<PublisherState::Change>& history = state.history;
    const auto last = std::find_if(history.cbegin(), history.cend(), [&](const auto& known) {
        return known.family == change.family;
    });
    if (last != history.cend()) {
        if (last->address == change.address)
            return;
        if (change.previous.isEmpty())
            change.previous = last->address;
    }
    history.prepend(change);
    int kept = 0;
    history.removeIf([&](const PublisherState::Change& known) {
        return known.family == change.family && ++kept > PublisherState::kChangesKept;
    });
}

bool PublisherState::everyTargetCurrent() const
{
    for (const Target& target : targets)
        if (!target.current())
            return false;
    return true;
}

QString defaultStatePath()
{
    // The page file's folder, so that both follow XDG_STATE_HOME alike.
    return QFileInfo(defaultPageFile()).absolutePath() + u"/state.json"_s;
}

std::optional<qint64> processStartTime(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    // "PID (COMMAND) STATE ...": the command may hold blanks and parentheses, so the fields are
    // counted from the last ")". The start time is field 22, the 20th after it.
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return std::nullopt;
    bool ok = false;
    const qint64 start = fields[19].toLongLong(&ok);
    return ok ? std::optional<qint64>(start) : std::nullopt;
}

PublisherState stateOfThisProcess(const QDateTime& watchStarted)
{
    PublisherState state;
    state.pid = ::getpid();
    state.pidStart = processStartTime(state.pid).value_or(0);
    state.watchStarted = watchStarted;
    return state;
}

bool writerRuns(const PublisherState& state)
{
    const std::optional<qint64> start = processStartTime(state.pid);
    return start && *start == state.pidStart;
}

QByteArray stateToJson(const PublisherState& state)
{
    QJsonArray families;
    for (const PublisherState::Family& family : state.families)
        families.append(QJsonObject{{u"family"_s, family.family},
                                    {u"address"_s, family.address},
                                    {u"source"_s, family.source},
                                    {u"since"_s, timeValue(family.since)}});
    QJsonArray targets;
    for (const PublisherState::Target& target : state.targets)
        targets.append(QJsonObject{{u"name"_s, target.name},
                                   {u"last_attempt"_s, timeValue(target.lastAttempt)},
                                   {u"result"_s, kResults[static_cast<int>(target.result)]},
                                   {u"reason"_s, target.reason},
                                   {u"verified"_s, verificationValue(target.verification)},
                                   {u"next_retry"_s, timeValue(target.nextRetry)},
                                   {u"current"_s, target.current()}});
    QJsonArray mappings;
    for (const PublisherState::Mapping& mapping : state.mappings)
        mappings.append(QJsonObject{{u"protocol"_s, mapping.protocol},
                                    {u"port"_s, mapping.port},
                                    {u"lease_until"_s, timeValue(mapping.leaseUntil)},
                                    {u"note"_s, mapping.note}});
    const QJsonObject root{{u"format"_s, kFormat},
                           {u"pid"_s, state.pid},
                           {u"pid_start"_s, state.pidStart},
                           {u"watch_started"_s, timeValue(state.watchStarted)},
                           {u"written"_s, timeValue(state.written)},
                           {u"addresses"_s, families},
                           {u"targets"_s, targets},
                           {u"mappings"_s, mappings},
                           {u"history"_s, historyValue(state.history)}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::variant<PublisherState, QString> stateFromJson(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (!document.isObject())
        return u"not a state file: %1"_s.arg(error.errorString());
    const QJsonObject root = document.object();
    if (root.value(u"format"_s).toInt() != kFormat)
        return u"a state file of another format"_s;
    PublisherState state;
    state.pid = root.value(u"pid"_s).toInteger();
    state.pidStart = root.value(u"pid_start"_s).toInteger();
    state.watchStarted = timeFrom(root.value(u"watch_started"_s));
    state.written = timeFrom(root.value(u"written"_s));
    for (const QJsonValue& value : root.value(u"addresses"_s).toArray()) {
        const QJsonObject object = value.toObject();
        state.families.append(
            {object.value(u"family"_s).toString(), object.value(u"address"_s).toString(),
             object.value(u"source"_s).toString(), timeFrom(object.value(u"since"_s))});
    }
    for (const QJsonValue& value : root.value(u"targets"_s).toArray()) {
        const QJsonObject object = value.toObject();
        PublisherState::Target target;
        target.name = object.value(u"name"_s).toString();
        target.lastAttempt = timeFrom(object.value(u"last_attempt"_s));
        const QString result = object.value(u"result"_s).toString();
        for (int i = 0; i < 3; ++i)
            if (result == kResults[i])
                target.result = static_cast<PublisherState::Result>(i);
        target.reason = object.value(u"reason"_s).toString();
        target.verification = verificationFrom(object.value(u"verified"_s));
        target.nextRetry = timeFrom(object.value(u"next_retry"_s));
        state.targets.append(target);
    }
    for (const QJsonValue& value : root.value(u"mappings"_s).toArray()) {
        const QJsonObject object = value.toObject();
        state.mappings.append(
            {object.value(u"protocol"_s).toString(), object.value(u"port"_s).toInt(),
             timeFrom(object.value(u"lease_until"_s)), object.value(u"note"_s).toString()});
    }
    auto history = historyFrom(root.value(u"history"_s));
    if (auto* changes = std::get_if<QList<PublisherState::Change>>(&history))
        state.history = std::move(*changes);
    else
        state.historyProblem = std::get<QString>(history);
    return state;
}

std::optional<QString> writeStateFile(const QString& path, const PublisherState& state)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return u"the folder of the state file could not be made: %1"_s.arg(folder);
    PublisherState stamped = state;
    if (!stamped.written.isValid())
        stamped.written = QDateTime::currentDateTimeUtc();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(stateToJson(stamped)) < 0 || !file.commit())
        return u"the state file %1 could not be written: %2"_s.arg(path, file.errorString());
    return std::nullopt;
}

std::variant<PublisherState, NoStateFile, QString> readStateFile(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return NoStateFile{};
    if (!file.open(QIODevice::ReadOnly))
        return u"%1: cannot read: %2"_s.arg(path, file.errorString());
    auto parsed = stateFromJson(file.read(1024 * 1024));
    if (const auto* problem = std::get_if<QString>(&parsed))
        return u"%1: %2"_s.arg(path, *problem);
    return std::get<PublisherState>(parsed);
}

} // namespace quendle
