#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>

namespace zantrel::test {

// A private D-Bus daemon with python3-dbusmock's NetworkManager template and an Ethernet device on it,
// both stopped with the object. Pass bus() to the code under test in place of the system bus. Check
// isRunning() first.
class NetworkManagerMock {
  public:
    NetworkManagerMock();
    ~NetworkManagerMock();
    NetworkManagerMock(const NetworkManagerMock&) = delete;
    NetworkManagerMock& operator=(const NetworkManagerMock&) = delete;

    bool isRunning() const { return running_; }
    QString failure() const { return failure_; }
    QDBusConnection bus() const { return QDBusConnection(connectionName_); }
    QString address() const { return address_; }

    // Stores and activates a connection of a NetworkManager type ("gsm", "pppoe", "802-3-ethernet",
    // "bluetooth"...); bluetoothType "dun" or "panu" adds the bluetooth setting. False on failure.
    bool addActive(const QString& type, const QString& id, const QString& bluetoothType = {});
    // The Id of every active connection, in NetworkManager's order.
    QStringList activeIds() const;

  private:
    QVariant call(const QString& path, const QString& iface, const QString& method,
                  const QVariantList& args) const;
    QProcess daemon_, template_;
    QString address_, connectionName_, device_, failure_;
    bool running_ = false;
};

} // namespace zantrel::test
