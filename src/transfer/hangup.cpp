#include "transfer/hangup.h"

#include "core/setting_keys.h"
#include "core/store.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QList>
#include <QMap>
#include <QVariantMap>

using ConnectionSettings = QMap<QString, QVariantMap>;
Q_DECLARE_METATYPE(ConnectionSettings)

namespace zantrel {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManager = QStringLiteral("org.freedesktop.NetworkManager");
const QString kActive = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kSettingsConnection = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr int kCallTimeoutMs = 5000;

// One property, or an invalid QVariant on any failure.
QVariant property(const QDBusConnection& bus, const QString& path, const QString& iface,
                  const QString& name) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, path, kProperties, QStringLiteral("Get"));
    call << iface << name;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

bool isBluetoothDialUp(const QDBusConnection& bus, const QString& activePath) {
    const auto settingsPath =
        property(bus, activePath, kActive, QStringLiteral("Connection")).value<QDBusObjectPath>();
    if (settingsPath.path().isEmpty())
        return false;
    const QDBusMessage call = QDBusMessage::createMethodCall(
        kService, settingsPath.path(), kSettingsConnection, QStringLiteral("GetSettings"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const auto settings = qdbus_cast<ConnectionSettings>(reply.arguments().constFirst());
    return settings.value(QStringLiteral("bluetooth")).value(QStringLiteral("type")).toString() ==
           QLatin1String("dun");
}

bool isDialUp(const QDBusConnection& bus, const QString& activePath) {
    const QString type = property(bus, activePath, kActive, QStringLiteral("Type")).toString();
    if (type == QLatin1String("gsm") || type == QLatin1String("cdma") || type == QLatin1String("pppoe") ||
        type == QLatin1String("adsl"))
        return true;
    return type == QLatin1String("bluetooth") && isBluetoothDialUp(bus, activePath);
}

void hangUpDialUps(const QDBusConnection& bus) {
    if (!bus.isConnected())
        return;
    const QVariant list = property(bus, kPath, kManager, QStringLiteral("ActiveConnections"));
    if (!list.isValid())
        return;
    const auto active = qdbus_cast<QList<QDBusObjectPath>>(list);
    QList<QDBusObjectPath> dialUps;
    for (const QDBusObjectPath& path : active)
        if (isDialUp(bus, path.path()))
            dialUps.append(path);
    // Queued in order; NetworkManager takes them down on its own time.
    for (const QDBusObjectPath& path : dialUps) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("DeactivateConnection"));
        call << QVariant::fromValue(path);
        bus.send(call);
    }
    // A round trip behind them: the requests have left this process when it returns.
    if (!dialUps.isEmpty())
        bus.interface()->isServiceRegistered(kService);
}

} // namespace

void HangUpAll(StatusSink& status, const QDBusConnection& bus) {
    qDBusRegisterMetaType<ConnectionSettings>();
    hangUpDialUps(bus);
    if (GetSetting(keys::FtpBeep) == QLatin1String("YES"))
        status.beep();
}

void HangUpAll(StatusSink& status) {
    HangUpAll(status, QDBusConnection::systemBus());
}

} // namespace zantrel
