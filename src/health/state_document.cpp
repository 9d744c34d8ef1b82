#include "health/state_document.h"

#include "core/private_folder.h"
#include "core/sinks.h"
#include "core/store.h"
#include "transfer/server_address.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace zantrel {

namespace {

bool processRuns(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

QString orNever(const QJsonValue& v, const QString& none = QStringLiteral("never")) {
    return v.isString() ? v.toString() : none;
}

} // namespace

QString StateDocumentPath() {
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // cron and ssh sessions may name none: the session manager's folder of this user is the same one.
    const QFileInfo session(QStringLiteral("/run/user/%1").arg(::getuid()));
    if (runtime.isEmpty() && session.isDir() && session.ownerId() == ::getuid())
        runtime = session.filePath();
    if (!runtime.isEmpty() && QFileInfo(runtime).isAbsolute())
        return runtime + QStringLiteral("/webcam-zantrel/state.json");
    const QString store = SettingsStore::instance().path().isEmpty() ? SettingsStore::defaultPath()
                                                                     : SettingsStore::instance().path();
    return QFileInfo(store).absolutePath() + QStringLiteral("/webcam-zantrel.state.json");
}

bool WriteStateDocument(const QString& path, const QByteArray& json) {
    if (!MakePrivateFolder(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
           file.write(json) == json.size() && file.commit();
}

int PrintStatus(const QString& path, std::FILE* out) {
    QFile file(path);
    const QJsonObject state =
        file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    const qint64 pid = state.value(QStringLiteral("pid")).toInteger();
    if (!processRuns(pid)) {
        std::fprintf(out, "webcam-zantrel is not running.\n");
        return 2;
    }
    const auto print = [out](const QString& line) { std::fprintf(out, "%s\n", qPrintable(OneLine(line))); };
    print(QStringLiteral("Running, process %1, state of %2")
              .arg(pid)
              .arg(orNever(state[QStringLiteral("updated")])));
    const QJsonObject camera = state[QStringLiteral("camera")].toObject();
    if (!camera.isEmpty())
        print(QStringLiteral("Camera: %1 %2")
                  .arg(camera[QStringLiteral("state")].toString(), camera[QStringLiteral("name")].toString())
                  .trimmed());
    if (state.contains(QStringLiteral("publishing")))
        print(state[QStringLiteral("publishing")].toBool()
                  ? QStringLiteral("Next update: ") +
                        orNever(state[QStringLiteral("nextUpdate")], QStringLiteral("?"))
                  : QStringLiteral("Next update: none, not publishing on a schedule"));
    for (const QJsonValue& t : state[QStringLiteral("targets")].toArray()) {
        const QJsonObject target = t.toObject();
        print(QStringLiteral("Server %1 %2: last success %3")
                  .arg(target[QStringLiteral("target")].toInt())
                  .arg(ShownAddress(target[QStringLiteral("address")].toString()),
                       orNever(target[QStringLiteral("lastSuccess")])));
    }
    const QJsonArray events = state[QStringLiteral("events")].toArray();
    for (const QJsonValue& v : events) {
        const QJsonObject e = v.toObject();
        print(QStringLiteral("Alert: %1 since %2: %3")
                  .arg(e[QStringLiteral("event")].toString(), e[QStringLiteral("since")].toString(),
                       e[QStringLiteral("message")].toString()));
    }
    const QJsonArray warnings = state[QStringLiteral("warnings")].toArray();
    for (const QJsonValue& w : warnings)
        print(QStringLiteral("Warning: ") + w.toString());
    const bool healthy = events.isEmpty() && warnings.isEmpty();
    if (healthy)
        print(QStringLiteral("Healthy"));
    return healthy ? 0 : 1;
}

} // namespace zantrel
