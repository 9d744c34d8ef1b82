#pragma once

#include <QLockFile>
#include <QString>
#include <QStringList>
#include <memory>

namespace zantrel {

// The text the program was given after its path, arguments joined by blanks.
QString ArgumentText(const QStringList& argumentsAfterPath);

// A start by the system's start-up entry ("/BOOT", exactly) is allowed only when the user asked for it.
bool BootStartRefused(const QString& argumentText);

// One instance per user: holds a lock file next to the settings file for as long as it lives, in the
// settings folder made the user's alone first. A lock left by an instance that crashed is taken over.
// Null when another instance runs (failure empty) or the lock cannot be taken at all (failure says why).
std::unique_ptr<QLockFile> AcquireInstanceLock(QString& failure);

// True when Qt can open a window here: a display, or a platform chosen by QT_QPA_PLATFORM.
bool DisplayAvailable();

} // namespace zantrel
