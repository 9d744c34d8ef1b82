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

void stop(QProcess& p) {
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

QVariant firstReply(const QDBusMessage& reply) {
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
               ? reply.arguments().constFirst()
               : QVariant();
}

} // namespace

NetworkManagerMock::NetworkManagerMock(bool withNetworkManager) {
    qDBusRegisterMetaType<MockConnectionSettings>();
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=/usr/share/dbus-1/session.conf"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address")});
    QDeadlineTimer deadline(10000);
    QByteArray out;
    while (!out.contains('\n') && !deadline.hasExpired() &&
           daemon_.waitForReadyRead(deadline.remainingTime()))
        out += daemon_.readAllStandardOutput();
    address_ = QString::fromUtf8(out).trimmed();
    if (address_.isEmpty()) {
        failure_ = QStringLiteral("dbus-daemon did not start: ") + daemon_.errorString();
        return;
    }
    connectionName_ = QStringLiteral("nm-mock-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDBusConnection connection = QDBusConnection::connectToBus(address_, connectionName_);
    if (!connection.isConnected()) {
        failure_ = QStringLiteral("cannot connect to the private bus");
        return;
    }
    if (withNetworkManager) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
        template_.setProcessEnvironment(env);
        template_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        template_.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--system"),
                         QStringLiteral("--template"), QStringLiteral("networkmanager")});
        while (!connection.interface()->isServiceRegistered(kService)) {
            if (deadline.hasExpired() || template_.state() == QProcess::NotRunning) {
                failure_ = QStringLiteral("the NetworkManager template did not come up");
                return;
            }
            QThread::msleep(30);
        }
    }
    running_ = true;
}

NetworkManagerMock::~NetworkManagerMock() {
    if (!connectionName_.isEmpty())
        QDBusConnection::disconnectFromBus(connectionName_);
    stop(template_);
    stop(daemon_);
}

QDBusConnection NetworkManagerMock::bus() const {
    return QDBusConnection(connectionName_);
}

QString NetworkManagerMock::addEthernetDevice(const QString& iface) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop"),
                                                       QStringLiteral("org.freedesktop.DBus.Mock"),
                                                       QStringLiteral("AddEthernetDevice"));
    call << QStringLiteral("mock_") + iface << iface << 0;
    return firstReply(bus().call(call)).toString();
}

QString NetworkManagerMock::addConnection(const QString& type, const QString& id,
                                          const QString& bluetoothType) {
    MockConnectionSettings settings;
    settings[QStringLiteral("connection")] = QVariantMap{
        {QStringLiteral("type"), type},
        {QStringLiteral("id"), id},
        {QStringLiteral("uuid"), QUuid::createUuid().toString(QUuid::WithoutBraces)},
    };
    if (!bluetoothType.isEmpty())
        settings[QStringLiteral("bluetooth")] = QVariantMap{{QStringLiteral("type"), bluetoothType}};
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, QStringLiteral("/org/freedesktop/NetworkManager/Settings"),
        QStringLiteral("org.freedesktop.NetworkManager.Settings"), QStringLiteral("AddConnection"));
    call << QVariant::fromValue(settings);
    return firstReply(bus().call(call)).value<QDBusObjectPath>().path();
}

QString NetworkManagerMock::activate(const QString& connection, const QString& device) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kManagerPath, kService,
                                                       QStringLiteral("ActivateConnection"));
    call << QVariant::fromValue(QDBusObjectPath(connection)) << QVariant::fromValue(QDBusObjectPath(device))
         << QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")));
    return firstReply(bus().call(call)).value<QDBusObjectPath>().path();
}

QStringList NetworkManagerMock::activeIds() const {
    auto get = [this](const QString& path, const QString& iface, const QString& name) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            kService, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call << iface << name;
        return firstReply(bus().call(call)).value<QDBusVariant>().variant();
    };
    QStringList ids;
    const auto active =
        qdbus_cast<QList<QDBusObjectPath>>(get(kManagerPath, kService, QStringLiteral("ActiveConnections")));
    for (const QDBusObjectPath& path : active)
        ids.append(get(path.path(), QStringLiteral("org.freedesktop.NetworkManager.Connection.Active"),
                       QStringLiteral("Id"))
                       .toString());
    return ids;
}

} // namespace zantrel::test
