// Encrypted transfers against real servers: FTPS (vsftpd with a certificate made here) and SFTP
// (OpenSSH's sshd with a host key made here). Nothing is sent to a peer that is not trusted.
#include "ftp/ftp_client.h"
#include "ftp/server_check.h"
#include "ftp/server_upload.h"
#include "support/ftp_test_files.h"
#include "support/ftp_test_servers.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"
#include "support/worker.h"

#include <QDir>
#include <QtTest>

using namespace zantrel;
using namespace zantrel::test;

class TestFtpSecure : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempStore> store_;
    QTemporaryDir home_;

    ServerUploadResult upload(const FtpServerEntry& e, StatusRecorder& status) {
        FtpClient ftp(status);
        ServerUploadResult r;
        onWorker([&] {
            r = UploadToServer(ftp, status, e, QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg"));
        });
        return r;
    }

  private Q_SLOTS:
    void init() {
        store_ = std::make_unique<TempStore>();
        qputenv("HOME", QFile::encodeName(home_.path())); // known_hosts lives here
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), noiseJpeg()));
    }
    void cleanup() { store_.reset(); }

    // A self-signed certificate is refused before the login with its pin in the message; the same pin
    // stored for the server lets the file through (the server takes data only over TLS); another pin
    // is refused. The server test reports the pin it saw.
    void ftps_data() {
        QTest::addColumn<int>("pin"); // 0 none, 1 the server's, 2 another one
        QTest::addRow("unpinned") << 0;
        QTest::addRow("pinned") << 1;
        QTest::addRow("wrong pin") << 2;
    }
    void ftps() {
        QFETCH(int, pin);
        VsftpdServer server(true);
        VERIFY_FTP_SERVER(server);
        FtpServerEntry e;
        e.address = QStringLiteral("ftps://127.0.0.1");
        e.port = server.port();
        e.login = server.user();
        e.password = server.password();
        e.directory = server.writableDir();
        e.passive = true;
        e.pinnedKey = pin == 1 ? server.pin()
                      : pin == 2
                          ? QStringLiteral("sha256//") + QString(43, QLatin1Char('A')) + QLatin1Char('=')
                          : QString();
        StatusRecorder status;
        const ServerUploadResult r = upload(e, status);
        QCOMPARE(r.uploaded, pin == 1);
        const QString all = status.texts().join(QLatin1Char('|'));
        QCOMPARE(readFile(server.root() + QStringLiteral("/upload/webcam.jpg")).isNull(), pin != 1);
        if (pin != 1) {
            QVERIFY2(all.contains(server.pin()), qPrintable(all));
            QCOMPARE(server.count(QStringLiteral("USER")), 0);
        }
        QCOMPARE(CheckServer(e).fingerprint, server.pin());
    }

    // An unknown host key is refused with its fingerprint and the ssh-keyscan line to trust it; once in
    // known_hosts, a key-file login uploads into an absolute folder.
    void sftp_data() {
        QTest::addColumn<bool>("known");
        QTest::addRow("unknown host") << false;
        QTest::addRow("known host") << true;
    }
    void sftp() {
        QFETCH(bool, known);
        SshServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        QVERIFY(QDir(home_.path()).mkpath(QStringLiteral(".ssh")));
        QVERIFY(writeFile(home_.filePath(QStringLiteral(".ssh/known_hosts")),
                          known ? server.knownHostsLine().toUtf8() : QByteArray("")));
        FtpServerEntry e;
        e.address = QStringLiteral("sftp://127.0.0.1");
        e.port = server.port();
        e.login = server.user();
        e.keyFile = server.keyFile();
        e.directory = server.root();
        StatusRecorder status;
        const ServerUploadResult r = upload(e, status);
        QCOMPARE(r.uploaded, known);
        const QString all = status.texts().join(QLatin1Char('|'));
        const ServerCheckResult check = CheckServer(e);
        QVERIFY2(check.fingerprint.startsWith(QLatin1String("SHA256:")), qPrintable(check.message));
        if (known) {
            QCOMPARE(readFile(server.root() + QStringLiteral("/webcam.jpg")), noiseJpeg());
            QVERIFY(!QFile::exists(server.root() + QStringLiteral("/webcam.jpg.part")));
        } else {
            QVERIFY2(all.contains(check.fingerprint) &&
                         all.contains(QStringLiteral("ssh-keyscan -p %1 127.0.0.1").arg(server.port())),
                     qPrintable(all));
        }
    }
};

QTEST_GUILESS_MAIN(TestFtpSecure)
#include "test_ftp_secure.moc"
