// What the user sees when a server fails, hangs or is stopped, and that the connection recovers; dial-up
// connections hung up through a mock NetworkManager on a private bus.
#include "core/setting_keys.h"
#include "support/ftp_test_files.h"
#include "support/ftp_test_servers.h"
#include "support/network_manager_mock.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"
#include "support/worker.h"
#include "transfer/ftp_client.h"
#include "transfer/hangup.h"
#include "transfer/server_upload.h"

#include <QDir>
#include <QElapsedTimer>
#include <QtTest>
#include <future>

using namespace zantrel;
using namespace zantrel::test;
using namespace std::chrono_literals;

namespace {

const QString kHost = QStringLiteral("127.0.0.1");
const QString kError = QStringLiteral("Error:");
const QString kJpg = QStringLiteral("webcam.jpg");

enum ConnectTarget { Refused, UnknownHost, ImplicitTlsPort, PyFtpd, Hung, TlsOnly, VsftpdTlsOnly };

} // namespace

class TestFtpFailures : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // A connect that fails, within the connect limit (a silent server ends only by it, the reply limit
    // being long): the reason, the beep (when FTP/BEEP is absent or exactly "YES"); the folder change and
    // upload that follow fail at once. Only a refused connection is tried again, twice. A line break in the
    // login, or plain FTP on the implicit TLS port, is refused before anything is sent. A server that takes
    // no login without TLS is shown in its own words.
    void connectFailures_data() {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("beep");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("connects");
        const auto row = [](const char* name, ConnectTarget target, const char* beep, const char* reason,
                            int connects) {
            QTest::newRow(name) << int(target) << QString::fromLatin1(beep) << QString::fromLatin1(reason)
                                << connects;
        };
        row("refused port", Refused, nullptr, "Couldn't connect to server", 3);
        row("unknown host", UnknownHost, "YES", "Couldn't resolve host name", 1);
        row("bad password", PyFtpd, "yes", "Login denied", 1);
        row("server never answers", Hung, nullptr, "Timeout was reached", 1);
        row("line break in the password", PyFtpd, nullptr, "control character", 1);
        row("plain FTP on port 990", ImplicitTlsPort, nullptr, "ftps://127.0.0.1", 1);
        row("TLS demanded with 421", TlsOnly, nullptr, "demands TLS (it said \"421 Sorry, cleartext", 1);
        row("TLS demanded with 530", VsftpdTlsOnly, nullptr, "530 Anonymous sessions must use encryption.",
            1);
    }
    void connectFailures() {
        QFETCH(int, target);
        QFETCH(QString, beep);
        QFETCH(QString, reason);
        QFETCH(int, connects);
        TempStore store;
        if (!beep.isNull())
            store.set(keys::FtpBeep.section, QString::fromLatin1(keys::FtpBeep.key), beep);
        std::unique_ptr<FtpServerFixture> real;
        if (target == VsftpdTlsOnly)
            real = std::make_unique<VsftpdServer>(true);
        else if (target >= PyFtpd)
            real = std::make_unique<PyFtpServer>(QString(),
                                                 QString::fromLatin1(target == Hung      ? "silent"
                                                                     : target == TlsOnly ? "cleartext-refused"
                                                                                         : ""));
        if (real)
            VERIFY_FTP_SERVER(*real);
        const QString host = target == UnknownHost ? QStringLiteral("no-such-host.invalid") : kHost;
        QVERIFY(writeFile(kJpg, patternBytes(300)));
        StatusRecorder status;
        FtpClient ftp(status);
        ftp.setLimits(TransferLimits{1500ms, 60s, 1500ms, 60s, {100ms, 100ms}}); // the reply limit long
        const QString cam = QStringLiteral("cam"),
                      password = reason.contains(u"control") ? "secret\r\nMKD x" : "wrong";
        const quint16 port = real ? real->port() : target == ImplicitTlsPort ? 990 : closedPort();
        const QString user = target == VsftpdTlsOnly ? real->user() : cam;
        const ServerEntry e{host, port, user, password, cam, false, true, {}, {}};
        ServerUploadResult r;
        QElapsedTimer clock;
        clock.start();
        onWorker([&] { r = UploadToServer(ftp, status, e, readFile(kJpg), kJpg); });
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!r.uploaded && !ftp.isConnected());
        const QStringList events = status.events();
        const bool beeps = beep.isNull() || beep == QLatin1String("YES");
        // Connecting, the failure, its reason, the folder, the upload, "End Transfering"
        QVERIFY2(events.indexOf(QStringLiteral("End Transfering")) == 5 + beeps &&
                     events[1] == QLatin1String("Cannot connect to FTP Server") &&
                     events[2 + beeps].startsWith(kError) && events[2 + beeps].contains(reason) &&
                     events.count(StatusRecorder::kBeep) == beeps * connects &&
                     events.filter(QStringLiteral("Connecting...")).size() == connects,
                 qPrintable(events.join('|')));
        // The login only when it is sendable; the server may log it just after its answer arrives.
        if (real && target != Hung && !reason.contains(u"control"))
            QVERIFY(real->waitFor(QStringLiteral("USER"), 1, 2000));
        else if (real)
            QCOMPARE(real->count(QStringLiteral("USER")), 0);
    }

    // Every wait on a misbehaving server ends at its limit (shortened here; the others stay long), with a
    // failure the caller can go on from. Or it ends by a stop pressed on the user-interface thread while the
    // job's thread waits (all limits long): the stop returns at once with "End Transfering", the routine
    // ends with an error within a second, and the next job connects and uploads as usual.
    void waitsAreBounded_data() {
        QTest::addColumn<QString>("hangOn");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("stop");
        QTest::newRow("CWD unanswered") << QStringLiteral("CWD") << QString() << false;
        QTest::newRow("STOR unanswered") << QStringLiteral("STOR") << QString() << false;
        QTest::newRow("active mode, never connects back")
            << QString() << QStringLiteral("no-connect-back") << false;
        QTest::newRow("stops reading the data") << QString() << QStringLiteral("stall-data") << false;
        QTest::newRow("STOR unanswered, stopped") << QStringLiteral("STOR") << QString() << true;
        QTest::newRow("slow upload, stopped") << QString() << QStringLiteral("slow") << true;
    }
    void waitsAreBounded() {
        QFETCH(QString, hangOn);
        QFETCH(QString, fault);
        QFETCH(bool, stop);
        TempStore store;
        PyFtpServer server(hangOn, fault);
        VERIFY_FTP_SERVER(server);
        // Larger than the loopback buffers hold, so a stalled reader is noticed as a stall, not as a reply
        // that never comes.
        QVERIFY(writeFile(kJpg, patternBytes(48 * 1024 * 1024)));
        StatusRecorder status;
        FtpClient ftp(status);
        TransferLimits limits;
        limits.reply = fault.isEmpty() && !stop ? 1s : limits.reply;
        limits.accept = fault == u"no-connect-back" ? 1s : limits.accept;
        limits.stall = fault == u"stall-data" ? 1s : limits.stall;
        ftp.setLimits(limits);
        QVERIFY(
            ftp.FtpConnect(kHost, server.port(), server.user(), server.password(), fault == u"stall-data"));
        const bool changeDirectory = hangOn == QLatin1String("CWD");
        QElapsedTimer clock;
        clock.start();
        auto job = std::async(std::launch::async, [&] {
            return changeDirectory ? ftp.FtpSetCurrentDirectory(QStringLiteral("cam"))
                                   : ftp.FtpUploadFile(kJpg, kJpg);
        });
        const auto unblock = qScopeGuard([&] { server.stop(); }); // a failed check leaves no wait behind
        if (stop) {
            if (hangOn.isEmpty())
                QTRY_VERIFY_WITH_TIMEOUT(!status.texts().filter(QStringLiteral("Transfering:")).isEmpty(),
                                         5000);
            else
                QVERIFY(server.waitFor(QStringLiteral("STOR"), 1));
            clock.restart();
            ftp.FtpDisconnect();
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(status.last(), QStringLiteral("End Transfering"));
        }
        // libcurl notices a stall 1 to 7 s after the last byte; the long limits are 30 s and 60 s.
        QVERIFY2(job.wait_for(stop ? 1s : 15s) == std::future_status::ready, "the wait did not end");
        QVERIFY(!job.get());
        const QStringList texts = status.texts();
        const QString failure = texts[texts.size() - 1 - stop];
        QVERIFY2((!stop || texts.last() == QLatin1String("End Transfering")) &&
                     (changeDirectory
                          ? failure == QLatin1String("Can't change directory.")
                          : failure.startsWith(kError) &&
                                failure.contains(QLatin1String("too slow")) == (fault == u"stall-data")),
                 qPrintable(texts.join('|')));
        if (!stop)
            return;
        ftp.setLimits(TransferLimits{1500ms, 1s, 1500ms, 2s});
        QVERIFY(!ftp.isConnected() && writeFile(kJpg, patternBytes(120)));
        bool ok = false;
        onWorker([&] { ok = server.login(ftp) && (!hangOn.isEmpty() || ftp.FtpUploadFile(kJpg, kJpg)); });
        QVERIFY(ok); // a server hanging on STOR never accepts a file
        if (hangOn.isEmpty())
            QCOMPARE(readFile(QDir(server.root()).filePath(kJpg)), patternBytes(120));
    }

    // Mobile broadband, PPPoE and Bluetooth dial-up go; Ethernet and a Bluetooth network link stay,
    // reached through the system bus as the program does, without waiting for NetworkManager. The beep
    // follows FTP/BEEP ("YES" exactly), also when nothing is left to hang up.
    void dialUpsGoOthersStay() {
        TempStore store;
        NetworkManagerMock nm;
        QVERIFY2(nm.isRunning(), qPrintable(nm.failure()));
        const char* const active[][3] = {{"802-3-ethernet", "Wired", ""},
                                         {"gsm", "Mobile", ""},
                                         {"pppoe", "DSL", ""},
                                         {"bluetooth", "Phone", "dun"},
                                         {"bluetooth", "PAN", "panu"}};
        for (const auto& a : active)
            QVERIFY(nm.addActive(QString::fromLatin1(a[0]), QString::fromLatin1(a[1]),
                                 QString::fromLatin1(a[2])));
        const QStringList kept{QStringLiteral("Wired"), QStringLiteral("PAN")};

        // QDBusConnection::systemBus() reads the address at its first use, which is here.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", nm.address().toUtf8());
        StatusRecorder status;
        QElapsedTimer clock;
        clock.start();
        HangUpAll(status);
        QVERIFY(clock.elapsed() < 3000);
        QTRY_COMPARE_WITH_TIMEOUT(nm.activeIds(), kept, 3000);
        store.set(keys::FtpBeep.section, QString::fromLatin1(keys::FtpBeep.key), QStringLiteral("yes"));
        HangUpAll(status, nm.bus());
        QCOMPARE(status.events(), QStringList{StatusRecorder::kBeep});
    }
};

QTEST_GUILESS_MAIN(TestFtpFailures)
#include "test_ftp_failures.moc"
