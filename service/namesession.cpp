#include "service/namesession.h"

namespace quendle {

bool ResendGuard::maySend(AddressFamily family, const QString& address, TimePoint now) const
{
    const auto last = m_sent.find(family);
    return last == m_sent.end() || last->second.address != address ||
           now - last->second.at >= kQuietTime;
}

void ResendGuard::sent(AddressFamily family, const QString& address, TimePoint now)
{
    m_sent[family] = {address, now};
}

NameSession::NameSession(const DnsTargetSettings& settings, std::shared_ptr<NameBatch> batch)
    : m_keeper(settings), m_batch(std::move(batch)),
      m_batchKey(m_batch ? nameBatchKey(settings) : QString())
{
}

NameAddresses NameSession::choose(const PublishRequest& request)
{
    // Each family this name holds; the records of the others are left alone. A note is said once.
    NameAddresses chosen = nameAddresses(m_keeper.settings(), request.addresses);
    QStringList unsaid;
    for (const QString& note : chosen.notes)
        if (!m_said.contains(note)) {
            m_said.insert(note);
            unsaid << note;
        }
    chosen.notes = unsaid;
    return chosen;
}

TargetOutcome NameSession::publish(const PublishRequest& request)
{
    const NameAddresses chosen = choose(request);
    for (const NameAddress& found : chosen.records)
        m_keeper.expect(found.family, found.address);
    NameOutcome outcome;
    outcome.notes = chosen.notes;
    for (const NameAddress& found : chosen.records) {
        const bool maySend = m_guard.maySend(found.family, found.address, request.now);
        const DnsOutcome done = m_keeper.publish(found.family, found.address, maySend);
        if (done.sent)
            m_guard.sent(found.family, found.address, request.now);
        outcome.records << done;
    }
    return outcome;
}

std::vector<TargetOutcome> NameSession::publishTogether(const std::vector<TargetSession*>& all,
                                                        const PublishRequest& request)
{
    if (!m_batch)
        return TargetSession::publishTogether(all, request);
    // Every record of every name in one batch: one UPDATE for all that must change.
    QList<WantedRecord> wanted;
    std::vector<NameSession*> owners;
    std::map<NameSession*, NameAddresses> chosen;
    for (TargetSession* session : all) {
        auto* name = static_cast<NameSession*>(session); // one batch key: all names
        chosen[name] = name->choose(request);
        for (const NameAddress& found : chosen[name].records) {
            wanted << WantedRecord{name->m_keeper.settings(), found.family, found.address,
                                   name->m_guard.maySend(found.family, found.address, request.now)};
            owners.push_back(name);
        }
    }
    const QList<DnsOutcome> done = m_batch->publish(wanted);
    std::map<NameSession*, NameOutcome> outcomes;
    for (auto& [name, addresses] : chosen) {
        outcomes[name].notes = addresses.notes;
        outcomes[name].together = true;
    }
    for (qsizetype i = 0; i < done.size(); ++i) {
        if (done[i].sent)
            owners[i]->m_guard.sent(wanted[i].family, wanted[i].address, request.now);
        outcomes[owners[i]].records << done[i];
    }
    std::vector<TargetOutcome> inOrder;
    for (TargetSession* session : all)
        inOrder.push_back(outcomes[static_cast<NameSession*>(session)]);
    return inOrder;
}

} // namespace quendle
