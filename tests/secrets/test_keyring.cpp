#include "core/secret_value.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "publish/live_values.h"
#include "publish/publish_job.h"
#include "secrets/keyring.h"
#include "secrets/secret_resolver.h"
#include "support/ftp_test_servers.h"
#include "support/keyring_session.h"
#include "support/message_recorder.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"
#include "transfer/ftp_client.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <memory>

using namespace zantrel;
using namespace zantrel::test;

namespace {

QByteArray fileText(const TempStore& store) {
    QFile f(store.storePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString idOf(const QString& marker) {
    return marker.mid(kKeyringPrefix.size());
}

} // namespace

class TestKeyring : public QObject {
    Q_OBJECT
    std::unique_ptr<KeyringSession> keyring_;

    QByteArray lookup(const QString& marker) const {
        return keyring_->secretTool({QStringLiteral("lookup"), QStringLiteral("application"),
                                     QStringLiteral("webcam-zantrel"), QStringLiteral("id"), idOf(marker)});
    }

  private Q_SLOTS:
    void initTestCase() {
        keyring_ = std::make_unique<KeyringSession>();
        if (!keyring_->failure().isEmpty())
            QSKIP(qPrintable(keyring_->failure()));
        InstallSecrets();
    }

    // A password saved into the settings lands in the keyring; the file keeps a marker that reads back.
    void typedPasswordGoesToTheKeyring() {
        TempStore store;
        store.set("FTP", QStringLiteral("ADDRESS00001"), QStringLiteral("ftp.example.org"));
        store.set("FTP", QStringLiteral("LOGIN00001"), QStringLiteral("joe"));
        QVERIFY(SaveSetting(QStringLiteral("FTP"), QStringLiteral("PASSWORD00001"),
                            QStringLiteral("Typed-Kx71")));
        const QString marker = GetSetting(QStringLiteral("FTP"), QStringLiteral("PASSWORD00001"));
        QVERIFY2(IsKeyringMarker(marker), qPrintable(marker));
        QVERIFY(!fileText(store).contains("Typed-Kx71"));
        QCOMPARE(lookup(marker), QByteArray("Typed-Kx71"));
        QCOMPARE(ReadServerEntry(1).password, QStringLiteral("Typed-Kx71"));
        const QByteArray label =
            keyring_->secretTool({QStringLiteral("search"), QStringLiteral("id"), idOf(marker)});
        QVERIFY2(label.contains("joe@ftp.example.org") && label.contains(store.storePath().toUtf8()), label);

        // Saved again unchanged (the settings page shows the marker): nothing moves. A new password
        // takes the old item's place; the old item goes once no copied entry names it.
        const QString ftp = QStringLiteral("FTP"), first = QStringLiteral("PASSWORD00001"),
                      copy = QStringLiteral("PASSWORD00002");
        QVERIFY(SaveSetting(ftp, first, marker) && SaveSetting(ftp, copy, marker));
        QCOMPARE(GetSetting(ftp, first), marker);
        QVERIFY(SaveSetting(ftp, first, QStringLiteral("Typed-Kx72")));
        const QString replaced = GetSetting(ftp, first);
        QCOMPARE(lookup(replaced), QByteArray("Typed-Kx72"));
        QCOMPARE(lookup(marker), QByteArray("Typed-Kx71"));
        QVERIFY(SaveSetting(ftp, copy, QStringLiteral("Typed-Kx73")));
        QCOMPARE(lookup(marker), QByteArray());

        // A marker whose item is gone says so, and names the server.
        keyring_->secretTool({QStringLiteral("clear"), QStringLiteral("id"), idOf(replaced)});
        QCOMPARE(ResolveServerPassword(1).refusal,
                 QStringLiteral("the password for ftp.example.org is missing from the keyring"));
    }

    // Five kinds of password found plain in the file move, once, and read back with secret-tool.
    void plainPasswordsMoveOnce() {
        TempStore store;
        const std::pair<const char*, const char*> plain[] = {
            {"FTP", "PASSWORD00001"},
            {"FTP", "PASSWORD00002"}, // an s3:// entry's secret
            {"NETCAM", "PASSWORD00001"},
            {"HTTP", "PASSWORD"},
            {"ALERT", "SMTPPASSWORD"}};
        store.set("FTP", QStringLiteral("ADDRESS00002"), QStringLiteral("s3://bucket.example.org/cam"));
        int n = 0;
        for (const auto& [section, key] : plain) // straight into the file, as an older version left it
            SettingsStore::instance().setValue(QString::fromLatin1(section), QString::fromLatin1(key),
                                               QStringLiteral("Plain-Mv%1").arg(++n));
        const QString said = MovePasswordsToKeyring();
        QCOMPARE(said, QStringLiteral("5 password(s) moved from the settings file into the keyring."));
        QVERIFY(!fileText(store).contains("Plain-Mv"));
        n = 0;
        for (const auto& [section, key] : plain) {
            const QString marker = GetSetting(QString::fromLatin1(section), QString::fromLatin1(key));
            QCOMPARE(lookup(marker), QStringLiteral("Plain-Mv%1").arg(++n).toUtf8());
        }
        QCOMPARE(MovePasswordsToKeyring(), QString());
    }

    // Without a session bus: the file as before, but a password once in the keyring is not written back.
    void noKeyring() {
        TempStore store;
        QVERIFY(SaveSetting(QStringLiteral("HTTP"), QStringLiteral("PASSWORD"), QStringLiteral("Held-Kx73")));
        const QString marker = GetSetting(QStringLiteral("HTTP"), QStringLiteral("PASSWORD"));
        QVERIFY(IsKeyringMarker(marker));
        const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        const bool replaced =
            SaveSetting(QStringLiteral("HTTP"), QStringLiteral("PASSWORD"), QStringLiteral("New-Kx74"));
        const bool plainSaved =
            SaveSetting(QStringLiteral("ALERT"), QStringLiteral("SMTPPASSWORD"), QStringLiteral("Mail-Kx75"));
        const QString refusal =
            ResolveSecret(marker, PasswordPlace(QStringLiteral("HTTP"), QStringLiteral("PASSWORD"))).refusal;
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QVERIFY(!replaced && plainSaved);
        QCOMPARE(GetSetting(QStringLiteral("HTTP"), QStringLiteral("PASSWORD")), marker);
        QCOMPARE(GetSetting(QStringLiteral("ALERT"), QStringLiteral("SMTPPASSWORD")),
                 QStringLiteral("Mail-Kx75"));
        QVERIFY(refusal.startsWith(
            QStringLiteral("the password for the live view is in the keyring, which cannot")));
    }

    // A job logs in with the password the keyring holds; a server whose password cannot be had fails
    // alone, saying why, and the others still get the picture.
    void jobUsesTheKeyring() {
        TempStore store;
        PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        SaveSetting(keys::ImageFileName, QStringLiteral("cam.jpg"));
        store.useFtpServers(QStringLiteral("2"), {server.port(), server.port()});
        QVERIFY(IsKeyringMarker(GetSetting(QStringLiteral("FTP"), QStringLiteral("PASSWORD00002"))));
        store.set("FTP", QStringLiteral("PASSWORD00001"), QStringLiteral("@cred:absent"));
        StatusRecorder status;
        MessageRecorder messages;
        LiveValues live;
        QImage frame(64, 48, QImage::Format_RGB888);
        frame.fill(Qt::darkGreen);
        PublishServices s;
        s.grabFrame = [&](QImage& target) { target = frame; };
        s.status = &status;
        s.messages = &messages;
        s.live = &live;
        s.hangUp = [] {};
        s.targets = std::make_shared<TargetPool>();
        const PublishOutcome outcome = RunPublishJob(s);
        QCOMPARE(outcome.serversTried, 2);
        QCOMPARE(outcome.serversUploaded, 1);
        QVERIFY(!outcome.targets[0].delivered && outcome.targets[1].delivered);
        QVERIFY2(outcome.targets[0].reason.startsWith(
                     QStringLiteral("no password for 127.0.0.1: the credential absent")),
                 qPrintable(outcome.targets[0].reason));
        QVERIFY(!fileText(store).contains("secret"));
        for (const QString& text : status.texts())
            QVERIFY(!text.contains(QStringLiteral("secret")));
    }

    // The program itself, `--once` on a settings file of an older version: the passwords move at start,
    // saying so once, the upload logs in with the keyring's, and none of them shows anywhere.
    void onceMovesThePasswordsAndUploads() {
        PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        ProgramHome home;
        home.writeSettings("[PREF]\nAHANGUP=0\n[VFW]\nWARMUP=0\n[FTP]\nUPLOAD=1\nSERVERS=1\n"
                           "ADDRESS00001=127.0.0.1\nPORT00001=" +
                           QByteArray::number(server.port()) +
                           "\nLOGIN00001=cam\nPASSWORD00001=secret\n[HTTP]\nPASSWORD=Live-Kx80\n"
                           "[ALERT]\nSMTPPASSWORD=Mail-Kx81\n");
        QProcess program;
        home.prepare(program);
        program.setArguments({QStringLiteral("--once")});
        program.start();
        QVERIFY(program.waitForFinished(60000));
        const QByteArray out = program.readAllStandardOutput(), err = program.readAllStandardError();
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(err.contains("3 password(s) moved from the settings file into the keyring."), err);
        QVERIFY2(out.contains("File Transfered."), out);
        for (const QByteArray& text : {out, err, home.settings()})
            for (const char* password : {"secret", "Live-Kx80", "Mail-Kx81"})
                QVERIFY2(!text.contains(password), password);
    }

    // Last: a locked keyring refuses at once, naming the server, and asks nobody.
    void lockedKeyring() {
        TempStore store;
        store.set("FTP", QStringLiteral("ADDRESS00001"), QStringLiteral("ftp.example.org"));
        QVERIFY(SaveSetting(QStringLiteral("FTP"), QStringLiteral("PASSWORD00001"),
                            QStringLiteral("Locked-Kx76")));
        QCOMPARE(ReadServerEntry(1).password, QStringLiteral("Locked-Kx76"));
        QVERIFY(keyring_->lockAll());
        QElapsedTimer took;
        took.start();
        for (int attempt = 0; attempt < 2; ++attempt) // each job asks again
            QCOMPARE(ResolveServerPassword(1).refusal,
                     QStringLiteral("the password for ftp.example.org is in the locked keyring"));
        QVERIFY(took.elapsed() < kKeyringBound.count());
        QCOMPARE(ReadServerEntry(1).password, QString());
    }
};

QTEST_MAIN(TestKeyring)
#include "test_keyring.moc"
