#include "health/state_document.h"

#include "core/instance.h"
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
#include <algorithm>
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

QString StateDocumentPath(const QString& instance) {
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    // cron and ssh sessions may name none: the session manager's folder of this user is the same one.
    const QFileInfo session(QStringLiteral("/run/user/%1").arg(::getuid()));
    if (runtime.isEmpty() && session.isDir() && session.ownerId() == ::getuid())
        runtime = session.filePath();
    if (!runtime.isEmpty() && QFileInfo(runtime).isAbsolute())
        return runtime + QStringLiteral("/webcam-zantrel/") +
               (instance.isEmpty() ? QString() : QStringLiteral("instances/%1/").arg(instance)) +
               QStringLiteral("state.json");
    QString settingsFolder =
        instance.isEmpty() ? ProgramConfigFolder() : InstancesFolder() + QLatin1Char('/') + instance;
    if (instance == InstanceName() && !SettingsStore::instance().path().isEmpty())
        settingsFolder = QFileInfo(SettingsStore::instance().path()).absolutePath();
    return settingsFolder + QStringLiteral("/webcam-zantrel.state.json");
}

QString StateDocumentPath() {
    return StateDocumentPath(InstanceName());
}

bool WriteStateDocument(const QString& path, const QByteArray& json) {
    if (!MakePrivateFolder(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
           file.write(json) == json.size() && file.commit();
}

StatusReport ReadStatus(const QString& path) {
    QFile file(path);
    const QJsonObject state =
        file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    const qint64 pid = state.value(QStringLiteral("pid")).toInteger();
    StatusReport r;
    if (!processRuns(pid)) {
        r.lines << QStringLiteral("webcam-zantrel is not running.");
        r.summary = r.lines;
        return r;
    }
    // Each line in the full report; the summary keeps the first and the verdict.
    const auto add = [&r](const QString& line, bool summary) {
        r.lines << OneLine(line);
        if (summary)
            r.summary << OneLine(line);
    };
    add(QStringLiteral("Running, process %1, state of %2")
            .arg(pid)
            .arg(orNever(state[QStringLiteral("updated")])),
        true);
    const QJsonObject camera = state[QStringLiteral("camera")].toObject();
    if (!camera.isEmpty())
        add(QStringLiteral("Camera: %1 %2")
                .arg(camera[QStringLiteral("state")].toString(), camera[QStringLiteral("name")].toString())
                .trimmed(),
            false);
    if (state.contains(QStringLiteral("publishing")))
        add(state[QStringLiteral("publishing")].toBool()
                ? QStringLiteral("Next update: ") +
                      orNever(state[QStringLiteral("nextUpdate")], QStringLiteral("?"))
                : QStringLiteral("Next update: none, not publishing on a schedule"),
            false);
    for (const QJsonValue& t : state[QStringLiteral("targets")].toArray()) {
        const QJsonObject target = t.toObject();
        add(QStringLiteral("Server %1 %2: last success %3")
                .arg(target[QStringLiteral("target")].toInt())
                .arg(ShownAddress(target[QStringLiteral("address")].toString()),
                     orNever(target[QStringLiteral("lastSuccess")])),
            false);
    }
    const QJsonArray events = state[QStringLiteral("events")].toArray();
    for (const QJsonValue& v : events) {
        const QJsonObject e = v.toObject();
        add(QStringLiteral("Alert: %1 since %2: %3")
                .arg(e[QStringLiteral("event")].toString(), e[QStringLiteral("since")].toString(),
                     e[QStringLiteral("message")].toString()),
            true);
    }
    const QJsonArray warnings = state[QStringLiteral("warnings")].toArray();
    for (const QJsonValue& w : warnings)
        add(QStringLiteral("Warning: ") + w.toString(), true);
    const bool healthy = events.isEmpty() && warnings.isEmpty();
    if (healthy)
        add(QStringLiteral("Healthy"), true);
    r.code = healthy ? 0 : 1;
    return r;
}

int PrintStatus(const QString& path, std::FILE* out) {
    const StatusReport r = ReadStatus(path);
    for (const QString& line : r.lines)
        std::fprintf(out, "%s\n", qPrintable(line));
    return r.code;
}

int PrintEveryInstanceStatus(std::FILE* out) {
    QStringList running;
    int worst = 0;
    for (const QString& name : QStringList{QString()} + InstanceNames()) {
        const StatusReport r = ReadStatus(StateDocumentPath(name));
        if (r.code == 2)
            continue;
        worst = std::max(worst, r.code);
        running << (name.isEmpty() ? QStringLiteral("default") : name) + QStringLiteral(": ") +
                       r.summary.join(QStringLiteral("; "));
    }
    // Where no named instance runs, the default one's report as it has always been.
    if (running.isEmpty() || (running.size() == 1 && running.first().startsWith(QLatin1String("default: "))))
        return PrintStatus(StateDocumentPath(QString()), out);
    for (const QString& line : running)
        std::fprintf(out, "%s\n", qPrintable(line));
    return worst;
}

} // namespace zantrel
