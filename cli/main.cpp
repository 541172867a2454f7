// quendle-publish: the headless publisher. Publishes the status page to the configured servers
// once, keeps it current as a service, or publishes the offline page.

#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/logger.h"
#include "cli/reportcommands.h"
#include "cli/signalnotifier.h"
#include "page/filesizelimit.h"
#include "service/configreader.h"
#include "service/publisherstate.h"

#include <QTextStream>

#include <csignal>

using namespace quendle;
using namespace quendle::cli;

namespace {

constexpr int kUsageOrConfigError = 2;

int usageError(const QString& message)
{
    QTextStream(stderr) << "quendle-publish: " << message
                        << "\nTry 'quendle-publish --help' for more information.\n";
    return kUsageOrConfigError;
}

} // namespace

int main(int argc, char** argv)
{
    // A server that closes its end must give an error, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    failWritesPastFileSizeLimit();

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    if (std::holds_alternative<ShowHelp>(parsed)) {
        QTextStream(stdout) << usageText();
        return 0;
    }
    if (std::holds_alternative<ShowVersion>(parsed)) {
        QTextStream(stdout) << "quendle-publish " << QUENDLE_VERSION << '\n';
        return 0;
    }
    if (const auto* error = std::get_if<UsageError>(&parsed))
        return usageError(error->message);
    const Invocation invocation = std::get<Invocation>(parsed);
    logger::setVerbose(invocation.verbose);
    // Read from watch's state file alone, so that it works where the configuration is not
    // readable (the system unit's, by root in a shell, whose own configuration may not exist).
    if (invocation.command == Command::Status) {
        const QString statePath =
            invocation.statePath.isEmpty() ? defaultStatePath() : invocation.statePath;
        return invocation.history ? showHistory(statePath, invocation.json)
                                  : showStatus(statePath, invocation.json);
    }

    const QString configPath =
        invocation.configPath.isEmpty() ? defaultConfigPath() : invocation.configPath;
    const auto read = readSettings(configPath);
    if (const auto* errors = std::get_if<ConfigErrors>(&read)) {
        for (const QString& message : errors->messages)
            logger::error(message);
        return kUsageOrConfigError;
    }
    const PublisherSettings& settings = std::get<PublisherSettings>(read);

    switch (invocation.command) {
    case Command::Once:
        return publishOnce(settings);
    case Command::Offline:
        return publishOffline(settings);
    case Command::Address:
        return showAddresses(settings);
    case Command::NotifyTest:
        return sendTestNotification(settings);
    case Command::Status:
    case Command::Watch:
        break;
    }
    // Before the first thread starts, so that every thread leaves the signals to the main loop.
    SignalNotifier::blockHandledSignals();
    return watch(settings);
}
