// A keyring that takes the bus name and does not answer: given up on within the bound, saying so, and
// never waited for on the UI thread.
// A program of its own: the process keeps the first Secret Service it reached.
#include "capture/capture_window.h"
#include "core/secret_value.h"
#include "core/store.h"
#include "secrets/background_saves.h"
#include "secrets/keyring.h"
#include "secrets/secret_resolver.h"
#include "settings/settings_dialog.h"
#include "support/message_recorder.h"
#include "support/temp_store.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <unistd.h>

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

    // The settings dialog never waits for the keyring: a server's Test and OK with a new password return
    // at once (each would otherwise wait the whole bound); the waits happen off the UI thread.
    void settingsDoNotWait() {
        test::TempStore store;
        store.set("FTP", QStringLiteral("SERVERS"), QStringLiteral("1"));
        store.set("FTP", QStringLiteral("ADDRESS00001"), QStringLiteral("127.0.0.1"));
        store.set("FTP", QStringLiteral("PASSWORD00001"), QStringLiteral("@keyring:0f1e"));
        test::MessageRecorder messages;
        CaptureWindow capture(messages);
        SettingsDialog dialog(capture);
        dialog.show();
        dialog.findChild<QLineEdit*>(QStringLiteral("HttpPassword"))->setText(QStringLiteral("Typed-Sk1"));
        QElapsedTimer took;
        took.start();
        dialog.findChild<QPushButton*>(QStringLiteral("TestServer"))->click();
        dialog.findChild<QPushButton*>(QStringLiteral("OK_Button"))->click();
        QVERIFY(took.elapsed() < kKeyringBound.count());
        QVERIFY(!dialog.isVisible());
        auto* outcome = dialog.findChild<QLabel*>(QStringLiteral("TestOutcome"));
        QTRY_VERIFY_WITH_TIMEOUT(outcome->text().endsWith(QLatin1String("did not answer within 3 seconds")),
                                 30000);
        // Without a keyring that answers, the file as before, and standard error says so.
        int said[2];
        QCOMPARE(::pipe(said), 0);
        const int error = ::dup(2);
        ::dup2(said[1], 2);
        FinishBackgroundSaves();
        ::dup2(error, 2);
        ::close(said[1]);
        char text[512] = {};
        QVERIFY(::read(said[0], text, sizeof text - 1) > 0);
        ::close(said[0]);
        ::close(error);
        QCOMPARE(QByteArray(text),
                 "webcam-zantrel: the password for the live view stays in the settings file: no "
                 "keyring: the keyring did not answer within 3 seconds\n");
        QCOMPARE(GetSetting(QStringLiteral("HTTP"), QStringLiteral("PASSWORD")), QStringLiteral("Typed-Sk1"));
    }
};

QTEST_MAIN(TestSlowKeyring)
#include "test_slow_keyring.moc"
