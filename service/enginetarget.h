#pragma once

#include "service/publishengine.h"

#include <optional>

namespace quendle {

// One target, its session and where it stands. `standing` and its reason change only through
// PublishEngine::change().
struct PublishEngine::Target
{
    Target(EnginePlatform& platform, const TargetId& id, const AnyTarget& settings,
           std::shared_ptr<TargetSession> session, const QString& lane)
        : settings(settings), session(std::move(session)), lane(lane), timer(platform),
          lookTimer(platform)
    {
        standing.id = id;
    }

    const TargetId& id() const { return standing.id; }
    bool busy() const { return standing.standing == Standing::Working; }

    AnyTarget settings;
    std::shared_ptr<TargetSession> session; // used on the target's lane only
    QString lane;
    TargetStanding standing;
    EngineTimer timer;            // the next refresh, retry, or upload held back by the spacing
    EngineTimer lookTimer;        // the next look at a page not yet seen where visitors look
    bool again = false;           // a newer page waits for the running upload
    bool retired = false;         // a reload removed or replaced it; its last work may still run
    bool inRound = false;         // the round of uploads under way waits for this one
    bool waitingForBatch = false; // goes with the others of its batch key, in a moment
    int failuresInARow = 0;       // failed tries since the last success
    int looks = 0;                // looks since the upload
    PublishRequest published;     // what its last upload sent, for the looks
};

} // namespace quendle
