#include "capture/network_camera.h"
#include "core/secret_value.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "health/alert_delivery.h"
#include "liveview/live_view.h"
#include "publish/live_values.h"
#include "publish/publish_job.h"
#include "secrets/background_saves.h"
#include "secrets/keyring.h"
#include "secrets/secret_resolver.h"
#include "settings/server_list.h"
#include "shell/keyring_unlock_prompt.h"
#include "support/ftp_test_servers.h"
#include "support/keyring_session.h"
#include "support/message_recorder.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"
#include "transfer/ftp_client.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
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

// What a reader of the password of that section gets: the password, and why not.
std::pair<QString, QString> readPassword(const QString& section) {
    if (section == QLatin1String("NETCAM")) {
        const CameraAddress camera = ParseCameraAddress(ReadNetworkCameras().at(0));
        return {camera.password, camera.error};
    }
    if (section == QLatin1String("ALERT")) {
        const MailSettings mail = ReadMailSettings();
        return {mail.password, mail.passwordRefusal};
    }
    if (section == QLatin1String("HTTP"))
        return {ReadHttpServerConfig().password, {}};
    return {ReadServerEntry(1).password, ResolveServerPassword(1).refusal};
}

} // namespace

class TestKeyring : public QObject {
    Q_OBJECT
    QProcess display_;
    std::unique_ptr<KeyringSession> keyring_;

    QByteArray lookup(const QString& marker) const {
        return keyring_->secretTool({QStringLiteral("lookup"), QStringLiteral("application"),
                                     QStringLiteral("webcam-zantrel"), QStringLiteral("id"), idOf(marker)});
    }

