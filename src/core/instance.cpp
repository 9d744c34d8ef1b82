#include "core/instance.h"

#include "core/version.h"

#include <QDir>
#include <QStandardPaths>
#include <mutex>

namespace zantrel {

namespace {

std::mutex nameMutex;
QString currentName;

} // namespace

QString InstanceNameRefusal(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("an instance name cannot be empty");
    if (name.size() > kMaxInstanceNameLength)
        return QStringLiteral("the instance name '%1' is longer than %2 characters")
            .arg(name)
            .arg(kMaxInstanceNameLength);
    for (const QChar c : name)
        if (!(c.unicode() < 0x80 && (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'))))
            return QStringLiteral(
                       "the instance name '%1' may hold only letters, digits, '-' and '_' (not '%2')")
                .arg(name, c);
    return {};
}

QString InstanceName() {
    std::lock_guard lock(nameMutex);
    return currentName;
}

void SetInstanceName(const QString& name) {
    std::lock_guard lock(nameMutex);
    currentName = name;
}

QString InstanceTitle() {
    const QString name = InstanceName();
    return name.isEmpty() ? applicationTitle() : QStringLiteral("%1 (%2)").arg(applicationTitle(), name);
}

QString ProgramConfigFolder() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/KALDOR");
}

QString InstancesFolder() {
    return ProgramConfigFolder() + QStringLiteral("/instances");
}

QStringList InstanceNames() {
    QStringList names;
    const QStringList folders =
        QDir(InstancesFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& folder : folders)
        if (InstanceNameRefusal(folder).isEmpty())
            names << folder;
    return names;
}

} // namespace zantrel
