#pragma once

#include "appcore/refreshcounter.h"

#include <QString>

namespace quendle {

// The values that live for the whole process, outside any window: the refresh tick limit and
// count, and the banner written into the online page.
struct ProgramValues
{
    RefreshCounter refresh;
    QString banner;
};

} // namespace quendle
