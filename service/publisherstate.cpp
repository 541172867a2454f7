#include "service/publisherstate.h"

#include "service/configreader.h"

#include "base/safefile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

namespace quendle {

namespace {

using namespace Qt::Literals::StringLiterals;

// 2: a target row has its kind and standing.
constexpr int kFormat = 2;

QJsonValue timeValue(const QDateTime& time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QDateTime timeFrom(const QJsonValue& value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODate);
}

} // namespace

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
        targets.append(QJsonObject{{u"kind"_s, kindWord(target.kind)},
                                   {u"name"_s, target.name},
                                   {u"standing"_s, standingWord(target.standing)},
                                   {u"last_attempt"_s, timeValue(target.lastAttempt)},
                                   {u"reason"_s, target.reason},
                                   {u"next_try"_s, timeValue(target.nextTry)},
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
                           {u"mappings"_s, mappings}};
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
        const auto kind = kindNamed(object.value(u"kind"_s).toString());
        const auto standing = standingNamed(object.value(u"standing"_s).toString());
        if (!kind || !standing)
            return u"not a state file: a target of no known kind or standing"_s;
        target.kind = *kind;
        target.name = object.value(u"name"_s).toString();
        target.standing = *standing;
        target.lastAttempt = timeFrom(object.value(u"last_attempt"_s));
        target.reason = object.value(u"reason"_s).toString();
        target.nextTry = timeFrom(object.value(u"next_try"_s));
        state.targets.append(target);
    }
    for (const QJsonValue& value : root.value(u"mappings"_s).toArray()) {
        const QJsonObject object = value.toObject();
        state.mappings.append(
            {object.value(u"protocol"_s).toString(), object.value(u"port"_s).toInt(),
             timeFrom(object.value(u"lease_until"_s)), object.value(u"note"_s).toString()});
    }
    return state;
}

std::optional<QString> writeStateFile(const QString& path, const PublisherState& state)
{
    if (const auto folder = makeOwnFolder(QFileInfo(path).absolutePath()); !folder)
        return folder.error();
    PublisherState stamped = state;
    if (!stamped.written.isValid())
        stamped.written = QDateTime::currentDateTimeUtc();
    if (const auto written = replaceFileByRename(path, stateToJson(stamped)); !written)
        return u"the state file %1 could not be written: %2"_s.arg(path, written.error());
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
