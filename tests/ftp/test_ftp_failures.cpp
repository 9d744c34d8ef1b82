// What the user sees when a server fails, hangs or is stopped, and that the connection recovers.
#include "core/setting_keys.h"
#include "ftp/ftp_client.h"
#include "support/ftp_test_files.h"
#include "support/ftp_test_servers.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"
#include "support/worker.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>
#include <future>

using namespace zantrel;
using namespace zantrel::test;
using namespace std::chrono_literals;

namespace {

const QString kHost = QStringLiteral("127.0.0.1");
const QString kBeep = StatusRecorder::kBeep;

FtpLimits shortLimits() {
    FtpLimits l;
    l.connect = 1500ms;
    l.reply = 1s;
    l.accept = 1500ms;
    l.stall = 2s;
    return l;
}

QString joined(const StatusRecorder& status) {
    return status.events().join(QLatin1Char('|'));
}

} // namespace

class TestFtpFailures : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempStore> store_;

  private Q_SLOTS:
    void init() { store_ = std::make_unique<TempStore>(); }
    void cleanup() { store_.reset(); }

    // A connect that fails: the texts, the beep, no connection; the directory change and upload that
    // the job still runs fail at once without touching the network; disconnect ends the sequence.
    void connectFailures_data() {
        QTest::addColumn<int>("server"); // 0 refused, 1 unknown host, 2 bad password (pyftpdlib),
                                         // 3 account unknown (vsftpd), 4 hung
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused port") << 0 << QStringLiteral("Couldn't connect to server");
        QTest::newRow("unknown host") << 1 << QStringLiteral("Couldn't resolve host name");
        QTest::newRow("bad password") << 2 << QStringLiteral("Login denied");
        QTest::newRow("vsftpd unknown user") << 3 << QStringLiteral("Login denied");
        QTest::newRow("server never answers") << 4 << QStringLiteral("Timeout was reached");
    }
    void connectFailures() {
        QFETCH(int, server);
        QFETCH(QString, reason);
        std::unique_ptr<FtpServerFixture> real;
        HungFtpServer hung;
        QString host = kHost;
        quint16 port = 0;
        QString user = QStringLiteral("cam");
        if (server == 0) {
            port = closedPort();
        } else if (server == 1) {
            host = QStringLiteral("no-such-host.invalid");
            port = 21;
        } else if (server == 4) {
            port = hung.port();
        } else {
            if (server == 3 && !VsftpdServer::unavailableReason().isEmpty())
                QSKIP(qPrintable(VsftpdServer::unavailableReason()));
            real = makeFtpServer(server == 2 ? FtpServerKind::PyFtpdLib : FtpServerKind::Vsftpd);
            QVERIFY2(real->isRunning(), qPrintable(real->failure()));
            port = real->port();
        }
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), patternBytes(300)));

        StatusRecorder status;
        FtpClient ftp(status);
        ftp.setLimits(shortLimits());
        bool connected = true, changed = true, uploaded = true;
        QElapsedTimer clock;
        clock.start();
        onWorker([&] {
            connected = ftp.FtpConnect(host, port, user, QStringLiteral("wrong"));
            changed = ftp.FtpSetCurrentDirectory(QStringLiteral("cam"));
            uploaded = ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg"));
            ftp.FtpDisconnect();
        });
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!connected && !changed && !uploaded);
        QVERIFY(!ftp.isConnected());
        const QStringList events = status.events();
        QCOMPARE(events.size(), 7);
        QCOMPARE(events.mid(0, 3), (QStringList{QStringLiteral("Connecting... ") + host,
                                                QStringLiteral("Cannot connect to FTP Server"), kBeep}));
        QVERIFY2(events[3].startsWith(QLatin1String("Error:")) && events[3].contains(reason),
                 qPrintable(events[3]));
        QCOMPARE(events[4], QStringLiteral("Can't change directory."));
        QVERIFY(events[5].startsWith(QLatin1String("Error:")));
        QCOMPARE(events.last(), QStringLiteral("End Transfering"));
        if (real)
            QCOMPARE(real->count(QStringLiteral("STOR")), 0);
    }

    // Line breaks in stored texts never reach the server as commands of their own.
    void noCommandInjection() {
        PyFtpServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), patternBytes(10)));
        const QString injected = QStringLiteral("\r\nMKD injected");
        StatusRecorder status;
        FtpClient ftp(status);
        QList<bool> results;
        onWorker([&] {
            results << ftp.FtpConnect(kHost, server.port(), server.user(), server.password() + injected);
            results << ftp.FtpConnect(kHost, server.port(), server.user() + injected, server.password());
            results << ftp.FtpConnect(kHost, server.port(), server.user(), server.password());
            results << ftp.FtpSetCurrentDirectory(QStringLiteral("x") + injected);
            results << ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("x") + injected);
            ftp.FtpDisconnect();
        });
        QCOMPARE(results, (QList<bool>{false, false, true, false, false}));
        QVERIFY(server.waitFor(QStringLiteral("QUIT"), 1));
        QCOMPARE(server.count(QStringLiteral("MKD")), 0);
        QVERIFY(!QFileInfo::exists(QDir(server.root()).filePath(QStringLiteral("injected"))));
        // The refused names left the connection alone.
        QCOMPARE(server.count(QStringLiteral("USER")), 1);
    }

    // The server refuses the file: the reason is libcurl's, not the stray active-mode line, and no
    // upload beep sounds.
    void writePermissionDenied_data() {
        QTest::addColumn<FtpServerKind>("kind");
        QTest::addColumn<bool>("passive");
        for (bool passive : {false, true}) {
            QTest::addRow("pyftpdlib %s", passive ? "passive" : "active")
                << FtpServerKind::PyFtpdLib << passive;
            QTest::addRow("vsftpd %s", passive ? "passive" : "active") << FtpServerKind::Vsftpd << passive;
        }
    }
    void writePermissionDenied() {
        QFETCH(FtpServerKind, kind);
        QFETCH(bool, passive);
        if (kind == FtpServerKind::Vsftpd && !VsftpdServer::unavailableReason().isEmpty())
            QSKIP(qPrintable(VsftpdServer::unavailableReason()));
        auto server = makeFtpServer(kind);
        QVERIFY2(server->isRunning(), qPrintable(server->failure()));
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), patternBytes(300)));
        StatusRecorder status;
        FtpClient ftp(status);
        bool uploaded = true;
        onWorker([&] {
            ftp.FtpConnect(kHost, server->port(), server->user(), server->password(), passive);
            ftp.FtpSetCurrentDirectory(server->readOnlyDir());
            uploaded = ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg"));
        });
        QVERIFY(!uploaded);
        const QStringList events = status.events();
        QCOMPARE(events.mid(0, 4),
                 (QStringList{QStringLiteral("Connecting... 127.0.0.1"), QStringLiteral("Connected"), kBeep,
                              QStringLiteral("Directory changed")}));
        QCOMPARE(events.size(), 5);
        QVERIFY2(events[4].startsWith(QLatin1String("Error:Upload failed")), qPrintable(events[4]));
        QVERIFY(!events[4].contains(QLatin1String("sa_addr")));
        QVERIFY(!QFile::exists(
            QDir(server->root()).filePath(server->readOnlyDir() + QStringLiteral("/webcam.jpg"))));
    }

    // A local file that cannot be opened is named in the error, nothing reaches the server, and the
    // same connection uploads the next file.
    void unreadableLocalFile() {
        PyFtpServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        QVERIFY(QDir().mkdir(QStringLiteral("folder.jpg")));
        QVERIFY(writeFile(QStringLiteral("good.jpg"), patternBytes(150)));
        StatusRecorder status;
        FtpClient ftp(status);
        QList<bool> results;
        onWorker([&] {
            ftp.FtpConnect(kHost, server.port(), server.user(), server.password());
            status.clear();
            results << ftp.FtpUploadFile(QStringLiteral("missing.jpg"), QStringLiteral("missing.jpg"));
            results << ftp.FtpUploadFile(QStringLiteral("folder.jpg"), QStringLiteral("folder.jpg"));
            results << ftp.FtpUploadFile(QStringLiteral("good.jpg"), QStringLiteral("good.jpg"));
        });
        QCOMPARE(results, (QList<bool>{false, false, true}));
        const QStringList texts = status.texts();
        QVERIFY2(texts[0].startsWith(QLatin1String("Error:")) &&
                     texts[0].contains(QLatin1String("missing.jpg")),
                 qPrintable(texts[0]));
        QVERIFY2(texts[1].startsWith(QLatin1String("Error:")) &&
                     texts[1].contains(QLatin1String("folder.jpg")),
                 qPrintable(texts[1]));
        QCOMPARE(texts.last(), QStringLiteral("File Transfered."));
        QCOMPARE(server.count(QStringLiteral("STOR")), 1);
        QCOMPARE(server.count(QStringLiteral("USER")), 1);
        QVERIFY(!QFile::exists(QDir(server.root()).filePath(QStringLiteral("missing.jpg"))));
    }

    // Every wait on a misbehaving server ends at its limit (shortened here; the others stay long),
    // with a failure the caller can go on from.
    void waitsAreBounded_data() {
        QTest::addColumn<QString>("hangOn");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("limit"); // 0 reply, 1 accept, 2 stall
        QTest::addColumn<bool>("changeDirectory");
        QTest::newRow("CWD unanswered") << QStringLiteral("CWD") << 0 << 0 << true;
        QTest::newRow("STOR unanswered") << QStringLiteral("STOR") << 0 << 0 << false;
        QTest::newRow("active mode, never connects back")
            << QString() << static_cast<int>(PyFtpFault::NoConnectBack) << 1 << false;
        QTest::newRow("stops reading the data")
            << QString() << static_cast<int>(PyFtpFault::StallData) << 2 << false;
    }
    void waitsAreBounded() {
        QFETCH(QString, hangOn);
        QFETCH(int, fault);
        QFETCH(int, limit);
        QFETCH(bool, changeDirectory);
        PyFtpServer server(hangOn, static_cast<PyFtpFault>(fault));
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        QVERIFY(QDir(server.root()).mkpath(QStringLiteral("cam")));
        // Large enough to fill the socket buffers before a stall shows.
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), patternBytes(limit == 2 ? 40 * 1024 * 1024 : 300)));
        StatusRecorder status;
        FtpClient ftp(status);
        FtpLimits limits;
        if (limit == 0)
            limits.reply = 1s;
        else if (limit == 1)
            limits.accept = 1s;
        else
            limits.stall = 1s;
        ftp.setLimits(limits);
        QElapsedTimer clock;
        bool ok = true;
        onWorker([&] {
            QVERIFY(ftp.FtpConnect(kHost, server.port(), server.user(), server.password(), limit == 2));
            clock.start();
            ok = changeDirectory
                     ? ftp.FtpSetCurrentDirectory(QStringLiteral("cam"))
                     : ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg"));
            ftp.FtpDisconnect();
        });
        QVERIFY(!ok);
        QVERIFY2(clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
        const QStringList texts = status.texts();
        QCOMPARE(texts.last(), QStringLiteral("End Transfering"));
        const QString failure = texts[texts.size() - 2];
        QVERIFY2(changeDirectory ? failure == QLatin1String("Can't change directory.")
                                 : failure.startsWith(QLatin1String("Error:")),
                 qPrintable(joined(status)));
    }

    // Stop pressed on the user-interface thread while the job's thread uploads: the upload ends within
    // a second with an error, the status line ends with "End Transfering", the next job works.
    void stopDuringUpload_data() {
        QTest::addColumn<bool>("serverHangs");
        QTest::newRow("large upload running") << false;
        QTest::newRow("server silent after STOR") << true;
    }
    void stopDuringUpload() {
        QFETCH(bool, serverHangs);
        PyFtpServer server(serverHangs ? QStringLiteral("STOR") : QString());
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        QVERIFY(writeFile(QStringLiteral("big.jpg"), patternBytes(20 * 1024 * 1024)));
        StatusRecorder status;
        FtpClient ftp(status); // default limits: only the stop can end the wait
        QVERIFY(ftp.FtpConnect(kHost, server.port(), server.user(), server.password()));
        auto upload = std::async(std::launch::async, [&] {
            return ftp.FtpUploadFile(QStringLiteral("big.jpg"), QStringLiteral("big.jpg"));
        });
        if (serverHangs)
            QVERIFY(server.waitFor(QStringLiteral("STOR"), 1));
        else
            QTRY_VERIFY_WITH_TIMEOUT(status.last().startsWith(QLatin1String("Transfering:")), 5000);
        QElapsedTimer clock;
        clock.start();
        ftp.FtpDisconnect();
        const qint64 disconnectMs = clock.elapsed();
        QVERIFY2(upload.wait_for(1s) == std::future_status::ready, "the upload did not stop");
        QVERIFY2(disconnectMs < 1000, qPrintable(QString::number(disconnectMs)));
        QVERIFY(!upload.get());
        QVERIFY(!ftp.isConnected());
        const QStringList texts = status.texts();
        QCOMPARE(texts.last(), QStringLiteral("End Transfering"));
        QVERIFY2(texts[texts.size() - 2].startsWith(QLatin1String("Error:")),
                 qPrintable(texts[texts.size() - 2]));
        QVERIFY(!texts.contains(QStringLiteral("File Transfered.")));

        // The next job connects and uploads as usual.
        ftp.setLimits(shortLimits());
        QVERIFY(writeFile(QStringLiteral("small.jpg"), patternBytes(120)));
        bool ok = false;
        onWorker([&] {
            ftp.FtpConnect(kHost, server.port(), server.user(), server.password());
            ok = ftp.FtpUploadFile(QStringLiteral("small.jpg"), QStringLiteral("small.jpg"));
        });
        if (serverHangs) {
            QVERIFY(!ok); // this server never accepts a file
        } else {
            QVERIFY(ok);
            QCOMPARE(readFile(QDir(server.root()).filePath(QStringLiteral("small.jpg"))), patternBytes(120));
        }
    }

    // The stop comes while the job's thread is held up in the status line (a sink waiting for a busy
    // window): the stop returns within a second anyway, and the job closes the connection as soon as
    // it gets going again, ending with "End Transfering".
    void stopWhileStatusLineIsBusy() {
        PyFtpServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        QVERIFY(writeFile(QStringLiteral("big.jpg"), patternBytes(4 * 1024 * 1024)));
        struct SlowSink final : StatusSink {
            StatusRecorder texts;
            std::atomic<bool> holding{false};
            void setStatus(const QString& text) override {
                texts.setStatus(text);
                if (text == QLatin1String("Transfering:1000 bytes")) {
                    holding = true;
                    QThread::msleep(1500);
                    holding = false;
                }
            }
        } sink;
        FtpClient ftp(sink);
        QVERIFY(ftp.FtpConnect(kHost, server.port(), server.user(), server.password()));
        auto upload = std::async(std::launch::async, [&] {
            return ftp.FtpUploadFile(QStringLiteral("big.jpg"), QStringLiteral("big.jpg"));
        });
        QTRY_VERIFY_WITH_TIMEOUT(sink.holding, 5000);
        QElapsedTimer clock;
        clock.start();
        ftp.FtpDisconnect();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(sink.texts.last(), QStringLiteral("End Transfering"));
        QVERIFY(upload.wait_for(3s) == std::future_status::ready);
        QVERIFY(!upload.get());
        QVERIFY(!ftp.isConnected());
        const QStringList texts = sink.texts.texts();
        QCOMPARE(texts.last(), QStringLiteral("End Transfering"));
        QVERIFY2(texts[texts.size() - 2].startsWith(QLatin1String("Error:")),
                 qPrintable(texts.join(QLatin1Char('|'))));
        QCOMPARE(texts.count(QStringLiteral("End Transfering")), 2);
    }

    // FTP/BEEP must read exactly "YES" for the connect, failure and upload beeps.
    void beepsFollowSetting_data() {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("beeps");
        QTest::newRow("absent") << QString() << 3;
        QTest::newRow("YES") << QStringLiteral("YES") << 3;
        QTest::newRow("NO") << QStringLiteral("NO") << 0;
        QTest::newRow("yes") << QStringLiteral("yes") << 0;
    }
    void beepsFollowSetting() {
        QFETCH(QString, setting);
        QFETCH(int, beeps);
        if (!setting.isNull())
            store_->set(keys::FtpBeep.section, QString::fromLatin1(keys::FtpBeep.key), setting);
        PyFtpServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), patternBytes(10)));
        StatusRecorder status;
        FtpClient ftp(status);
        onWorker([&] {
            ftp.FtpConnect(kHost, closedPort(), server.user(), server.password());         // failure beep
            ftp.FtpConnect(kHost, server.port(), server.user(), server.password());        // connect beep
            ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg")); // file open beep
            ftp.FtpDisconnect();
        });
        QCOMPARE(status.beeps(), beeps);
    }
};

QTEST_GUILESS_MAIN(TestFtpFailures)
#include "test_ftp_failures.moc"
