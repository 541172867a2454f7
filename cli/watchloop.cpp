#include "cli/watchloop.h"

#include "address/addresschangemonitor.h"
#include "cli/logger.h"
#include "cli/portforwarding.h"
#include "cli/serialworker.h"
#include "cli/signalnotifier.h"
#include "service/configreader.h"
#include "service/pagewriter.h"
#include "service/retryschedule.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <chrono>

#include <unistd.h>

namespace quendle::cli {

namespace {

using namespace std::chrono_literals;

// Long enough to gather the notices of one change (the old address goes, the new one comes).
constexpr auto kNoticeDelay = 150ms;

QString seconds(std::chrono::milliseconds delay)
{
    return QString::number(static_cast<double>(delay.count()) / 1000.0, 'g', 4);
}

std::chrono::milliseconds checkInterval(const PublisherSettings& settings)
{
    return std::chrono::milliseconds(static_cast<long long>(settings.address.checkSeconds * 1000));
}

QString failureText(const QList<NamedAnswer>& answers)
{
    QStringList parts;
    for (const NamedAnswer& named : answers)
        parts << QStringLiteral("%1: %2").arg(named.source, named.answer.error);
    return parts.join(QStringLiteral("; "));
}

} // namespace

// One server, its login kept by the publisher, its uploads run on a worker of its own.
struct WatchLoop::Target
{
    explicit Target(const TargetSettings& settings)
        : publisher(std::make_shared<TargetPublisher>(settings))
    {
        timer.setSingleShot(true);
    }

    QString name() const { return publisher->settings().name; }

