#pragma once

#include <QString>

namespace quendle::cli {

// One line per event on stderr. When stderr is the journal, each line starts with the journal's
// priority prefix instead of a time stamp, so that the journal files it at the right level.
namespace logger {

void setVerbose(bool verbose);

void error(const QString& text);
void warning(const QString& text);
void info(const QString& text);
void debug(const QString& text); // only with --verbose

} // namespace logger

} // namespace quendle::cli
