#include "cli/reportcommands.h"

#include "cli/logger.h"
#include "service/notification.h"
#include "service/publisherstate.h"
#include "service/secretregistry.h"
#include "service/statusreport.h"

#include <QSysInfo>
#include <QTextStream>

namespace quendle::cli {

namespace {

constexpr int kNoState = 3;
constexpr int kConfigError = 2;

// The state at `statePath`, or the exit status after saying why there is none.
std::variant<PublisherState, int> readState(const QString& statePath)
{
    const auto read = readStateFile(statePath);
    if (std::holds_alternative<NoStateFile>(read)) {
        logger::error(QStringLiteral("no state at %1: watch has not run as this user, or with "
                                     "another state folder")
                          .arg(statePath));
        return kNoState;
    }
    if (const auto* problem = std::get_if<QString>(&read)) {
        logger::error(*problem);
        return 1;
    }
    return std::get<PublisherState>(read);
}

} // namespace

int showStatus(const QString& statePath, bool json)
{
    const auto read = readState(statePath);
    if (const int* exitStatus = std::get_if<int>(&read))
        return *exitStatus;
    const PublisherState& state = std::get<PublisherState>(read);
    const bool running = writerRuns(state);
    QTextStream out(stdout);
    if (json)
        out << statusJson(state, running);
    else
        out << statusText(state, running);
    return state.everyTargetCurrent() ? 0 : 1;
}

int showHistory(const QString& statePath, bool json)
{
    const auto read = readState(statePath);
    if (const int* exitStatus = std::get_if<int>(&read))
        return *exitStatus;
    const PublisherState& state = std::get<PublisherState>(read);
    if (!state.historyProblem.isEmpty()) {
        logger::error(QStringLiteral("%1: the address history cannot be read: %2")
                          .arg(statePath, state.historyProblem));
        return 1;
    }
    QTextStream out(stdout);
    if (json)
        out << historyJson(state);
    else
        out << historyText(state);
    return 0;
}

int sendTestNotification(const PublisherSettings& settings)
{
    if (settings.notify.url.isEmpty()) {
        logger::error(QStringLiteral("%1: no [notify] section: there is nowhere to send to")
                          .arg(settings.configFile));
        return kConfigError;
    }
    const QString line =
        QStringLiteral("test message from quendle-publish on %1").arg(QSysInfo::machineHostName());
    const NotifyResult result = sendNotification(settings.notify, line);
    if (result.status == 0) {
        logger::error(QStringLiteral("notification not sent: %1").arg(result.error));
        return 1;
    }
    QString answered = QStringLiteral("the server answered HTTP %1").arg(result.status);
    if (!result.answer.isEmpty())
        answered += QStringLiteral(": ") + result.answer;
    QTextStream(stdout) << redactSecrets(answered) << '\n';
    return result.ok ? 0 : 1;
}

} // namespace quendle::cli
