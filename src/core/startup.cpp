#include "core/startup.h"

#include "core/setting_keys.h"
#include "core/store.h"

#include <QDir>
#include <QFileInfo>

namespace zantrel {

QString ArgumentText(const QStringList& argumentsAfterPath) {
    return argumentsAfterPath.join(QLatin1Char(' '));
}

bool BootStartRefused(const QString& argumentText) {
    return argumentText == QLatin1String("/BOOT") && ReadNumber(keys::PrefWindowsStart) == 0.0;
}

std::unique_ptr<QLockFile> AcquireInstanceLock() {
    const QString dir =
        QFileInfo(SettingsStore::instance().path().isEmpty() ? SettingsStore::defaultPath()
                                                             : SettingsStore::instance().path())
            .absolutePath();
    QDir().mkpath(dir);
    auto lock = std::make_unique<QLockFile>(dir + QStringLiteral("/webcam-zantrel.lock"));
    // A lock is stale only when its process is gone; a running instance never times out.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return nullptr;
    return lock;
}

bool DisplayAvailable() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace zantrel
