// One server of the job: the picture on the server is replaced whole, flaky servers are tried again,
// a stop ends everything at once; FTPS (vsftpd with a certificate made here) and SFTP (sshd with a host
// key made here) send nothing to a peer that is not trusted; and the settings dialog's check of a server.
#include "ftp/ftp_client.h"
#include "ftp/secure_channel.h"
#include "ftp/server_check.h"
#include "ftp/server_upload.h"
#include "support/ftp_test_files.h"
#include "support/ftp_test_servers.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"
#include "support/worker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QtTest>
#include <future>
#include <thread>

using namespace zantrel;
using namespace zantrel::test;
using namespace std::chrono_literals;

namespace {

const QString kJpg = QStringLiteral("webcam.jpg");

FtpServerEntry entryFor(const FtpServerFixture& server, const QString& folder = {},
                        const QString& address = QStringLiteral("127.0.0.1")) {
    return {address, server.port(), server.user(), server.password(), folder, true, true, {}, {}};
}

ServerUploadResult upload(FtpClient& ftp, StatusRecorder& status, const FtpServerEntry& e) {
    ServerUploadResult r;
    onWorker([&] { r = UploadToServer(ftp, status, e, readFile(kJpg), kJpg); });
    return r;
}

} // namespace

class TestServerUpload : public QObject {
    Q_OBJECT

    TempStore store_;
    QTemporaryDir home_;

  private Q_SLOTS:
    void initTestCase() { qputenv("HOME", QFile::encodeName(home_.path())); } // known_hosts lives here

