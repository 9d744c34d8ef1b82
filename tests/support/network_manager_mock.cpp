#include "support/network_manager_mock.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QThread>
#include <QUuid>

using MockConnectionSettings = QMap<QString, QVariantMap>;
Q_DECLARE_METATYPE(MockConnectionSettings)

namespace zantrel::test {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");

} // namespace

NetworkManagerMock::NetworkManagerMock() {
    qDBusRegisterMetaType<MockConnectionSettings>();
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=/usr/share/dbus-1/session.conf"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address")});
    QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!out.contains('\n') && daemon_.waitForReadyRead(deadline.remainingTime()))
        out += daemon_.readAllStandardOutput();
    address_ = QString::fromUtf8(out).trimmed();
    connectionName_ = QStringLiteral("nm-mock-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (address_.isEmpty() || !QDBusConnection::connectToBus(address_, connectionName_).isConnected()) {
        failure_ = QStringLiteral("no private bus: ") + daemon_.errorString();
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
    template_.setProcessEnvironment(env);
    template_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    template_.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                     QStringLiteral("--template"), QStringLiteral("networkmanager")});
    while (!bus().interface()->isServiceRegistered(kService)) {
        if (deadline.hasExpired() || template_.state() == QProcess::NotRunning) {
            failure_ = QStringLiteral("the NetworkManager template did not come up");
            return;
        }
        QThread::msleep(30);
    }
    // The template needs a device before anything can be activated.
    device_ =
        call(QStringLiteral("/org/freedesktop"), QStringLiteral("org.freedesktop.DBus.Mock"),
             QStringLiteral("AddEthernetDevice"), {QStringLiteral("mock_eth0"), QStringLiteral("eth0"), 0})
            .toString();
    running_ = true;
}

NetworkManagerMock::~NetworkManagerMock() {
    QDBusConnection::disconnectFromBus(connectionName_);
    for (QProcess* p : {&template_, &daemon_}) {
        p->kill();
        p->waitForFinished();
    }
}

QVariant NetworkManagerMock::call(const QString& path, const QString& iface, const QString& method,
                                  const QVariantList& args) const {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, iface, method);
    message.setArguments(args);
    const QDBusMessage reply = bus().call(message);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
               ? reply.arguments().constFirst()
               : QVariant();
}

bool NetworkManagerMock::addActive(const QString& type, const QString& id, const QString& bluetoothType) {
    MockConnectionSettings settings;
    settings[QStringLiteral("connection")] =
        QVariantMap{{QStringLiteral("type"), type},
                    {QStringLiteral("id"), id},
                    {QStringLiteral("uuid"), QUuid::createUuid().toString(QUuid::WithoutBraces)}};
    if (!bluetoothType.isEmpty())
        settings[QStringLiteral("bluetooth")] = QVariantMap{{QStringLiteral("type"), bluetoothType}};
    const auto stored =
        call(kManagerPath + QStringLiteral("/Settings"), kService + QStringLiteral(".Settings"),
             QStringLiteral("AddConnection"), {QVariant::fromValue(settings)});
    const auto active = call(kManagerPath, kService, QStringLiteral("ActivateConnection"),
                             {stored, QVariant::fromValue(QDBusObjectPath(device_)),
                              QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))});
    return !active.value<QDBusObjectPath>().path().isEmpty();
}

QStringList NetworkManagerMock::activeIds() const {
    auto get = [this](const QString& path, const QString& iface, const QString& name) {
        return call(path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                    {iface, name})
            .value<QDBusVariant>()
            .variant();
    };
    QStringList ids;
    const auto active = get(kManagerPath, kService, QStringLiteral("ActiveConnections"));
    for (const QDBusObjectPath& path : qdbus_cast<QList<QDBusObjectPath>>(active))
        ids << get(path.path(), kService + QStringLiteral(".Connection.Active"), QStringLiteral("Id"))
                   .toString();
    return ids;
}

} // namespace zantrel::test
