#pragma once

#include <QString>

namespace zantrel {

// The per-user start-up entry of the desktop session: $XDG_CONFIG_HOME/autostart/webcam-zantrel.desktop.
// It starts the program with /BOOT in the pictures folder, as the menu entry does; /BOOT, so
// PREF/WINDOWSSTART still decides whether a start at login runs. A named instance has an entry of its own,
// webcam-zantrel@NAME.desktop, that starts it with --instance NAME.
QString AutostartEntryPath();

// The program the entry runs: the one on PATH, else the one installed by `cmake --install` here, else
// the running one (a build tree's program, where nothing is installed).
QString AutostartProgram(const QString& running);

// The entry's text for the given executable, its path quoted as desktop entries require.
QString AutostartEntryText(const QString& executable);

// Creates (on) or removes (off) the entry for AutostartProgram(running); true when the entry is as
// asked afterwards.
bool SetAutostart(bool on, const QString& running);

} // namespace zantrel
