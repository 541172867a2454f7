#pragma once

#include "service/settingkeys.h"

// The [dns NAME] section: a DNS name kept pointing at this machine. Used by the key table only.
namespace quendle::settingkeys {

SectionRule dnsSectionRule();

} // namespace quendle::settingkeys
