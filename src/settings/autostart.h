#pragma once

#include <QString>

namespace zantrel {

// The per-user start-up entry of the desktop session: $XDG_CONFIG_HOME/autostart/webcam-zantrel.desktop.
// It starts the program with /BOOT, so PREF/WINDOWSSTART still decides whether a start at login runs.
QString AutostartEntryPath();

// The entry's text for the given executable, its path quoted as desktop entries require.
QString AutostartEntryText(const QString& executable);

// Creates (on) or removes (off) the entry; true when the entry is as asked afterwards.
bool SetAutostart(bool on, const QString& executable);

} // namespace zantrel
