#include "service/publisherstate.h"

#include "address/ipaddresstext.h"
#include "service/configreader.h"

#include "base/safefile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iterator>

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
    // Times are written to the second: a fraction another writer gave is dropped on reading, so
    // that a time reads the same once written again (before 1970 too, where the seconds since
    // the epoch round the other way).
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODate);
    return time.isValid() ? time.addMSecs(-time.time().msec()) : time;
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
                           {u"mappings"_s, mappings},
                           {u"history"_s, historyValue(state.history)}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

namespace {

// What a field of the state file holds, as stateToJson() writes it.
enum class FieldType {
    Text,
    Number, // a whole number from the field's least to its greatest
    Flag,   // true or false
    Time,   // an ISO 8601 date and time
    TimeOrNull,
    List,
};

struct Field
{
    const char* key;
    FieldType type;
    double least = 0;
    double greatest = 9007199254740992.0; // 2^53: every whole number up to it is exact
};

// The fields of each object in the state file; every one must be there, of its type.
constexpr Field kRootFields[] = {
    {"format", FieldType::Number},    {"pid", FieldType::Number, 1},
    {"pid_start", FieldType::Number}, {"watch_started", FieldType::TimeOrNull},
    {"written", FieldType::Time},     {"addresses", FieldType::List},
    {"targets", FieldType::List},     {"mappings", FieldType::List},
};
constexpr Field kFamilyFields[] = {
    {"family", FieldType::Text},
    {"address", FieldType::Text},
    {"source", FieldType::Text},
    {"since", FieldType::TimeOrNull},
};
constexpr Field kTargetFields[] = {
    {"kind", FieldType::Text},     {"name", FieldType::Text},
    {"standing", FieldType::Text}, {"last_attempt", FieldType::TimeOrNull},
    {"reason", FieldType::Text},   {"next_try", FieldType::TimeOrNull},
    {"current", FieldType::Flag},
};
constexpr Field kMappingFields[] = {
    {"protocol", FieldType::Text},
    {"port", FieldType::Number, 1, 65535},
    {"lease_until", FieldType::TimeOrNull},
    {"note", FieldType::Text},
};

bool isTime(const QJsonValue& value)
{
    return value.isString() && timeFrom(value).isValid();
}

// What is wrong with `object` (shown as `where`) against `fields`, or nothing.
template <std::size_t N>
std::optional<QString> misfit(const QJsonObject& object, const Field (&fields)[N],
                              const QString& where)
{
    for (const Field& field : fields) {
        const QString name = where.isEmpty() ? QString::fromLatin1(field.key)
                                             : where + u'.' + QLatin1String(field.key);
        const auto found = object.find(QLatin1String(field.key));
        if (found == object.end())
            return u"%1 is missing"_s.arg(name);
        const QJsonValue value = *found;
        switch (field.type) {
        case FieldType::Text:
            if (!value.isString())
                return u"%1 is not a string"_s.arg(name);
            break;
        case FieldType::Number:
            if (!value.isDouble() || value.toDouble() != std::floor(value.toDouble()) ||
                value.toDouble() < field.least || value.toDouble() > field.greatest)
                return u"%1 is not a whole number from %2 to %3"_s.arg(name)
                    .arg(static_cast<qint64>(field.least))
                    .arg(static_cast<qint64>(field.greatest));
            break;
        case FieldType::Flag:
            if (!value.isBool())
                return u"%1 is not true or false"_s.arg(name);
            break;
        case FieldType::Time:
            if (!isTime(value))
                return u"%1 is not a time"_s.arg(name);
            break;
        case FieldType::TimeOrNull:
            if (!isTime(value) && !value.isNull())
                return u"%1 is not a time or null"_s.arg(name);
            break;
        case FieldType::List:
            if (!value.isArray())
                return u"%1 is not a list"_s.arg(name);
            break;
        }
    }
    return std::nullopt;
}

// The objects of the list `key` of `root`, each checked against `fields`.
template <std::size_t N>
std::variant<QList<QJsonObject>, QString> objectsOf(const QJsonObject& root, const char* key,
                                                    const Field (&fields)[N])
{
    QList<QJsonObject> objects;
    const QJsonArray list = root.value(QLatin1String(key)).toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString where = u"%1[%2]"_s.arg(QLatin1String(key)).arg(i);
        if (!list[i].isObject())
            return u"%1 is not an object"_s.arg(where);
        if (auto problem = misfit(list[i].toObject(), fields, where))
            return *problem;
        objects << list[i].toObject();
    }
    return objects;
}

