// The state file as `status` reads it (stateFromJson). For any bytes:
// - the reader answers with a state or with a reason, and a reason is one short printable line;
// - a state it accepts has a writer's pid and a time it was written;
// - what it accepts it writes again (stateToJson) to a file it reads as the same state.

#include "fuzz/fuzzcheck.h"
#include "service/publisherstate.h"

#include <algorithm>

using namespace quendle;
using quendle::fuzz::check;

namespace {

// Times are written to the second.
bool sameTime(const QDateTime& a, const QDateTime& b)
{
    return a.isValid() == b.isValid() &&
           (!a.isValid() || a.toSecsSinceEpoch() == b.toSecsSinceEpoch());
}

bool sameState(const PublisherState& a, const PublisherState& b)
{
    if (a.pid != b.pid || a.pidStart != b.pidStart || !sameTime(a.written, b.written) ||
        !sameTime(a.watchStarted, b.watchStarted) || a.families.size() != b.families.size() ||
        a.targets.size() != b.targets.size() || a.mappings.size() != b.mappings.size())
        return false;
    for (qsizetype i = 0; i < a.targets.size(); ++i)
        if (a.targets[i].name != b.targets[i].name || a.targets[i].reason != b.targets[i].reason ||
            a.targets[i].kind != b.targets[i].kind ||
            a.targets[i].standing != b.targets[i].standing ||
            !sameTime(a.targets[i].nextTry, b.targets[i].nextTry))
            return false;
    for (qsizetype i = 0; i < a.mappings.size(); ++i)
        if (a.mappings[i].port != b.mappings[i].port || a.mappings[i].note != b.mappings[i].note)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto read = stateFromJson(json);
    if (const auto* problem = std::get_if<QString>(&read)) {
        check(!problem->isEmpty(), "a reason when there is no state", json);
        check(std::all_of(problem->begin(), problem->end(),
                          [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; }),
              "the reason is printable ASCII", json);
        check(problem->size() < 200, "the reason is short", json);
        return 0;
    }
    const PublisherState& state = std::get<PublisherState>(read);
    check(state.pid > 0, "a writer's pid", json);
    check(state.written.isValid(), "a time it was written", json);
    const auto again = stateFromJson(stateToJson(state));
    check(std::holds_alternative<PublisherState>(again), "what it reads it writes readably", json);
    check(sameState(state, std::get<PublisherState>(again)), "the same state again", json);
    return 0;
}
