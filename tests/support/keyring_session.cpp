#include "support/keyring_session.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

namespace zantrel::test {

namespace {

QProcessEnvironment privateEnvironment(const QString& home, const QString& address) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    return env;
}

} // namespace

KeyringSession::KeyringSession() {
    for (const char* tool : {"dbus-daemon", "gnome-keyring-daemon", "secret-tool"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            failure_ =
                QStringLiteral("%1 is not installed (scripts/setup.sh)").arg(QString::fromLatin1(tool));
            return;
        }
    bus_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                               QStringLiteral("--print-address=1")});
    QByteArray line;
    for (QDeadlineTimer until(5000); !line.contains('\n') && !until.hasExpired();)
        if (bus_.waitForReadyRead(int(until.remainingTime())))
            line += bus_.readAllStandardOutput();
    address_ = QString::fromUtf8(line.trimmed());
    if (address_.isEmpty()) {
        failure_ = QStringLiteral("the private session bus did not start");
        return;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
    keyring_.setProcessEnvironment(privateEnvironment(home_.path(), address_));
    keyring_.start(
        QStringLiteral("gnome-keyring-daemon"),
        {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
    // Written only once it runs: the password goes out from waitForBytesWritten, there is no event loop.
    if (!keyring_.waitForStarted(5000)) {
        failure_ = QStringLiteral("gnome-keyring-daemon did not start");
        return;
    }
    keyring_.write(kPassword);
    keyring_.waitForBytesWritten(5000);
    keyring_.closeWriteChannel();
    // Our daemon must own the name first: a probe before that would start another one through the bus's
    // activation, without the unlock.
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address_, QStringLiteral("keyring-session-wait"));
        for (QDeadlineTimer until(10000);
             !bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")) &&
             !until.hasExpired();)
            QThread::msleep(50);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("keyring-session-wait"));
    // Ready once secret-tool can store into the login collection.
    QByteArray said;
    for (QDeadlineTimer until(10000); !until.hasExpired(); QThread::msleep(100)) {
        QProcess probe;
        probe.setProcessEnvironment(privateEnvironment(home_.path(), address_));
        probe.start(QStringLiteral("secret-tool"), {QStringLiteral("store"), QStringLiteral("--label=probe"),
                                                    QStringLiteral("probe"), QStringLiteral("1")});
        probe.waitForStarted(5000);
        probe.write("probe");
        probe.waitForBytesWritten(5000);
        probe.closeWriteChannel();
        if (probe.waitForFinished(5000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0)
            return;
        said = probe.readAllStandardError();
    }
    failure_ = QStringLiteral("gnome-keyring-daemon did not come up on the private bus: %1")
                   .arg(QString::fromLocal8Bit(said.trimmed()));
}

KeyringSession::~KeyringSession() {
    for (QProcess* p : {&keyring_, &bus_}) {
        p->terminate();
        if (!p->waitForFinished(3000))
            p->kill();
        p->waitForFinished(3000);
    }
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

QByteArray KeyringSession::secretTool(const QStringList& arguments, const QByteArray& input) const {
    QProcess tool;
    tool.setProcessEnvironment(privateEnvironment(home_.path(), address_));
    tool.start(QStringLiteral("secret-tool"), arguments);
    tool.waitForStarted(5000);
    tool.write(input);
    tool.waitForBytesWritten(5000);
    tool.closeWriteChannel();
    tool.waitForFinished(10000);
    return tool.readAllStandardOutput();
}

bool KeyringSession::lockAll() const {
    QDBusConnection bus = QDBusConnection::connectToBus(address_, QStringLiteral("keyring-session-lock"));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.secrets"), QStringLiteral("/org/freedesktop/secrets"),
        QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Lock"));
    call << QVariant::fromValue(
        QList<QDBusObjectPath>{QDBusObjectPath(QStringLiteral("/org/freedesktop/secrets/collection/login"))});
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    QDBusConnection::disconnectFromBus(QStringLiteral("keyring-session-lock"));
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace zantrel::test