constexpr qint64 kLongestStateFile = 1024 * 1024;

} // namespace

std::variant<PublisherState, QString> stateFromJson(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return u"not a state file: %1 at byte %2"_s.arg(error.errorString()).arg(error.offset);
    if (!document.isObject())
        return u"not a state file: its JSON is not an object"_s;
    const QJsonObject root = document.object();
    if (root.value(u"format"_s) != QJsonValue(kFormat))
        return u"a state file of another format"_s;
    const auto wrong = [](const QString& problem) { return u"not a state file: "_s + problem; };
    if (auto problem = misfit(root, kRootFields, {}))
        return wrong(*problem);
    const auto families = objectsOf(root, "addresses", kFamilyFields);
    const auto targets = objectsOf(root, "targets", kTargetFields);
    const auto mappings = objectsOf(root, "mappings", kMappingFields);
    for (const auto* list : {&families, &targets, &mappings})
        if (const auto* problem = std::get_if<QString>(list))
            return wrong(*problem);

    PublisherState state;
    state.pid = root.value(u"pid"_s).toInteger();
    state.pidStart = root.value(u"pid_start"_s).toInteger();
    state.watchStarted = timeFrom(root.value(u"watch_started"_s));
    state.written = timeFrom(root.value(u"written"_s));
    for (const QJsonObject& object : std::get<QList<QJsonObject>>(families))
        state.families.append(
            {object.value(u"family"_s).toString(), object.value(u"address"_s).toString(),
             object.value(u"source"_s).toString(), timeFrom(object.value(u"since"_s))});
    const QList<QJsonObject>& targetObjects = std::get<QList<QJsonObject>>(targets);
    for (qsizetype i = 0; i < targetObjects.size(); ++i) {
        const QJsonObject& object = targetObjects[i];
        PublisherState::Target target;
        const auto kind = kindNamed(object.value(u"kind"_s).toString());
        const auto standing = standingNamed(object.value(u"standing"_s).toString());
        if (!kind)
            return wrong(u"targets[%1].kind is not page or dns"_s.arg(i));
        if (!standing)
            return wrong(u"targets[%1].standing is not one of pending, working, current, "
                         u"unverified, failed, held, stopped"_s.arg(i));
        target.kind = *kind;
        target.name = object.value(u"name"_s).toString();
        target.standing = *standing;
        target.lastAttempt = timeFrom(object.value(u"last_attempt"_s));
        target.reason = object.value(u"reason"_s).toString();
        target.nextTry = timeFrom(object.value(u"next_try"_s));
        state.targets.append(target);
    }
    for (const QJsonObject& object : std::get<QList<QJsonObject>>(mappings))
        state.mappings.append(
            {object.value(u"protocol"_s).toString(), object.value(u"port"_s).toInt(),
             timeFrom(object.value(u"lease_until"_s)), object.value(u"note"_s).toString()});
    auto history = historyFrom(root.value(u"history"_s));
    if (auto* changes = std::get_if<QList<PublisherState::Change>>(&history))
        state.history = std::move(*changes);
    else
        state.historyProblem = std::get<QString>(history);
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
    // Without blocking: opening a FIFO for reading would wait for a writer.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == ENOENT)
        return NoStateFile{};
    if (fd < 0)
        return u"%1: cannot read: %2"_s.arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return u"%1: cannot read: %2"_s.arg(path, file.errorString());
    }
    struct stat facts
    {
    };
    if (::fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode))
        return u"%1: not a state file: not a regular file"_s.arg(path);
    // Read one byte past the bound: a file that grew since fstat() is caught too.
    const QByteArray json = file.read(kLongestStateFile + 1);
    if (facts.st_size > kLongestStateFile || json.size() > kLongestStateFile)
        return u"%1: not a state file: larger than 1 MiB"_s.arg(path);
    auto parsed = stateFromJson(json);
    if (const auto* problem = std::get_if<QString>(&parsed))
        return u"%1: %2"_s.arg(path, *problem);
    return std::get<PublisherState>(parsed);
}

} // namespace quendle
