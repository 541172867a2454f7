#include "cli/signalnotifier.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace quendle::cli {

namespace {

sigset_t handledSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

void SignalNotifier::blockHandledSignals()
{
    const sigset_t set = handledSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalNotifier::SignalNotifier(QObject* parent) : QObject(parent)
{
    const sigset_t set = handledSignals();
    m_descriptor = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_descriptor < 0)
        return;
    m_notifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalNotifier::readSignals);
}

SignalNotifier::~SignalNotifier()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

void SignalNotifier::readSignals()
{
    signalfd_siginfo info{};
    while (::read(m_descriptor, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGHUP)
            emit reloadRequested();
        else
            emit stopRequested(info.ssi_signo == SIGINT ? QStringLiteral("SIGINT")
                                                        : QStringLiteral("SIGTERM"));
    }
}

} // namespace quendle::cli
