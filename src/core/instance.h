#pragma once

#include <QString>
#include <QStringList>

namespace zantrel {

// Several cameras on one machine: each runs as an instance of its own, named on the command line
// (--instance gate), with its own settings file and everything derived from it (the lock, the state
// document, the folder it works in). Without a name the program is the default instance, with the files
// it has always used.

// The longest instance name.
inline constexpr int kMaxInstanceNameLength = 32;

// Letters, digits, '-' and '_', 1 to kMaxInstanceNameLength of them: a name that is safe as a folder
// name and in a systemd unit's instance part. Otherwise the reason it is refused.
QString InstanceNameRefusal(const QString& name);

// The instance this process is: "" for the default one. Set once at start-up, before anything opens
// the settings.
QString InstanceName();
void SetInstanceName(const QString& name);

// The program's title with the instance's name, for captions, the tray tip and alerts:
// "Webcam Zantrel 2.00 (gate)"; the plain title for the default instance.
QString InstanceTitle();

// The program's settings folder, $XDG_CONFIG_HOME/KALDOR (~/.config/KALDOR without the variable), and
// the folder in it holding every named instance's settings folder, KALDOR/instances.
QString ProgramConfigFolder();
QString InstancesFolder();

// The named instances set up for this user (those with a settings folder), sorted.
QStringList InstanceNames();

} // namespace zantrel
