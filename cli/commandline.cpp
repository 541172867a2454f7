#include "cli/commandline.h"

namespace quendle::cli {

namespace {

struct CommandName
{
    const char* name;
    Command command;
};

const CommandName kCommands[] = {
    {"once", Command::Once},       {"watch", Command::Watch},
    {"offline", Command::Offline}, {"address", Command::Address},
    {"status", Command::Status},   {"notify-test", Command::NotifyTest},
};

} // namespace

QString usageText()
{
    return QStringLiteral(
        "Usage:\n"
        "  quendle-publish [--config FILE] [--verbose] once      # publish the online page to "
        "every target, then exit\n"
        "  quendle-publish [--config FILE] [--verbose] watch     # keep the page current until "
        "stopped\n"
        "  quendle-publish [--config FILE] [--verbose] offline   # publish the offline page to "
        "every target, then exit\n"
        "  quendle-publish [--config FILE] address               # print what each address "
        "source answers; upload nothing\n"
        "  quendle-publish [--state FILE] [--json] status        # what watch is doing, from its "
        "state file\n"
        "  quendle-publish [--state FILE] [--json] status --history  # the address changes "
        "watch recorded\n"
        "  quendle-publish [--config FILE] notify-test           # send a test notification and "
        "print the answer\n"
        "\n"
        "Options:\n"
        "  --config FILE  the configuration file; default $XDG_CONFIG_HOME/quendle/publish.conf\n"
        "                 (~/.config/quendle/publish.conf)\n"
        "  --verbose      also log each step: checks, logins, kernel notices, timers\n"
        "  --state FILE   the state file that status reads; default\n"
        "                 $XDG_STATE_HOME/quendle/state.json (~/.local/state/quendle/state.json)\n"
        "  --json         status prints the state as JSON\n"
        "  --history      status prints the last 100 address changes of each family, newest "
        "first\n"
        "  --help         print this help and exit\n"
        "  --version      print the version and exit\n"
        "\n"
        "Exit status: 0 when every target got the page; 1 when the address could not be found\n"
        "or a target failed; 2 for a usage or configuration error. status: 0 when every target\n"
        "is current, 1 when one is not, 3 when there is no state file.\n"
        "The configuration file is described in quendle-publish(1).\n");
}

ParsedCommandLine parseCommandLine(const QStringList& arguments)
{
    Invocation invocation;
    bool haveCommand = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return ShowHelp{};
        if (argument == QLatin1String("--version"))
            return ShowVersion{};
        if (argument == QLatin1String("--verbose") || argument == QLatin1String("-v")) {
            invocation.verbose = true;
        } else if (argument == QLatin1String("--config")) {
            if (++i == arguments.size() || arguments[i].isEmpty())
                return UsageError{QStringLiteral("--config needs a file name")};
            invocation.configPath = arguments[i];
        } else if (argument.startsWith(QLatin1String("--config="))) {
            invocation.configPath = argument.mid(9);
            if (invocation.configPath.isEmpty())
                return UsageError{QStringLiteral("--config needs a file name")};
        } else if (argument == QLatin1String("--json")) {
            invocation.json = true;
        } else if (argument == QLatin1String("--history")) {
            invocation.history = true;
        } else if (argument == QLatin1String("--state")) {
            if (++i == arguments.size() || arguments[i].isEmpty())
                return UsageError{QStringLiteral("--state needs a file name")};
            invocation.statePath = arguments[i];
        } else if (argument.startsWith(QLatin1Char('-'))) {
            return UsageError{QStringLiteral("unknown option %1").arg(argument)};
        } else if (haveCommand) {
            return UsageError{QStringLiteral("one command only, not also \"%1\"").arg(argument)};
        } else {
            const CommandName* found = nullptr;
            for (const CommandName& candidate : kCommands)
                if (argument == QLatin1String(candidate.name))
                    found = &candidate;
            if (!found)
                return UsageError{QStringLiteral("unknown command \"%1\"").arg(argument)};
            invocation.command = found->command;
            haveCommand = true;
        }
    }
    if (!haveCommand)
        return UsageError{QStringLiteral(
            "a command is needed: once, watch, offline, address, status or notify-test")};
    if ((invocation.json || invocation.history || !invocation.statePath.isEmpty()) &&
        invocation.command != Command::Status)
        return UsageError{QStringLiteral("--json, --history and --state go with status only")};
    return invocation;
}

} // namespace quendle::cli
