// One server of the job: the picture on the server is replaced whole, flaky servers are tried again,
// a stop ends everything at once; FTPS (vsftpd with a certificate made here) and SFTP (sshd with a host
// key made here) send nothing to a peer that is not trusted; and the settings dialog's check of a server.
#include "ftp/ftp_client.h"
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
#include <atomic>
#include <future>
#include <thread>

using namespace zantrel;
using namespace zantrel::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(zantrel::test::PyFtpFault)

namespace {

FtpServerEntry entryFor(const FtpServerFixture& server, const QString& folder = {}) {
    FtpServerEntry e;
    e.address = QStringLiteral("127.0.0.1");
    e.port = server.port();
    e.login = server.user();
    e.password = server.password();
    e.directory = folder;
    e.passive = true;
    return e;
}

// Reads path over and over until done; counts the reads and those that are none of the expected contents.
void watch(const QString& path, const QList<QByteArray>& expected, const std::atomic<bool>& done, int& reads,
           int& bad) {
    for (; !done; std::this_thread::sleep_for(2ms)) {
        const QByteArray seen = readFile(path);
        reads += !seen.isNull();
        bad += !seen.isNull() && !expected.contains(seen);
    }
}

} // namespace

class TestServerUpload : public QObject {
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
    }
    void cleanup() { store_.reset(); }

    // Three pictures in a row while a viewer keeps reading the remote file: every read is a whole picture,
    // whatever the server allows (rename over, delete then rename, no rename: direct upload, said once),
    // and a connection reset mid-transfer is tried again. No temporary file stays behind.
    void replacesWhole_data() {
        QTest::addColumn<PyFtpFault>("fault");
        QTest::addColumn<QStringList>("verbs"); // seen in the server's log
        QTest::addRow("slow server") << PyFtpFault::Slow << QStringList{"RNFR", "RNTO"};
        QTest::addRow("no rename over a file") << PyFtpFault::NoRenameOver << QStringList{"DELE", "RNTO"};
        QTest::addRow("dropped upload") << PyFtpFault::DropFirstUpload << QStringList{"RNTO"};
        QTest::addRow("no rename at all") << PyFtpFault::NoRename << QStringList{"RNFR"};
    }
    void replacesWhole() {
        QFETCH(PyFtpFault, fault);
        QFETCH(QStringList, verbs);
        PyFtpServer server({}, fault);
        VERIFY_FTP_SERVER(server);
        const QList<QByteArray> pictures{noiseJpeg(320, 240), noiseJpeg(400, 300), noiseJpeg(480, 360)};
        const QString remote = server.root() + QStringLiteral("/cam/webcam.jpg");
        QVERIFY(QDir(server.root()).mkpath(QStringLiteral("cam")) && writeFile(remote, pictures[0]));
        StatusRecorder status;
        FtpClient ftp(status);
        FtpLimits limits;
        limits.retryPauses[0] = limits.retryPauses[1] = 200ms;
        ftp.setLimits(limits);
        std::atomic<bool> done{false};
        int reads = 0, bad = 0;
        std::thread viewer([&] { watch(remote, pictures, done, reads, bad); });
        const auto joinViewer = qScopeGuard([&] { // also when a check below fails
            done = true;
            if (viewer.joinable())
                viewer.join();
        });
        for (int i = 1; i < 3; ++i) {
            QVERIFY(writeFile(QStringLiteral("webcam.jpg"), pictures[i]));
            ServerUploadResult r;
            onWorker([&] {
                r = UploadToServer(ftp, status, entryFor(server, QStringLiteral("cam")),
                                   QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg"));
            });
            QVERIFY2(r.uploaded && r.folderChanged, qPrintable(status.texts().join(QLatin1Char('|'))));
            QCOMPARE(readFile(remote), pictures[i]);
        }
        done = true;
        viewer.join();
        QVERIFY(reads > 0 && bad == 0);
        for (const QString& verb : verbs)
            QVERIFY2(server.count(verb) > 0, qPrintable(verb));
        QVERIFY(!QFile::exists(remote + QStringLiteral(".part")));
        const QStringList texts = status.texts();
        QCOMPARE(texts.count(QStringLiteral("File Transfered.")), 2);
        QCOMPARE(texts.filter(QStringLiteral("refuses renames")).size(),
                 fault == PyFtpFault::NoRename ? 1 : 0);
        QCOMPARE(texts.count(QStringLiteral("Retrying... 127.0.0.1")),
                 fault == PyFtpFault::DropFirstUpload ? 1 : 0);
        QVERIFY(!texts.join(QLatin1Char('|')).contains(server.password()));
    }

    // Quick failures are tried three times, a timeout once; a missing folder is reported in the result
    // (the file went to the login folder); a stop during the pause ends it at once, and the stop itself
    // returns at once.
    void retries_data() {
        QTest::addColumn<int>("target"); // 0 refused port, 1 silent server, 2 missing folder
        QTest::addColumn<int>("connects");
        QTest::addRow("refused") << 0 << 3;
        QTest::addRow("silent server") << 1 << 1;
        QTest::addRow("missing folder") << 2 << 1;
    }
    void retries() {
        QFETCH(int, target);
        QFETCH(int, connects);
        PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        HungFtpServer hung;
        FtpServerEntry e = entryFor(server, target == 2 ? QStringLiteral("nowhere") : QString());
        e.port = target == 0 ? closedPort() : target == 1 ? hung.port() : server.port();
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), patternBytes(500)));
        StatusRecorder status;
        FtpClient ftp(status);
        FtpLimits limits;
        limits.connect = 1s;
        limits.retryPauses[0] = limits.retryPauses[1] = 100ms;
        ftp.setLimits(limits);
        ServerUploadResult r;
        onWorker([&] {
            r = UploadToServer(ftp, status, e, QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg"));
        });
        QCOMPARE(status.texts().filter(QStringLiteral("Connecting...")).size(), connects);
        QCOMPARE(r.uploaded, target == 2);
        QCOMPARE(r.folderChanged, target != 2);
        if (target != 0)
            return;
        // The same refused server with the usual pauses, stopped during the first one.
        ftp.setLimits(FtpLimits{});
        StatusRecorder* s = &status;
        auto job = std::async(std::launch::async, [&] { // waited for even when a check fails
            r = UploadToServer(ftp, *s, e, QStringLiteral("webcam.jpg"), QStringLiteral("w.jpg"));
        });
        QTRY_COMPARE_WITH_TIMEOUT(status.texts().count(QStringLiteral("Retrying... 127.0.0.1")), 3, 3000);
        QElapsedTimer clock;
        clock.start();
        ftp.FtpDisconnect();
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        job.wait();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!r.uploaded);
    }

    // The settings dialog's server test: plain words, the server's reply on failure, nothing written.
    void check_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("words");
        QTest::addRow("good login") << "127.0.0.1"
                                    << "secret"
                                    << "/cam" << true << "Connected, folder /cam is listed (1 entries)";
        QTest::addRow("bad login") << "ftp://127.0.0.1/"
                                   << "wrong"
                                   << "" << false << "Cannot connect: Login denied";
        QTest::addRow("missing folder") << "127.0.0.1"
                                        << "secret"
                                        << "nowhere" << false << "Connected, but cannot open folder nowhere:";
        QTest::addRow("line break in address")
            << "127.0.0.1\r\nDELE x"
            << "secret"
            << "" << false << "The server address holds a control character";
    }
    void check() {
        QFETCH(QString, address);
        QFETCH(QString, password);
        QFETCH(QString, folder);
        QFETCH(bool, ok);
        QFETCH(QString, words);
        PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        QVERIFY(QDir(server.root()).mkpath(QStringLiteral("cam/old")));
        FtpServerEntry entry;
        entry.address = address;
        entry.port = server.port();
        entry.login = server.user();
        entry.password = password;
        entry.directory = folder;
        const ServerCheckResult result = CheckServer(entry);
        QCOMPARE(result.ok, ok);
        QVERIFY2(result.message.startsWith(words), qPrintable(result.message));
        QVERIFY(!result.message.contains(password));
        if (!ok && !address.contains(QLatin1Char('\r')))
            QVERIFY2(result.message.contains(QStringLiteral("server said: 5")), qPrintable(result.message));
        for (const QString& verb : {QStringLiteral("STOR"), QStringLiteral("MKD"), QStringLiteral("DELE")})
            QCOMPARE(server.count(verb), 0);
    }

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
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), noiseJpeg()));
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
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), noiseJpeg()));
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

QTEST_GUILESS_MAIN(TestServerUpload)
#include "test_server_upload.moc"
