#pragma once

#include <QString>

namespace zantrel {

// How much a line of the program's log matters, as syslog and the journal number it.
enum class LogPriority { Error = 3, Warning = 4, Info = 6 };

// Writes one line of the log, whole and flushed, whichever thread calls: information on standard
// output, warnings and errors on standard error. Where that stream goes to the journal (JOURNAL_STREAM
// names it, as systemd sets it for a service) the line starts with its priority ("<3>"), so that
// `journalctl -p warning` lists the failures and nothing else.
void LogLine(LogPriority priority, const QString& text);

} // namespace zantrel
