#pragma once

#include "service/publishersettings.h"

#include <QStringList>

#include <variant>

namespace quendle {

// Every problem found in a configuration file, each as "FILE:LINE: [section] key: what is wrong".
struct ConfigErrors
{
    QStringList messages;
};

// $XDG_CONFIG_HOME/quendle/publish.conf, or ~/.config/quendle/publish.conf.
QString defaultConfigPath();

// $XDG_STATE_HOME/quendle/quendle.htm, or ~/.local/state/quendle/quendle.htm.
QString defaultPageFile();

// Reads the INI file at `path`: [section] lines, key = value lines, blank lines and whole-line
// comments starting with # or ;. Values are taken as written, blanks around them removed, so a #
// inside a password stays part of it. Unknown sections and keys, missing keys and bad values are
// errors, never skipped; so is a password in a file other users can read. Passwords named by
// password_file or credential are read here, once.
std::variant<PublisherSettings, ConfigErrors> readSettings(const QString& path);

} // namespace quendle
