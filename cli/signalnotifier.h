#pragma once

#include <QObject>

class QSocketNotifier;

namespace quendle::cli {

// SIGTERM, SIGINT and SIGHUP as events of the main loop (signalfd), so that stopping and
// reloading run as ordinary code on the main thread instead of in a signal handler.
class SignalNotifier : public QObject
{
    Q_OBJECT
public:
    // Blocks the three signals; call before any thread starts, so that every thread inherits the
    // mask and the signals wait for the main loop.
    static void blockHandledSignals();

    explicit SignalNotifier(QObject* parent = nullptr);
    ~SignalNotifier() override;

signals:
    void stopRequested(const QString& signalName);
    void reloadRequested();

private:
    void readSignals();

    int m_descriptor = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace quendle::cli
