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

Q_DECLARE_METATYPE(zantrel::test::PyFtpFault)

namespace {

const QString kHost = QStringLiteral("127.0.0.1");
const QString kBeep = StatusRecorder::kBeep;
const QString kError = QStringLiteral("Error:");

enum ConnectTarget { Refused, UnknownHost, PyFtpd, Vsftpd, Hung };

const FtpLimits kShortLimits{1500ms, 1s, 1500ms, 2s}; // connect, reply, accept, stall

} // namespace

class TestFtpFailures : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempStore> store_;

  private Q_SLOTS:
    void init() { store_ = std::make_unique<TempStore>(); }
    void cleanup() { store_.reset(); }

    // A connect that fails, within the connect limit: the texts, the beep, no connection; the
    // directory change and upload that the job still runs fail at once without touching the network.
    void connectFailures_data() {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("reason");
        QTest::newRow("refused port") << int(Refused) << QStringLiteral("Couldn't connect to server");
        QTest::newRow("unknown host") << int(UnknownHost) << QStringLiteral("Couldn't resolve host name");
        QTest::newRow("bad password") << int(PyFtpd) << QStringLiteral("Login denied");
        QTest::newRow("vsftpd unknown user") << int(Vsftpd) << QStringLiteral("Login denied");
        QTest::newRow("server never answers") << int(Hung) << QStringLiteral("Timeout was reached");
    }
    void connectFailures() {
        QFETCH(int, target);
        QFETCH(QString, reason);
        HungFtpServer hung;
        std::unique_ptr<FtpServerFixture> real;
        const QString host = target == UnknownHost ? QStringLiteral("no-such-host.invalid") : kHost;
        quint16 port = target == Refused ? closedPort() : target == UnknownHost ? 21 : hung.port();
        if (target == PyFtpd || target == Vsftpd) {
            real = makeFtpServer(target == Vsftpd ? FtpServerKind::Vsftpd : FtpServerKind::PyFtpdLib);
            VERIFY_FTP_SERVER(*real);
            port = real->port();
        }
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), patternBytes(300)));

        StatusRecorder status;
        FtpClient ftp(status);
        // The reply limit long: only the connect limit can end the wait on a silent server.
        ftp.setLimits(FtpLimits{1500ms, 60s, 1500ms, 60s});
        QList<bool> results;
        QElapsedTimer clock;
        clock.start();
        onWorker([&] {
            results << ftp.FtpConnect(host, port, QStringLiteral("cam"), QStringLiteral("wrong"))
                    << ftp.isConnected() << ftp.FtpSetCurrentDirectory(QStringLiteral("cam"))
                    << ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg"));
            ftp.FtpDisconnect();
        });
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(results, (QList<bool>{false, false, false, false}));
        QStringList events = status.events();
        QVERIFY2(events.size() == 7 && events[3].startsWith(kError) && events[3].contains(reason) &&
                     events[5].startsWith(kError),
                 qPrintable(events.join('|')));
        events[3] = events[5] = kError; // checked; now the whole list
        QCOMPARE(events, (QStringList{QStringLiteral("Connecting... ") + host,
                                      QStringLiteral("Cannot connect to FTP Server"), kBeep, kError,
                                      QStringLiteral("Can't change directory."), kError,
                                      QStringLiteral("End Transfering")}));
        if (real)
            QCOMPARE(real->count(QStringLiteral("STOR")), 0);
    }

    // Line breaks in stored texts never reach the server as commands of their own.
    void noCommandInjection() {
        PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), patternBytes(10)));
        const QString injected = QStringLiteral("\r\nMKD injected");
        StatusRecorder status;
        FtpClient ftp(status);
        QList<bool> results;
        onWorker([&] {
            results << ftp.FtpConnect(kHost, server.port(), server.user(), server.password() + injected)
                    << ftp.FtpConnect(kHost, server.port(), server.user() + injected, server.password())
                    << ftp.FtpConnect(kHost, server.port(), server.user(), server.password())
                    << ftp.FtpSetCurrentDirectory(QStringLiteral("x") + injected)
                    << ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("x") + injected);
            ftp.FtpDisconnect();
        });
        QCOMPARE(results, (QList<bool>{false, false, true, false, false}));
        QVERIFY(server.waitFor(QStringLiteral("QUIT"), 1));
        QCOMPARE(server.count(QStringLiteral("MKD")), 0);
        QVERIFY(!QFileInfo::exists(QDir(server.root()).filePath(QStringLiteral("injected"))));
        QCOMPARE(server.count(QStringLiteral("USER")), 1); // the refused names left the connection alone
    }

    // Every wait on a misbehaving server ends at its limit (shortened here; the others stay long),
    // with a failure the caller can go on from.
    void waitsAreBounded_data() {
        QTest::addColumn<QString>("hangOn");
        QTest::addColumn<PyFtpFault>("fault");
        QTest::newRow("CWD unanswered") << QStringLiteral("CWD") << PyFtpFault::None;
        QTest::newRow("STOR unanswered") << QStringLiteral("STOR") << PyFtpFault::None;
        QTest::newRow("active mode, never connects back") << QString() << PyFtpFault::NoConnectBack;
        QTest::newRow("stops reading the data") << QString() << PyFtpFault::StallData;
    }
    void waitsAreBounded() {
        QFETCH(QString, hangOn);
        QFETCH(PyFtpFault, fault);
        PyFtpServer server(hangOn, fault);
        VERIFY_FTP_SERVER(server);
        QVERIFY(QDir(server.root()).mkpath(QStringLiteral("cam")));
        // Larger than the loopback buffers hold, so a stalled reader is noticed as a stall, not as a reply
        // that never comes.
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), patternBytes(48 * 1024 * 1024)));
        StatusRecorder status;
        FtpClient ftp(status);
        FtpLimits limits;
        if (fault == PyFtpFault::NoConnectBack)
            limits.accept = 1s;
        else if (fault == PyFtpFault::StallData)
            limits.stall = 1s;
        else
            limits.reply = 1s;
        ftp.setLimits(limits);
        const bool changeDirectory = hangOn == QLatin1String("CWD");
        QElapsedTimer clock;
        bool ok = true;
        onWorker([&] {
            QVERIFY(ftp.FtpConnect(kHost, server.port(), server.user(), server.password(),
                                   fault == PyFtpFault::StallData));
            clock.start();
            ok = changeDirectory
                     ? ftp.FtpSetCurrentDirectory(QStringLiteral("cam"))
                     : ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg"));
            ftp.FtpDisconnect();
        });
        QVERIFY(!ok);
        // libcurl notices a stall 1 to 7 s after the last byte; the long limits are 30 s and 60 s.
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        const QStringList texts = status.texts();
        QCOMPARE(texts.last(), QStringLiteral("End Transfering"));
        const QString failure = texts[texts.size() - 2];
        QVERIFY2(changeDirectory
                     ? failure == QLatin1String("Can't change directory.")
                     : failure.startsWith(kError) &&
                           failure.contains(QLatin1String("too slow")) == (fault == PyFtpFault::StallData),
                 qPrintable(texts.join('|')));
    }

    // Stop pressed on the user-interface thread while the job's thread uploads, or while that thread
    // is held up in the status line (a sink waiting for a busy window): the stop returns within a
    // second, the upload ends with an error, "End Transfering" shows at once, the error and "End
    // Transfering" come last when the held job gets going, and the next job connects and uploads as usual.
    void stopDuringUpload_data() {
        QTest::addColumn<QString>("hangOn");
        QTest::addColumn<int>("holdMs"); // how long the status line holds the first progress text
        QTest::newRow("large upload running") << QString() << 0;
        QTest::newRow("server silent after STOR") << QStringLiteral("STOR") << 0;
        QTest::newRow("status line busy") << QString() << 1500;
    }
    void stopDuringUpload() {
        QFETCH(QString, hangOn);
        QFETCH(int, holdMs);
        PyFtpServer server(hangOn);
        VERIFY_FTP_SERVER(server);
        QVERIFY(writeFile(QStringLiteral("big.jpg"), patternBytes(20 * 1024 * 1024)));
        struct Sink final : StatusSink {
            StatusRecorder texts;
            int holdMs = 0;
            std::atomic<bool> progressing{false};
            void setStatus(const QString& text) override {
                texts.setStatus(text);
                if (text.startsWith(QLatin1String("Transfering:")) && !progressing.exchange(true))
                    QThread::msleep(holdMs);
            }
        } sink;
        sink.holdMs = holdMs;
        FtpClient ftp(sink); // default limits: only the stop can end the waits
        QVERIFY(ftp.FtpConnect(kHost, server.port(), server.user(), server.password()));
        auto upload = std::async(std::launch::async, [&] {
            return ftp.FtpUploadFile(QStringLiteral("big.jpg"), QStringLiteral("big.jpg"));
        });
        if (hangOn.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(sink.progressing, 5000);
        else
            QVERIFY(server.waitFor(QStringLiteral("STOR"), 1));
        QElapsedTimer clock;
        clock.start();
        ftp.FtpDisconnect();
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(sink.texts.last(), QStringLiteral("End Transfering"));
        QVERIFY2(upload.wait_for(std::chrono::milliseconds(holdMs + 1000)) == std::future_status::ready,
                 "the upload did not stop");
        QVERIFY(!upload.get());
        QVERIFY(!ftp.isConnected());
        const QStringList texts = sink.texts.texts();
        QCOMPARE(texts.last(), QStringLiteral("End Transfering"));
        QVERIFY2(texts[texts.size() - 2].startsWith(kError), qPrintable(texts.join('|')));
        QVERIFY(!texts.contains(QStringLiteral("File Transfered.")));

        ftp.setLimits(kShortLimits);
        QVERIFY(writeFile(QStringLiteral("small.jpg"), patternBytes(120)));
        bool ok = false;
        onWorker([&] {
            ftp.FtpConnect(kHost, server.port(), server.user(), server.password());
            ok = ftp.FtpUploadFile(QStringLiteral("small.jpg"), QStringLiteral("small.jpg"));
        });
        QCOMPARE(ok, hangOn.isEmpty()); // a server hanging on STOR never accepts a file
        if (ok)
            QCOMPARE(readFile(QDir(server.root()).filePath(QStringLiteral("small.jpg"))), patternBytes(120));
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
        VERIFY_FTP_SERVER(server);
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), patternBytes(10)));
        StatusRecorder status;
        FtpClient ftp(status);
        onWorker([&] {
            ftp.FtpConnect(kHost, closedPort(), server.user(), server.password());         // failure beep
            ftp.FtpConnect(kHost, server.port(), server.user(), server.password());        // connect beep
            ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg")); // file open beep
            ftp.FtpDisconnect();
        });
        QCOMPARE(status.events().count(kBeep), beeps);
    }
};

QTEST_GUILESS_MAIN(TestFtpFailures)
#include "test_ftp_failures.moc"
