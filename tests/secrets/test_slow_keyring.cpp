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
#include <QScopeGuard>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <unistd.h>
#include <utility>

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
        // Standard error from here on, whenever the save in the background gives up on the keyring.
        int said[2];
        QCOMPARE(::pipe(said), 0);
        const int error = ::dup(2);
        ::dup2(said[1], 2);
        bool restored = false;
        const auto restore = [&] {
            if (!std::exchange(restored, true))
                ::dup2(error, 2), ::close(error), ::close(said[1]);
        };
        const auto restoreOnFailure = qScopeGuard(restore);
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
        FinishBackgroundSaves();
        restore(); // the pipe's writing ends closed: it reads to its end
        QByteArray text;
        char chunk[512];
        for (ssize_t n; (n = ::read(said[0], chunk, sizeof chunk)) > 0;)
            text.append(chunk, n);
        ::close(said[0]);
        QVERIFY2(
            text.contains("webcam-zantrel: the password for the live view stays in the settings file: no "
                          "keyring: the keyring did not answer within 3 seconds\n"),
            text.constData());
        QCOMPARE(GetSetting(QStringLiteral("HTTP"), QStringLiteral("PASSWORD")), QStringLiteral("Typed-Sk1"));
    }
};

QTEST_MAIN(TestSlowKeyring)
#include "test_slow_keyring.moc"
