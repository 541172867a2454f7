#pragma once

#include "service/addresslookup.h"
#include "service/publishersettings.h"
#include "service/targetpublisher.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <map>
#include <memory>

class QSocketNotifier;

namespace quendle {
class AddressChangeMonitor;
}

namespace quendle::cli {

class PortForwarding;
class SerialWorker;

// `watch`: keeps the page on every target current until stopped. Runs on the main thread's event
// loop; address checks and each target's uploads run on workers of their own, and their results
// come back here as queued calls. Ends the application with the exit status.
class WatchLoop : public QObject
{
    Q_OBJECT
public:
    WatchLoop(const PublisherSettings& settings, QObject* parent = nullptr);
    ~WatchLoop() override;

    void start();

private:
    struct Target;

    void addTarget(const TargetSettings& settings);
    void requestCheck(bool publishAnyway);
    void takeAnswers(const QList<NamedAnswer>& answers, bool publishAnyway);
    void publishTo(Target& target);
    void takeOutcome(Target* target, const TargetOutcome& outcome);
    void retire(std::unique_ptr<Target> target);
    void reload();
    void stop(const QString& signalName);
    void takeOfflineOutcome(Target* target, const TargetOutcome& outcome);
    void stopTaskDone();
    void readKernelNotices();

    PublisherSettings m_settings;
    std::map<QString, std::unique_ptr<Target>> m_targets;
    std::map<Target*, std::unique_ptr<Target>> m_retiring;

    std::unique_ptr<SerialWorker> m_addressWorker;
    std::atomic<bool> m_cancelChecks{false};
    bool m_checking = false;
    bool m_checkAgain = false;
    bool m_publishAnyway = false;
    QString m_address;        // published, or about to be
    QString m_interfaceInUse; // whose kernel notices matter; empty: every interface
    QString m_lastCheckFailure;
    QTimer m_checkTimer;
    QTimer m_noticeDelay; // gathers the burst of notices one change makes

    std::unique_ptr<AddressChangeMonitor> m_monitor;
    QSocketNotifier* m_monitorNotifier = nullptr;

    PortForwarding* m_forwarding = nullptr;

    bool m_stopping = false;
    int m_stopPending = 0; // offline uploads and the removal of port mappings
    int m_offlineFailures = 0;
};

} // namespace quendle::cli
