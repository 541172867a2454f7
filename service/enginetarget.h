#pragma once

#include "service/publishengine.h"

#include <optional>

namespace quendle {

// One target, its session and where it stands.
struct PublishEngine::Target
{
    Target(EnginePlatform& platform, const AnyTarget& settings,
           std::shared_ptr<TargetSession> session, const QString& lane)
        : settings(settings), session(std::move(session)), lane(lane), timer(platform),
          lookTimer(platform)
    {
    }

    QString name() const
    {
        return std::visit([](const auto& particular) { return particular.name; }, settings);
    }

    AnyTarget settings;
    std::shared_ptr<TargetSession> session; // used on the target's worker only
    QString lane;
    EngineTimer timer;    // the next refresh, retry, or upload held back by the spacing
    bool busy = false;    // an upload runs
    bool again = false;   // a newer page waits for the running upload
    bool held = false;    // the login was refused: no upload until a reload
    bool retired = false; // a reload removed or replaced it
    bool done = false;    // `once`, or the way out: its upload has ended
    int failures = 0;     // failed uploads in a row
    std::optional<EnginePlatform::TimePoint> lastStart;
    bool inRound = false; // the round of uploads under way waits for this one
    bool current = false; // its last upload worked
    TargetOutcome::Check check = TargetOutcome::Check::None; // of its last upload
    EngineTimer lookTimer;    // the next look at a page not yet seen where visitors look
    int looks = 0;            // looks since the upload
    PublishRequest published; // what its last upload sent, for the looks
};

} // namespace quendle