    std::shared_ptr<TargetPublisher> publisher; // used on the worker only
    QTimer timer;                               // the next refresh or retry
    bool busy = false;                          // an upload runs
    bool again = false;                         // a newer page waits for the running upload
    int failures = 0;                           // failed uploads in a row
    // Last, so that it is destroyed first: its thread ends before anything it uses goes.
    std::unique_ptr<SerialWorker> worker = std::make_unique<SerialWorker>();
};

WatchLoop::WatchLoop(const PublisherSettings& settings, QObject* parent)
    : QObject(parent), m_settings(settings)
{
    m_checkTimer.callOnTimeout(this, [this] { requestCheck(false); });
    m_noticeDelay.setSingleShot(true);
    m_noticeDelay.callOnTimeout(this, [this] {
        logger::debug(QStringLiteral("the kernel reported an address change: checking now"));
        requestCheck(false);
    });
}

WatchLoop::~WatchLoop()
{
    // The workers end before this object does: their last results are queued to it.
    m_cancelChecks = true;
    m_addressWorker.reset();
    m_targets.clear();
    m_retiring.clear();
}

void WatchLoop::start()
{
    auto* signalNotifier = new SignalNotifier(this);
    connect(signalNotifier, &SignalNotifier::stopRequested, this, &WatchLoop::stop);
    connect(signalNotifier, &SignalNotifier::reloadRequested, this, &WatchLoop::reload);
    m_addressWorker = std::make_unique<SerialWorker>();
    for (const TargetSettings& target : m_settings.targets)
        addTarget(target);

    m_monitor = std::make_unique<AddressChangeMonitor>();
    if (m_monitor->listening()) {
        m_monitorNotifier = new QSocketNotifier(m_monitor->socket(), QSocketNotifier::Read, this);
        connect(m_monitorNotifier, &QSocketNotifier::activated, this,
                &WatchLoop::readKernelNotices);
    } else {
        logger::warning(QStringLiteral("kernel address notices unavailable (%1): changes are "
                                       "seen at the next check only")
                            .arg(m_monitor->error()));
    }

    m_forwarding = new PortForwarding(this);
    m_forwarding->keep(m_settings.router, checkInterval(m_settings));

    m_checkTimer.start(checkInterval(m_settings));
    requestCheck(true);
}

void WatchLoop::addTarget(const TargetSettings& settings)
{
    auto target = std::make_unique<Target>(settings);
    Target* raw = target.get();
    target->timer.callOnTimeout(this, [this, raw] { publishTo(*raw); });
    m_targets[settings.name] = std::move(target);
}

void WatchLoop::readKernelNotices()
{
    if (m_monitor->readChanges(m_interfaceInUse) && !m_stopping)
        m_noticeDelay.start(kNoticeDelay);
}

void WatchLoop::requestCheck(bool publishAnyway)
{
    if (m_stopping)
        return;
    m_publishAnyway = m_publishAnyway || publishAnyway;
    if (m_checking) {
        m_checkAgain = true;
        return;
    }
    m_checking = true;
    m_checkAgain = false;
    const bool anyway = m_publishAnyway;
    m_publishAnyway = false;
    m_addressWorker->post([this, settings = m_settings, anyway] {
        const QList<NamedAnswer> answers = askSources(settings, false, &m_cancelChecks);
        QMetaObject::invokeMethod(
            this, [this, answers, anyway] { takeAnswers(answers, anyway); }, Qt::QueuedConnection);
    });
}

void WatchLoop::takeAnswers(const QList<NamedAnswer>& answers, bool publishAnyway)
{
    m_checking = false;
    if (m_stopping)
        return;
    const NamedAnswer* found = nullptr;
    for (const NamedAnswer& named : answers) {
        if (named.answer.ok())
            found = &named;
        else
            logger::debug(QStringLiteral("source %1: %2").arg(named.source, named.answer.error));
    }
    // The notices that matter are those of the interface the answer came from; without an
    // answer, those of the first interface a source named (empty: every interface).
    m_interfaceInUse.clear();
    if (found)
        m_interfaceInUse = found->answer.interfaceName;
    for (const NamedAnswer& named : answers)
        if (m_interfaceInUse.isEmpty())
            m_interfaceInUse = named.answer.interfaceName;

    if (!found) {
        // The page already published stays online; the next check tries again.
        const QString failure = failureText(answers);
        if (failure != m_lastCheckFailure)
            logger::warning(QStringLiteral("address not found: %1").arg(failure));
        else
            logger::debug(QStringLiteral("address still not found: %1").arg(failure));
        m_lastCheckFailure = failure;
    } else {
        m_lastCheckFailure.clear();
        const QString& address = found->answer.address;
        logger::debug(QStringLiteral("source %1 answered %2 (%3)")
                          .arg(found->source, address, found->answer.origin));
        if (address != m_address || publishAnyway) {
            if (m_address.isEmpty())
                logger::info(QStringLiteral("address %1 found by %2 (%3)")
                                 .arg(address, found->source, found->answer.origin));
            else if (address != m_address)
                logger::info(QStringLiteral("address changed: %1 → %2 (%3)")
                                 .arg(m_address, address, found->source));
            if (const auto error = writeOnlinePage(m_settings, address)) {
                logger::error(*error);
            } else {
                m_address = address;
                for (auto& [name, target] : m_targets)
                    publishTo(*target);
            }
        }
    }
    if (m_checkAgain)
        requestCheck(false);
}

void WatchLoop::publishTo(Target& target)
{
    if (m_stopping)
        return;
    if (target.busy) {
        target.again = true;
        return;
    }
    target.timer.stop();
    target.again = false;
    target.busy = true;
    logger::debug(QStringLiteral("%1: uploading").arg(target.name()));
    Target* raw = &target;
    target.worker->post([this, raw, publisher = target.publisher, page = m_settings.page.file] {
        const TargetOutcome outcome = publisher->publish(page);
        QMetaObject::invokeMethod(
            this, [this, raw, outcome] { takeOutcome(raw, outcome); }, Qt::QueuedConnection);
    });
}

void WatchLoop::takeOutcome(Target* target, const TargetOutcome& outcome)
{
    target->busy = false;
    if (outcome.loggedIn)
        logger::debug(QStringLiteral("%1: logged in").arg(target->name()));
    if (outcome.ok) {
        logger::info(QStringLiteral("%1: page uploaded (%2 bytes, %3 ms)")
                         .arg(target->name())
                         .arg(outcome.bytes)
                         .arg(outcome.milliseconds));
        target->failures = 0;
    } else {
        logger::error(
            QStringLiteral("%1: %2: %3").arg(target->name(), outcome.reason, outcome.details));
        ++target->failures;
    }
    if (m_stopping || m_retiring.count(target))
        return;
    if (target->again)
        return publishTo(*target);
    if (!outcome.ok) {
        const auto delay = retryDelay(target->failures, m_settings.refreshMinutes);
        logger::info(QStringLiteral("%1: next try in %2 s").arg(target->name(), seconds(delay)));
        target->timer.start(delay);
    } else if (const auto refresh = refreshInterval(m_settings.refreshMinutes); refresh.count()) {
        target->timer.start(refresh);
    }
}

void WatchLoop::retire(std::unique_ptr<Target> target)
{
    target->timer.stop();
    Target* raw = target.get();
    raw->worker->post([this, raw, publisher = raw->publisher] {
        publisher->logOut();
        QMetaObject::invokeMethod(
            this, [this, raw] { m_retiring.erase(raw); }, Qt::QueuedConnection);
    });
    m_retiring[raw] = std::move(target);
}

void WatchLoop::reload()
{
    if (m_stopping)
        return;
    const auto read = readSettings(m_settings.configFile);
    if (const auto* errors = std::get_if<ConfigErrors>(&read)) {
        for (const QString& message : errors->messages)
            logger::error(message);
        logger::error(QStringLiteral("the configuration was not reloaded; the previous one stays"));
        return;
    }
    m_settings = std::get<PublisherSettings>(read);
    logger::info(QStringLiteral("configuration reloaded from %1").arg(m_settings.configFile));

    // A target whose settings did not change keeps its login.
    std::map<QString, std::unique_ptr<Target>> old;
    old.swap(m_targets);
    for (const TargetSettings& settings : m_settings.targets) {
        const auto kept = old.find(settings.name);
        if (kept != old.end() && kept->second->publisher->settings() == settings) {
            m_targets[settings.name] = std::move(kept->second);
            old.erase(kept);
        } else {
            addTarget(settings);
        }
    }
    for (auto& [name, target] : old)
        retire(std::move(target));

    m_forwarding->keep(m_settings.router, checkInterval(m_settings));
    m_checkTimer.start(checkInterval(m_settings));
    requestCheck(true);
}

void WatchLoop::stop(const QString& signalName)
{
    if (m_stopping) {
        logger::warning(QStringLiteral("%1 again: stopping without waiting").arg(signalName));
        ::_exit(1);
    }
    m_stopping = true;
    m_cancelChecks = true;
    m_checkTimer.stop();
    m_noticeDelay.stop();
    if (m_monitorNotifier)
        m_monitorNotifier->setEnabled(false);
    logger::info(QStringLiteral("%1: publishing the offline page").arg(signalName));
    // The port mappings go whether or not the offline page can be published.
    m_stopPending = 1;
    m_forwarding->stop([this] { stopTaskDone(); });
    if (const auto error = writeOfflinePage(m_settings)) {
        logger::error(*error);
        ++m_offlineFailures;
        return;
    }
    m_stopPending += static_cast<int>(m_targets.size());
    for (auto& [name, target] : m_targets) {
        target->timer.stop();
        Target* raw = target.get();
        target->worker->post(
            [this, raw, publisher = target->publisher, page = m_settings.page.file] {
                const TargetOutcome outcome = publisher->publish(page);
                publisher->logOut();
                QMetaObject::invokeMethod(
                    this, [this, raw, outcome] { takeOfflineOutcome(raw, outcome); },
                    Qt::QueuedConnection);
            });
    }
}

void WatchLoop::takeOfflineOutcome(Target* target, const TargetOutcome& outcome)
{
    if (outcome.ok) {
        logger::info(QStringLiteral("%1: offline page published (%2 bytes, %3 ms)")
                         .arg(target->name())
                         .arg(outcome.bytes)
                         .arg(outcome.milliseconds));
    } else {
        logger::error(QStringLiteral("%1: the offline page was not published: %2: %3")
                          .arg(target->name(), outcome.reason, outcome.details));
        ++m_offlineFailures;
    }
    stopTaskDone();
}

void WatchLoop::stopTaskDone()
{
    if (--m_stopPending == 0)
        QCoreApplication::exit(m_offlineFailures == 0 ? 0 : 1);
}

} // namespace quendle::cli
