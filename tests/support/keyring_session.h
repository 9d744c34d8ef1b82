#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace zantrel::test {

// A private session bus with a gnome-keyring-daemon on it, unlocked with kPassword, its keyrings in a
// temporary folder; this process's DBUS_SESSION_BUS_ADDRESS points at it for the object's lifetime.
// Start it before anything in the process talks to a session bus.
class KeyringSession {
  public:
    static constexpr const char* kPassword = "unlock-test-keyring";
    KeyringSession();
    ~KeyringSession();
    // Empty when running; else why not (a program missing, a daemon that did not come up).
    QString failure() const { return failure_; }
    QString address() const { return address_; }
    // secret-tool with these arguments on this bus; its standard output.
    QByteArray secretTool(const QStringList& arguments, const QByteArray& input = {}) const;
    // Locks every collection, as the desktop does when the screen locks.
    bool lockAll() const;

  private:
    QTemporaryDir home_;
    QProcess bus_, keyring_;
    QString address_, failure_;
};

} // namespace zantrel::test
