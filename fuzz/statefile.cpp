// The state file as `status` reads it (stateFromJson). For any bytes:
// - the reader answers with a state or with a reason, and a reason is one short printable line;
// - a state it accepts has a writer's pid and a time it was written;
// - what it accepts it writes again (stateToJson) to a file it reads as the same state.

#include "fuzz/fuzzcheck.h"
#include "service/publisherstate.h"

#include <algorithm>

using namespace quendle;
using quendle::fuzz::check;

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
    // Every field, the history and what a later version adds among them, written the same again.
    check(stateToJson(std::get<PublisherState>(again)) == stateToJson(state),
          "the same state again", json);
    return 0;
}
