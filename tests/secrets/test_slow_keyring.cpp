// A keyring that takes the bus name and does not answer: given up on within the bound, saying so.
// A program of its own: the process keeps the first Secret Service it reached.
#include "core/secret_value.h"
#include "secrets/keyring.h"
#include "secrets/secret_resolver.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QThread>

using namespace zantrel;

class TestSlowKeyring : public QObject {
    Q_OBJECT
    QProcess bus_, keyring_;

  private Q_SLOTS:
    void initTestCase() {
        bus_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                   QStringLiteral("--print-address=1")});
        QVERIFY(bus_.waitForReadyRead(5000));
        const QByteArray address = bus_.readAllStandardOutput().trimmed();
        QVERIFY(!address.isEmpty());
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        keyring_.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(ZANTREL_TEST_DATA_DIR "/slow_keyring.py")});
        QDBusConnection bus =
            QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("wait"));
        QDeadlineTimer until(10000);
        while (!bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets")) &&
               !until.hasExpired())
            QThread::msleep(50);
        QVERIFY(!until.hasExpired());
        InstallSecrets();
    }
    void cleanupTestCase() {
        for (QProcess* p : {&keyring_, &bus_}) {
            p->kill();
            p->waitForFinished(3000);
        }
    }

    void givenUpOnWithinTheBound() {
        QElapsedTimer took;
        took.start();
        const SecretLookup found = ResolveSecret(QStringLiteral("@keyring:0f1e"),
                                                 {QStringLiteral("FTP"), QStringLiteral("PASSWORD00001"),
                                                  QStringLiteral("ftp.example.org"), QStringLiteral("joe")});
        QVERIFY(took.elapsed() < kKeyringBound.count() + 2000);
        QCOMPARE(found.refusal,
                 QStringLiteral("the password for ftp.example.org is in the keyring, which cannot be "
                                "read: no keyring: the keyring did not answer within 3 seconds"));
    }
};

QTEST_MAIN(TestSlowKeyring)
#include "test_slow_keyring.moc"
