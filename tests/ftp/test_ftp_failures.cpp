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
#include <QtTest>
#include <future>

using namespace zantrel;
using namespace zantrel::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(zantrel::test::PyFtpFault)

namespace {

const QString kHost = QStringLiteral("127.0.0.1");
const QString kError = QStringLiteral("Error:");
const QString kJpg = QStringLiteral("webcam.jpg");

enum ConnectTarget { Refused, UnknownHost, PyFtpd, Vsftpd, Hung };

} // namespace

class TestFtpFailures : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempStore> store_;

  private Q_SLOTS:
    void init() { store_ = std::make_unique<TempStore>(); }
    void cleanup() { store_.reset(); }

    // A connect that fails, within the connect limit: the texts, the beep (when FTP/BEEP is absent or
    // exactly "YES"), no connection; the directory change and upload that the job still runs fail at
    // once without touching the network. A line break in the login is refused before anything is sent.
    void connectFailures_data() {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("beep");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* name, ConnectTarget target, const char* user, const char* password,
                            const char* beep, const char* reason) {
            QTest::newRow(name) << int(target) << QString::fromLatin1(user) << QString::fromLatin1(password)
                                << (beep ? QString::fromLatin1(beep) : QString())
                                << QString::fromLatin1(reason);
        };
        row("refused port", Refused, "cam", "wrong", nullptr, "Couldn't connect to server");
        row("unknown host", UnknownHost, "cam", "wrong", "YES", "Couldn't resolve host name");
        row("bad password", PyFtpd, "cam", "wrong", "yes", "Login denied");
        row("vsftpd unknown user", Vsftpd, "cam", "wrong", "NO", "Login denied");
        row("server never answers", Hung, "cam", "wrong", nullptr, "Timeout was reached");
        row("line break in password", PyFtpd, "cam", "secret\r\nMKD injected", nullptr, "control character");
        row("line break in user", PyFtpd, "cam\nMKD injected", "secret", nullptr, "control character");
    }
    void connectFailures() {
        QFETCH(int, target);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, beep);
        QFETCH(QString, reason);
        if (!beep.isNull())
            store_->set(keys::FtpBeep.section, QString::fromLatin1(keys::FtpBeep.key), beep);
        std::unique_ptr<FtpServerFixture> real;
        const QString host = target == UnknownHost ? QStringLiteral("no-such-host.invalid") : kHost;
        quint16 port = target == Refused ? closedPort() : 21;
        if (target == Hung)
            real = std::make_unique<PyFtpServer>(QString(), PyFtpFault::Silent);
        else if (target != Refused && target != UnknownHost)
            real = makeFtpServer(target == Vsftpd ? FtpServerKind::Vsftpd : FtpServerKind::PyFtpdLib);
        if (real) {
            VERIFY_FTP_SERVER(*real);
            port = real->port();
        }
        QVERIFY(writeFile(kJpg, patternBytes(300)));

        StatusRecorder status;
        FtpClient ftp(status);
        // The reply limit long: only the connect limit can end the wait on a silent server.
        ftp.setLimits(FtpLimits{1500ms, 60s, 1500ms, 60s});
        QList<bool> results;
        QElapsedTimer clock;
        clock.start();
        onWorker([&] {
            results << ftp.FtpConnect(host, port, user, password) << ftp.isConnected()
                    << ftp.FtpSetCurrentDirectory(QStringLiteral("cam")) << ftp.FtpUploadFile(kJpg, kJpg);
            ftp.FtpDisconnect();
        });
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(results, (QList<bool>{false, false, false, false}));
        QStringList expected{QStringLiteral("Connecting... ") + host,
                             QStringLiteral("Cannot connect to FTP Server"),
                             StatusRecorder::kBeep,
                             kError,
                             QStringLiteral("Can't change directory."),
                             kError,
                             QStringLiteral("End Transfering")};
        if (!beep.isNull() && beep != QLatin1String("YES"))
            expected.removeAll(StatusRecorder::kBeep);
        QStringList events = status.events();
        const int error = expected.indexOf(kError);
        QVERIFY2(events.size() == expected.size() && events[error].startsWith(kError) &&
                     events[error].contains(reason) && events[error + 2].startsWith(kError),
                 qPrintable(events.join('|')));
        events[error] = events[error + 2] = kError; // checked; now the whole list
        QCOMPARE(events, expected);
        if (real) {
            QCOMPARE(real->count(QStringLiteral("STOR")), 0);
            if (reason.contains(QLatin1String("control")))
                QCOMPARE(real->count(QStringLiteral("USER")), 0);
        }
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
        QVERIFY(writeFile(kJpg, patternBytes(48 * 1024 * 1024)));
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
            ok = changeDirectory ? ftp.FtpSetCurrentDirectory(QStringLiteral("cam"))
                                 : ftp.FtpUploadFile(kJpg, kJpg);
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
    // is held up in the status line (a sink waiting for a busy window): the stop returns at once, the
    // upload ends with an error within a second, "End Transfering" shows at once, the error and "End
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
        PyFtpServer server(hangOn,
                           hangOn.isEmpty() ? PyFtpFault::Slow : PyFtpFault::None); // never done first
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
        QVERIFY(server.login(ftp));
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
        QVERIFY(!upload.get() && !ftp.isConnected());
        const QStringList texts = sink.texts.texts();
        QCOMPARE(texts.last(), QStringLiteral("End Transfering"));
        QVERIFY2(texts[texts.size() - 2].startsWith(kError) &&
                     !texts.contains(QStringLiteral("File Transfered.")),
                 qPrintable(texts.join('|')));

        ftp.setLimits(FtpLimits{1500ms, 1s, 1500ms, 2s});
        QVERIFY(writeFile(kJpg, patternBytes(120)));
        bool ok = false;
        onWorker([&] { ok = server.login(ftp) && ftp.FtpUploadFile(kJpg, kJpg); });
        QCOMPARE(ok, hangOn.isEmpty()); // a server hanging on STOR never accepts a file
        if (ok)
            QCOMPARE(readFile(QDir(server.root()).filePath(kJpg)), patternBytes(120));
    }
};

QTEST_GUILESS_MAIN(TestFtpFailures)
#include "test_ftp_failures.moc"
