#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace zantrel::test {

// A private D-Bus daemon with python3-dbusmock's NetworkManager template on it, both stopped by the
// destructor. Pass bus() to the code under test in place of the system bus. Check isRunning() first.
// Without the template (withNetworkManager false) the bus is empty: NetworkManager is absent.
class NetworkManagerMock {
  public:
    explicit NetworkManagerMock(bool withNetworkManager = true);
    ~NetworkManagerMock();
    NetworkManagerMock(const NetworkManagerMock&) = delete;
    NetworkManagerMock& operator=(const NetworkManagerMock&) = delete;

    bool isRunning() const { return running_; }
    QString failure() const { return failure_; }
    QDBusConnection bus() const;
    QString address() const { return address_; }

    // The template needs a device before anything can be activated; returns its object path.
    QString addEthernetDevice(const QString& iface = QStringLiteral("eth0"));
    // A stored connection of a NetworkManager type ("gsm", "pppoe", "802-3-ethernet", "bluetooth"...);
    // bluetoothType "dun" or "panu" adds the bluetooth setting. Returns its object path.
    QString addConnection(const QString& type, const QString& id, const QString& bluetoothType = {});
    // Activates a stored connection on a device; returns the active connection's path.
    QString activate(const QString& connection, const QString& device);
    // The Id of every active connection, in NetworkManager's order.
    QStringList activeIds() const;

  private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QProcess template_;
    QString address_;
    QString connectionName_;
    bool running_ = false;
    QString failure_;
};

} // namespace zantrel::test
