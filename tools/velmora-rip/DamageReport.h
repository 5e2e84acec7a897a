#pragma once

#include "ripjob/Damage.h"

// The damage report of velmora-rip: the core's sector ranges and their text.
namespace riptool {

using ::DamagedRanges;
using ::DamageLine;
using ::SectorRange;
using ::TrackTime;

} // namespace riptool