  private Q_SLOTS:
    void initTestCase() {
        // The keyring's own prompts show on an X server of the test's, where xdotool answers them.
        qunsetenv("WAYLAND_DISPLAY");
        display_.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                                QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QVERIFY2(display_.waitForReadyRead(10000), "Xvfb did not start (scripts/setup.sh)");
        qputenv("DISPLAY", ':' + display_.readAllStandardOutput().trimmed());
        keyring_ = std::make_unique<KeyringSession>();
        if (!keyring_->failure().isEmpty())
            QSKIP(qPrintable(keyring_->failure()));
        InstallSecrets();
    }
    void cleanupTestCase() {
        keyring_.reset();
        display_.terminate();
        display_.waitForFinished(5000);
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

    // A server removed from the list takes its password out of the keyring; the entry that moves up
    // keeps its own.
    void removedEntriesLeaveTheKeyring() {
        TempStore store;
        store.set("FTP", QStringLiteral("SERVERS"), QStringLiteral("2"));
        for (const QString& n : {QStringLiteral("00001"), QStringLiteral("00002")}) {
            store.set("FTP", QStringLiteral("ADDRESS") + n, QStringLiteral("ftp.example.org"));
            QVERIFY(SaveSetting(QStringLiteral("FTP"), QStringLiteral("PASSWORD") + n,
                                QStringLiteral("Gone-") + n));
        }
        const QString first = GetSetting(QStringLiteral("FTP"), QStringLiteral("PASSWORD00001")),
                      second = GetSetting(QStringLiteral("FTP"), QStringLiteral("PASSWORD00002"));
        ServerListEditor servers;
        servers.rebuild();
        servers.remove(); // the first, current one
        FinishBackgroundSaves();
        QCOMPARE(lookup(first), QByteArray());
        QCOMPARE(lookup(second), QByteArray("Gone-00002"));
        QCOMPARE(GetSetting(QStringLiteral("FTP"), QStringLiteral("PASSWORD00001")), second);
    }

    // Every reader of a password has it from a credential file or the keyring, or says why not: a network
    // camera, the live view's login (closed behind one and the same unknown password while refused), the
    // alert mail (the alerts page's test mail resolves as it does) and the servers (the job's and the
    // time-lapse upload's: ReadServerEntry, ResolveServerPassword).
    void everyReaderResolves() {
        TempStore store;
        QTemporaryDir credentials;
        QFile file(credentials.filePath(QStringLiteral("pw")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("Cred-Pw1\n") == 9);
        file.close();
        qputenv("CREDENTIALS_DIRECTORY", QFile::encodeName(credentials.path()));
        store.set("NETCAM", QStringLiteral("COUNT"), QStringLiteral("1"));
        store.set("NETCAM", QStringLiteral("URL00001"), QStringLiteral("rtsp://joe@cam.example.org/live"));
        store.set("ALERT", QStringLiteral("SMTP"), QStringLiteral("smtps://mail.example.org"));
        store.set("FTP", QStringLiteral("ADDRESS00001"), QStringLiteral("ftp.example.org"));
        for (const char* name : {"NETCAM", "HTTP", "ALERT", "FTP"}) {
            const QString section = QString::fromLatin1(name);
            const QString key = section == QLatin1String("ALERT")  ? QStringLiteral("SMTPPASSWORD")
                                : section == QLatin1String("HTTP") ? QStringLiteral("PASSWORD")
                                                                   : QStringLiteral("PASSWORD00001");
            for (const auto& [stored, expected] :
                 {std::pair{"@cred:pw", "Cred-Pw1"}, {"Ring-Pw2", "Ring-Pw2"}, {"@cred:gone", ""}}) {
                QVERIFY(SaveSetting(section, key, QString::fromLatin1(stored)));
                const auto [password, why] = readPassword(section);
                if (*expected)
                    QCOMPARE(std::pair(password, why), std::pair(QString::fromLatin1(expected), QString()));
                else if (section == QLatin1String("HTTP"))
                    QVERIFY(password.size() > 30 && readPassword(section).first == password);
                else
                    QVERIFY2(password.isEmpty() && why.contains(QStringLiteral("the credential gone")),
                             qPrintable(section));
            }
        }
        qunsetenv("CREDENTIALS_DIRECTORY");
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
    // saying so once, and the upload logs in with the keyring's. Then `--headless`, whose live view logs
    // in with the keyring's: none of them shows in the settings file, any output, the state document,
    // `--status` or the live view's answers.
    void programsKeepThePasswordsHidden() {
        PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        ProgramHome home;
        QTcpServer probe; // a free port for the live view
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QByteArray port = QByteArray::number(probe.serverPort());
        probe.close();
        home.writeSettings("[PREF]\nAHANGUP=0\n[VFW]\nWARMUP=0\n[UPDATE]\nPARTI=1\nUNITI=3\n[FTP]\nUPLOAD=1\n"
                           "SERVERS=1\nADDRESS00001=127.0.0.1\nPORT00001=" +
                           QByteArray::number(server.port()) +
                           "\nLOGIN00001=cam\nPASSWORD00001=secret\n[HTTP]\nENABLE=1\nPORT=" + port +
                           "\nUSER=viewer\nPASSWORD=Live-Kx80\n[ALERT]\nSMTPPASSWORD=Mail-Kx81\n");
        const auto start = [&home](const QString& argument) {
            auto program = std::make_unique<QProcess>();
            home.prepare(*program);
            QProcessEnvironment env = program->processEnvironment();
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path()); // its own lock and state document
            program->setProcessEnvironment(env);
            program->setArguments({argument});
            program->start();
            return program;
        };
        const auto output = [](QProcess& p) {
            p.waitForFinished(60000);
            return p.readAllStandardOutput() + p.readAllStandardError();
        };
        QByteArrayList shown{output(*start(QStringLiteral("--once")))};
        QVERIFY2(shown[0].contains("3 password(s) moved from the settings file into the keyring.") &&
                     shown[0].contains("File Transfered."),
                 shown[0]);
        const auto headless = start(QStringLiteral("--headless"));
        const auto fetch = [&](const char* path, const char* login) {
            QProcess curl;
            curl.start(QStringLiteral("curl"),
                       {QStringLiteral("-si"), QStringLiteral("-m5"), QStringLiteral("-u"),
                        QLatin1String(login), "http://127.0.0.1:" + port + path});
            return output(curl);
        };
        QFile state(home.path() + QStringLiteral("/webcam-zantrel/state.json"));
        QTRY_VERIFY_WITH_TIMEOUT(server.count(QStringLiteral("STOR")) >= 2 && state.exists(), 30000);
        shown << fetch("/status.json", "viewer:Live-Kx80") << fetch("/", "viewer:Live-Kx80")
              << fetch("/status.json", "viewer:wrong") << output(*start(QStringLiteral("--status")));
        QVERIFY2(shown[1].startsWith("HTTP/1.1 200") && shown[3].startsWith("HTTP/1.1 401"), shown[1]);
        QVERIFY(state.open(QIODevice::ReadOnly));
        headless->terminate();
        shown << state.readAll() << output(*headless) << home.settings();
        for (const QByteArray& text : shown)
            for (const char* password : {"secret", "Live-Kx80", "Mail-Kx81"})
                QVERIFY2(!text.contains(password), text.constData());
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

        // The window asks once, not after every job; "Unlock..." opens the keyring's own prompt, answered
        // off the UI thread, and the status line says what came of it. A job that reads the keyring again
        // ends this lock: the next one is asked about anew.
        StatusRecorder status;
        QWidget window;
        KeyringUnlockPrompt prompt(&window, status);
        const QStringList failures{QStringLiteral("Login denied"), ResolveServerPassword(1).refusal};
        const auto questions = [&window] {
            return window.findChildren<QMessageBox*>(QStringLiteral("UnlockKeyringQuestion"));
        };
        prompt.jobEnded(failures);
        prompt.jobEnded(failures);
        QCOMPARE(questions().size(), 1);
        QMessageBox* box = questions().front();
        QVERIFY(box->isVisible() && !box->isModal());
        QVERIFY2(box->text().startsWith(QStringLiteral("The password for ftp.example.org is in the locked")),
                 qPrintable(box->text()));
        QSignalSpy ended(&prompt, &KeyringUnlockPrompt::unlockEnded);
        box->findChild<QPushButton*>(QStringLiteral("UnlockKeyring"))->click();
        QVERIFY(ended.isEmpty()); // not waited for here
        QProcess user;            // types the keyring's password into its prompt
        user.start(
            QStringLiteral("sh"),
            {QStringLiteral("-c"), QStringLiteral("xdotool search --sync --onlyvisible --class gcr-prompter "
                                                  "&& sleep 1 && xdotool type --delay 30 %1 && xdotool key "
                                                  "Return")
                                       .arg(QLatin1String(KeyringSession::kPassword))});
        QVERIFY(ended.wait(30000));
        user.waitForFinished(5000);
        QCOMPARE(ended.front().front().toBool(), true);
        QCOMPARE(status.texts().last(), QStringLiteral("Keyring unlocked."));
        QCOMPARE(ReadServerEntry(1).password, QStringLiteral("Locked-Kx76"));
        QTRY_VERIFY(questions().isEmpty());
        prompt.jobEnded(failures);
        QVERIFY(questions().isEmpty());
        prompt.jobEnded({QStringLiteral("Login denied")});
        prompt.jobEnded(failures);
        QCOMPARE(questions().size(), 1);
    }
};

QTEST_MAIN(TestKeyring)
#include "test_keyring.moc"