    // Three pictures in a row while a viewer keeps reading the remote file: every read is a whole picture,
    // whatever the server allows (rename over, delete then rename, no rename: direct upload, said once),
    // and a connection reset mid-transfer is tried again. No temporary file stays behind, no password shows.
    void replacesWhole_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("verbs"); // seen in the server's log
        QTest::addRow("no rename over a file")
            << QStringLiteral("no-rename-over") << QStringList{"DELE", "RNTO"};
        QTest::addRow("dropped upload") << QStringLiteral("drop-first-upload") << QStringList{"RNTO"};
        QTest::addRow("no rename at all") << QStringLiteral("no-rename") << QStringList{"RNFR"};
    }
    void replacesWhole() {
        QFETCH(QString, fault);
        QFETCH(QStringList, verbs);
        PyFtpServer server({}, fault);
        VERIFY_FTP_SERVER(server);
        const QList<QByteArray> pictures{noiseJpeg(320, 240), noiseJpeg(400, 300), noiseJpeg(480, 360)};
        const QString remote = server.root() + QStringLiteral("/cam/webcam.jpg");
        QVERIFY(QDir(server.root()).mkpath(QStringLiteral("cam")) && writeFile(remote, pictures[0]));
        StatusRecorder status;
        FtpClient ftp(status);
        ftp.setLimits(FtpLimits{30s, 30s, 30s, 60s, {200ms, 200ms}}); // short pauses between tries
        int reads = 0, bad = 0; // reads of the remote file, and those that were none of the pictures
        std::jthread viewer([&](std::stop_token stop) {
            for (; !stop.stop_requested(); std::this_thread::sleep_for(2ms)) {
                const QByteArray seen = readFile(remote);
                reads += !seen.isNull();
                bad += !seen.isNull() && !pictures.contains(seen);
            }
        }); // joined also when a check below fails
        for (int i = 1; i < 3; ++i) {
            QVERIFY(writeFile(kJpg, pictures[i]));
            const ServerUploadResult r = upload(ftp, status, entryFor(server, QStringLiteral("cam")));
            QVERIFY2(r.uploaded && r.folderChanged, qPrintable(status.texts().join(QLatin1Char('|'))));
            QCOMPARE(readFile(remote), pictures[i]);
        }
        viewer.request_stop();
        viewer.join();
        // A server without renames gets direct uploads: there a viewer may catch a partial picture.
        QVERIFY2(reads > 0 && (bad == 0 || fault == u"no-rename"), qPrintable(QString::number(bad)));
        for (const QString& verb : verbs)
            QVERIFY2(server.count(verb) > 0, qPrintable(verb));
        QVERIFY(!QFile::exists(remote + QStringLiteral(".part")));
        const QStringList texts = status.texts();
        QCOMPARE(texts.count(QStringLiteral("File Transfered.")), 2);
        QCOMPARE(texts.filter(QStringLiteral("refuses renames")).size(), fault == u"no-rename" ? 1 : 0);
        QCOMPARE(texts.count(QStringLiteral("Retrying... 127.0.0.1")), fault == u"drop-first-upload" ? 1 : 0);
        QVERIFY(!texts.join(QLatin1Char('|')).contains(server.password()));
    }

    // A missing folder is reported in the result (the file went to the login folder). A stop during the
    // pause before a retry ends the job at once, and the stop itself returns at once.
    void missingFolderAndStop() {
        PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        QVERIFY(writeFile(kJpg, patternBytes(500)));
        StatusRecorder status;
        FtpClient ftp(status);
        ServerUploadResult r = upload(ftp, status, entryFor(server, QStringLiteral("nowhere")));
        QVERIFY(r.uploaded && !r.folderChanged);
        FtpServerEntry e = entryFor(server);
        e.port = closedPort(); // refused: tried again after the usual pauses
        auto job =
            std::async(std::launch::async, [&] { r = UploadToServer(ftp, status, e, readFile(kJpg), kJpg); });
        QTRY_COMPARE_WITH_TIMEOUT(status.texts().count(QStringLiteral("Retrying... 127.0.0.1")), 1, 3000);
        QElapsedTimer clock;
        clock.start();
        ftp.FtpDisconnect();
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        job.wait();
        QVERIFY2(clock.elapsed() < 1000 && !r.uploaded, qPrintable(QString::number(clock.elapsed())));
    }

    // The settings dialog's server test: plain words, the server's reply on failure, nothing written.
    void check_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("words"); // how the message starts; "Connected, folder" when it succeeds
        const auto row = [](const char* name, const char* address, const char* password, const char* folder,
                            const char* words) {
            QTest::newRow(name) << QString::fromUtf8(address) << QString::fromUtf8(password)
                                << QString::fromUtf8(folder) << QString::fromUtf8(words);
        };
        row("good login", "127.0.0.1", "secret", "/cam", "Connected, folder /cam is listed (1 entries)");
        row("bad login", "ftp://127.0.0.1/", "wrong", "", "Cannot connect: Login denied");
        row("missing folder", "127.0.0.1", "secret", "nowhere", "Connected, but cannot open folder nowhere:");
        row("line break in address", "127.0.0.1\r\nDELE x", "secret", "",
            "The server address holds a control character");
    }
    void check() {
        QFETCH(QString, address);
        QFETCH(QString, password);
        QFETCH(QString, folder);
        QFETCH(QString, words);
        PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        QVERIFY(QDir(server.root()).mkpath(QStringLiteral("cam/old")));
        FtpServerEntry entry = entryFor(server, folder, address);
        entry.password = password;
        const ServerCheckResult result = CheckServer(entry);
        const bool ok = words.startsWith(QLatin1String("Connected, folder"));
        QCOMPARE(result.ok, ok);
        QVERIFY2(result.message.startsWith(words) && !result.message.contains(password),
                 qPrintable(result.message));
        if (!ok && !address.contains(QLatin1Char('\r')))
            QVERIFY2(result.message.contains(QStringLiteral("server said: 5")), qPrintable(result.message));
        for (const char* verb : {"STOR", "MKD", "DELE"})
            QCOMPARE(server.count(QString::fromLatin1(verb)), 0);
    }

    // The pin of an awkwardly encoded certificate is that of the key in its canonical encoding,
    // as openssl computes it; a key outside the certificate's body is no key.
    void certificatePin_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("pin");
        QTest::newRow("key length in long form") << "certificate_long_length.pem"
                                                 << "sha256//+FDzNMePm3G9FGMPIDwojd2cmcxYp9P7Q0jnjs43EQw=";
        QTest::newRow("body shorter than its fields") << "certificate_short_body.pem" << QString();
    }
    void certificatePin() {
        QFETCH(QString, file);
        QFETCH(QString, pin);
        QCOMPARE(CertificatePin(readFile(QStringLiteral(ZANTREL_TEST_DATA_DIR "/") + file)), pin);
    }

    // FTPS: a self-signed certificate is refused before the login with its pin in the message; the same
    // pin stored for the server lets pictures larger than 115 KB through in active mode, which fails over
    // TLS and gives way to passive mode at once, said once (the server takes data only over TLS, and TLS
    // 1.2: under 1.3 every other such upload fails); another pin is refused, also over implicit TLS on
    // port 990. SFTP: an unknown host key (ECDSA P-384) is refused with its type, fingerprint and the
    // ssh-keyscan line to trust it, a changed one with its new fingerprint; once in known_hosts, a key-file
    // login uploads into an absolute folder. The server test reports the key it saw.
    void secure_data() {
        QTest::addColumn<bool>("sftp");
        QTest::addColumn<int>("trust"); // 0 nothing stored, 1 the server's key, 2 another key
        QTest::addRow("ftps unpinned") << false << 0;
        QTest::addRow("ftps pinned, active") << false << 1;
        QTest::addRow("ftps implicit, wrong pin") << false << 2;
        QTest::addRow("sftp unknown host") << true << 0;
        QTest::addRow("sftp known host") << true << 1;
        QTest::addRow("sftp changed host key") << true << 2;
    }
    void secure() {
        QFETCH(bool, sftp);
        QFETCH(int, trust);
        const QByteArray picture = noiseJpeg(640, 480);
        QVERIFY(picture.size() > 115 * 1024 && writeFile(kJpg, picture));
        std::unique_ptr<VsftpdServer> ftps;
        std::unique_ptr<SshServer> ssh;
        FtpServerEntry e;
        QString landed, advice; // what the refusal says to do
        if (sftp) {
            ssh = std::make_unique<SshServer>(trust ? QStringLiteral("-t ed25519")
                                                    : QStringLiteral("-t ecdsa -b 384"));
            VERIFY_FTP_SERVER(*ssh);
            // Another key under the server's name: the client's own.
            const QString other = ssh->knownHostsLine().section(u' ', 0, 0) + u' ' +
                                  QString::fromUtf8(readFile(ssh->keyFile() + QStringLiteral(".pub")));
            QVERIFY(QDir(home_.path()).mkpath(QStringLiteral(".ssh")));
            QVERIFY(writeFile(home_.filePath(QStringLiteral(".ssh/known_hosts")),
                              (trust == 1   ? ssh->knownHostsLine()
                               : trust == 2 ? other
                                            : QString())
                                  .toUtf8()));
            e = entryFor(*ssh, ssh->root(), QStringLiteral("sftp://127.0.0.1"));
            e.keyFile = ssh->keyFile();
            landed = ssh->root() + QStringLiteral("/webcam.jpg");
            advice = trust ? QStringLiteral("has changed") : QStringLiteral("(ecdsa-sha2-nistp384 SHA256:");
        } else {
            ftps = std::make_unique<VsftpdServer>(true, trust == 2);
            VERIFY_FTP_SERVER(*ftps);
            e = entryFor(*ftps, ftps->writableDir(), QStringLiteral("ftps://127.0.0.1"));
            e.passive = false;
            const QString otherPin = QStringLiteral("sha256//") + QString(43, QLatin1Char('A')) + u'=';
            e.pinnedKey = trust == 1 ? ftps->pin() : trust == 2 ? otherPin : QString();
            landed = ftps->root() + QStringLiteral("/upload/webcam.jpg");
        }
        StatusRecorder status;
        FtpClient ftp(status);
        for (int round = 0; round < (!sftp && trust == 1 ? 2 : 1); ++round)
            QVERIFY2(upload(ftp, status, e).uploaded == (trust == 1), qPrintable(status.texts().join(u'|')));
        QCOMPARE(readFile(landed), trust == 1 ? picture : QByteArray());
        QVERIFY(!QFile::exists(landed + QStringLiteral(".part")));
        const ServerCheckResult check = CheckServer(e);
        QVERIFY2(sftp ? check.fingerprint.startsWith(QLatin1String("SHA256:"))
                      : check.fingerprint == ftps->pin(),
                 qPrintable(check.message));
        const QString all = status.texts().join(QLatin1Char('|'));
        if (trust != 1)
            QVERIFY2(all.contains(check.fingerprint) && all.contains(advice) &&
                         (sftp || ftps->count(QStringLiteral("USER")) == 0),
                     qPrintable(all));
        if (sftp || trust != 1)
            return;
        QCOMPARE(status.texts().count(QStringLiteral("Active mode failed over TLS: using passive mode")), 1);
        QCOMPARE(ftps->count(QStringLiteral("EPRT")) + ftps->count(QStringLiteral("PORT")), 1);
        QVERIFY(ftps->log().contains(QLatin1String("SSL version: TLSv1.2")) &&
                !ftps->log().contains(QLatin1String("SSL version: TLSv1.3")));
    }
};

QTEST_GUILESS_MAIN(TestServerUpload)
#include "test_server_upload.moc"
