// The engine's upkeep of the router's port mappings, and its way out.

#include "service/enginetarget.h"
#include "service/publishengine.h"

namespace quendle {

using namespace std::chrono_literals;

void PublishEngine::keepPorts(const router::RouterOptions& options)
{
    if (m_ports && options == m_portOptions)
        return;
    if (m_ports)
        run(QStringLiteral("router"), [this, keeper = m_ports] {
            const auto notes = keeper->removeAll();
            return [this, notes] { m_events.report(events::PortsNoted{notes}); };
        });
    m_portOptions = options;
    m_ports.reset();
    m_portTimer.stop();
    if (options.forwardPorts.isEmpty())
        return;
    m_ports = m_work.openPortKeeper(options);
    m_portsBusy = false; // a round of the previous keeper still running holds up no round of this
    if (!m_published.addressOf(AddressFamily::Ipv6).isEmpty())
        openPinholes();
    else
        lookAfterPorts();
}

void PublishEngine::openPinholes()
{
    // The pinholes follow the published IPv6 address: told first, then looked after at once.
    run(QStringLiteral("router"),
        [keeper = m_ports, address = m_published.addressOf(AddressFamily::Ipv6)] {
            keeper->setIpv6Address(address);
            return [] {};
        });
    lookAfterPorts();
}

void PublishEngine::lookAfterPorts()
{
    // Renewals and a restarted router are looked after at every check.
    m_portTimer.start(checkInterval(), [this] { lookAfterPorts(); });
    if (m_portsBusy || !m_ports)
        return;
    m_portsBusy = true;
    run(QStringLiteral("router"), [this, keeper = m_ports] {
        const auto notes = keeper->keep();
        return [this, notes] {
            m_portsBusy = false;
            m_events.report(events::PortsNoted{notes});
        };
    });
}

void PublishEngine::stop(const QString& why)
{
    if (stopping())
        return;
    if (m_mode == Mode::Idle) // `offline`: nothing ran before
        addTargets();
    m_mode = Mode::Stop;
    m_cancelChecks->store(true);
    m_checkTimer.stop();
    m_noticeTimer.stop();
    m_batchTimer.stop();
    m_portTimer.stop();
    m_aliveTimer.stop();
    m_events.report(events::Stopping{why});

    m_stopPending = 1; // until every task below is under way
    // The port mappings go whether or not the offline page can be published.
    if (m_ports) {
        ++m_stopPending;
        run(QStringLiteral("router"), [this, keeper = m_ports] {
            const auto notes = keeper->removeAll();
            return [this, notes] {
                m_events.report(events::PortsNoted{notes});
                stopTaskDone();
            };
        });
        m_ports.reset();
    }
    for (auto& entry : m_targets) {
        entry.second->timer.stop();
        entry.second->lookTimer.stop();
    }
    if (const auto written = m_work.writeOfflinePage(m_settings); !written) {
        m_events.report(events::PageNotWritten{written.error()});
        m_offlinePageFailed = true;
    } else {
        for (auto& entry : m_targets) {
            // A variable of its own, not a structured binding: the job below captures it.
            const std::shared_ptr<Target> target = entry.second;
            if (!target->session->takesOfflinePage())
                continue; // a name keeps its record and its standing
            if (target->standing.standing == Standing::Held) {
                m_events.report(events::OfflineSkipped{target->id()});
                continue;
            }
            ++m_stopPending;
            change(*target, Standing::Working, {{}, {}, {}, true});
            const PublishRequest request{m_settings.page.file, m_published, true, m_platform.now()};
            run(target->lane, [this, target, session = target->session, request] {
                const TargetOutcome outcome = session->publish(request);
                session->logOut();
                return [this, target, outcome] {
                    m_events.report(events::WorkEnded{target->id(), outcome, true});
                    change(*target, Standing::Stopped,
                           {outcome.ok() ? QString() : outcome.reason(), {}, outcome, true});
                    stopTaskDone();
                };
            });
        }
    }
    m_stopBound.start(kStopBound, [this] {
        QList<TargetId> unfinished;
        // Names get no offline page: one still busy is not what the way out waits for.
        for (const auto& [id, target] : m_targets)
            if (target->busy() && target->session->takesOfflinePage())
                unfinished << id;
        finish(1, unfinished);
    });
    // Never before returning: the caller may not be listening yet.
    m_platform.startTimer(0ms, [alive = std::weak_ptr<bool>(m_alive), this] {
        if (alive.lock())
            stopTaskDone();
    });
}

void PublishEngine::stopTaskDone()
{
    if (--m_stopPending > 0)
        return;
    // Every page target got the offline page, or the way out failed somewhere.
    bool failed = m_offlinePageFailed;
    for (const auto& [id, target] : m_targets)
        if (target->session->takesOfflinePage())
            failed = failed || target->standing.standing != Standing::Stopped ||
                     !target->standing.reason.isEmpty();
    finish(failed ? 1 : 0);
}

void PublishEngine::finish(int exitStatus, const QList<TargetId>& unfinished)
{
    if (m_finished)
        return;
    m_finished = true;
    m_stopBound.stop();
    m_events.report(events::Stopped{exitStatus, unfinished});
}

} // namespace quendle
