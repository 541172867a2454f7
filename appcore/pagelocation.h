#pragma once

#include <QString>

namespace quendle {

// The folder that holds the page file. A program run from a folder its user can write to keeps
// the page beside itself; an installed one (in /usr/bin, say) keeps it in "quendle" under
// `dataHome`, the user's data folder, which is created when missing. When even that cannot be
// created, the folder is still returned: the first write then reports the failure.
QString pageDirectory(const QString& executableDirectory, const QString& dataHome);

// The user's data folder: $XDG_DATA_HOME, or ~/.local/share when that is unset.
QString userDataHome();

} // namespace quendle
