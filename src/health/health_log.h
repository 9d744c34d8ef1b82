#pragma once

namespace zantrel {

class HealthMonitor;

// Each event of the monitor as one line of the log: a warning when a condition begins ("Alert failing:
// Uploads to ... failed 3 times in a row: ..."), information when it ends ("Alert recovered: ...").
void LogHealthEvents(HealthMonitor& monitor);

} // namespace zantrel
