#pragma once
// Calendar time for the dates written into backups and the names of snapshots. (Protocol time is
// counted in heartbeat ticks and never comes from here.)

#include <ctime>

namespace vornic::platform {

// The calendar time of `time` in UTC.
void utcTime(std::time_t time, std::tm& out);

}  // namespace vornic::platform
