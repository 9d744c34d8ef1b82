#include "core/startup.h"

#include "core/private_folder.h"
#include "core/setting_keys.h"
#include "core/store.h"

#include <QFileInfo>

namespace zantrel {

QString ArgumentText(const QStringList& argumentsAfterPath) {
    return argumentsAfterPath.join(QLatin1Char(' '));
}

bool BootStartRefused(const QString& argumentText) {
    return argumentText == QLatin1String("/BOOT") && ReadNumber(keys::PrefWindowsStart) == 0.0;
}

std::unique_ptr<QLockFile> AcquireInstanceLock(QString& failure) {
    failure.clear();
    const QString dir =
        QFileInfo(SettingsStore::instance().path().isEmpty() ? SettingsStore::defaultPath()
                                                             : SettingsStore::instance().path())
            .absolutePath();
    // Made here as the store makes it: a folder others could write to would let them hold the lock or
    // replace the settings.
    if (!MakePrivateFolder(dir)) {
        failure =
            QStringLiteral("the settings folder %1 cannot be made the user's own; this one ends.").arg(dir);
        return nullptr;
    }
    const QString path = dir + QStringLiteral("/webcam-zantrel.lock");
    auto lock = std::make_unique<QLockFile>(path);
    // A lock is stale only when its process is gone; a running instance never times out.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0))
        return lock;
    // Held means a lock file naming a live process; anything else there (a folder, an unreadable file)
    // would keep every start away for good.
    qint64 pid = 0;
    QString host, application;
    if (lock->error() != QLockFile::LockFailedError || !lock->getLockInfo(&pid, &host, &application))
        failure = QStringLiteral("the instance lock %1 cannot be taken; this one ends.").arg(path);
    return nullptr;
}

bool DisplayAvailable() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace zantrel
