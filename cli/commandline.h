#pragma once

#include <QString>
#include <QStringList>

#include <variant>

namespace quendle::cli {

enum class Command { Once, Watch, Offline, Address, Status, NotifyTest };

struct Invocation
{
    Command command = Command::Once;
    QString configPath; // empty: the default path
    bool verbose = false;
    bool json = false;    // status only
    bool history = false; // status only: the address changes instead
    QString statePath;    // status only; empty: the default path
};

struct ShowHelp
{
};
struct ShowVersion
{
};
struct UsageError
{
    QString message;
};

using ParsedCommandLine = std::variant<Invocation, ShowHelp, ShowVersion, UsageError>;

// The arguments after the program's name.
ParsedCommandLine parseCommandLine(const QStringList& arguments);

QString usageText();

} // namespace quendle::cli
