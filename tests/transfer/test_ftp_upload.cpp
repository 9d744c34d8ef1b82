// Uploads against real servers, in active and passive mode: what arrives, the status texts on the way,
// folders, failures on one connection.
#include "support/ftp_test_files.h"
#include "support/ftp_test_servers.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"
#include "support/worker.h"
#include "transfer/ftp_client.h"
#include "transfer/progress_throttle.h"

#include <QDir>
#include <QtTest>

using namespace zantrel;
using namespace zantrel::test;

namespace {
ProgressThrottle::Clock::time_point fakeNow;
}

class TestFtpUpload : public QObject {
    Q_OBJECT

    TempStore store_; // no FTP/BEEP: beeps on

  private Q_SLOTS:
    // Block texts offered at a steady pace (loopback never gets near it: libcurl takes 64 KB at a time
    // there): at most 25 pass in any second, and the last one always passes.
    void progressThrottle_data() {
        QTest::addColumn<int>("stepMs");
        QTest::addColumn<int>("shown"); // of 100 offered
        QTest::newRow("all at once") << 0 << 26;
        QTest::newRow("25 a second") << 40 << 100;
        QTest::newRow("50 a second for two seconds") << 20 << 51;
    }
    void progressThrottle() {
        QFETCH(int, stepMs);
        QFETCH(int, shown);
        StatusRecorder status;
        ProgressThrottle throttle(status, [] { return fakeNow; });
        for (int i = 0; i < 100; ++i) {
            fakeNow = ProgressThrottle::Clock::time_point(std::chrono::milliseconds(i * stepMs));
            throttle.offer(QString::number(i), i == 99);
        }
        QCOMPARE(status.texts().size(), shown);
        QCOMPARE(status.texts().last(), QStringLiteral("99"));
    }

    // One login through failures and folders: a local file that cannot be opened (named in the error,
    // nothing sent); a folder or file name with a line break (refused, never sent); a missing folder (the
    // current directory stays); a nested folder with awkward names, relative and absolute; ".."; a folder
    // that refuses the file (libcurl's reason, not the stray active-mode line); an empty file. A second
    // connect closes the first connection (QUIT) and starts again in the login directory, where a noise
    // JPEG (CR LF and lone LF bytes: an ASCII-mode transfer shows) arrives byte for byte, with the texts
    // and beeps of a whole upload in order. Each upload's block texts count whole 100-byte blocks, rising,
    // the last one just below its total.
    void uploads_data() {
        QTest::addColumn<bool>("vsftpd");
        QTest::addColumn<bool>("passive");
        for (bool vsftpd : {false, true})
            for (bool passive : {false, true})
                QTest::addRow("%s %s", vsftpd ? "vsftpd" : "pyftpdlib", passive ? "passive" : "active")
                    << vsftpd << passive;
    }
    void uploads() {
        QFETCH(bool, vsftpd);
        QFETCH(bool, passive);
        std::unique_ptr<FtpServerFixture> server;
        if (vsftpd)
            server = std::make_unique<VsftpdServer>();
        else
            server = std::make_unique<PyFtpServer>();
        VERIFY_FTP_SERVER(*server);
        const bool atLogin = server->writableDir().isEmpty(); // writable on pyftpdlib, not on vsftpd
        const QString parent = atLogin ? QStringLiteral("cam pics") : QStringLiteral("upload/cam pics");
        const QString nested = parent + QStringLiteral("/day #1");
        const QDir root(server->root());
        QVERIFY(root.mkpath(nested));
        for (const QString& d : {parent, nested}) // vsftpd works as the user "ftp"
            QFile::setPermissions(root.filePath(d), QFile::Permissions(0x7777));
        const QByteArray jpeg = noiseJpeg();
        QVERIFY(writeFile(QStringLiteral("shot.jpg"), patternBytes(1234)) &&
                writeFile(QStringLiteral("empty.jpg"), {}) && !jpeg.isEmpty() &&
                writeFile(QStringLiteral("webcam.jpg"), jpeg));
        StatusRecorder status;
        FtpClient ftp(status);
        QList<bool> results;
        qsizetype mark = 0;
        const auto put = [&](const QString& dir, const char* remote, const char* local = "shot.jpg") {
            if (!dir.isEmpty())
                results << ftp.FtpSetCurrentDirectory(dir);
            results << ftp.FtpUploadFile(QString::fromLatin1(local), QString::fromLatin1(remote));
        };
        onWorker([&] {
            server->login(ftp, passive);
            put({}, "missing.jpg", "missing.jpg");
            put(QStringLiteral("x\r\nMKD injected"), "x\r\nMKD injected");
            put(QStringLiteral("no/such/folder"), "login1.jpg");
            put(nested, "nested1.jpg");
            put(QStringLiteral(".."), "parent.jpg");
            put(QStringLiteral("/readonly"), "denied.jpg");
            put(QLatin1Char('/') + nested, "nested2.jpg");
            put({}, "empty.jpg", "empty.jpg");
            mark = status.events().size();
            server->login(ftp, passive);
            ftp.FtpSetCurrentDirectory(server->writableDir());
            ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg"));
            ftp.FtpDisconnect();
        });
        QCOMPARE(results, (QList<bool>{false, false, false, false, atLogin, true, true, true, true, true,
                                       false, true, true, true}));
        QCOMPARE(readFile(server->root() + u'/' + server->writableDir() + QStringLiteral("/webcam.jpg")),
                 jpeg);
        QVERIFY(server->waitFor(QString::fromLatin1(passive ? "EPSV" : "EPRT"), 1));
        QStringList last = status.events().mid(mark);
        last.removeIf([](const QString& t) { return t.startsWith(QLatin1String("Transfering:")); });
        QStringList expected{QStringLiteral("Connecting... 127.0.0.1"), QStringLiteral("Connected"),
                             StatusRecorder::kBeep};
        if (!atLogin)
            expected << QStringLiteral("Directory changed");
        expected << StatusRecorder::kBeep << QString::number(jpeg.size())
                 << QStringLiteral("File Transfered.") << QStringLiteral("End Transfering");
        QCOMPARE(last, expected);

        const QStringList texts = status.texts();
        qint64 sent = 0; // the last block text of the running upload
        for (const QString& t : texts) {
            bool total = false;
            if (t.startsWith(QLatin1String("Transfering:"))) {
                const qint64 n = t.mid(12, t.size() - 18).toLongLong();
                QVERIFY2(t == QStringLiteral("Transfering:%1 bytes").arg(n) && n > sent && n % 100 == 0,
                         qPrintable(t));
                sent = n;
            } else if (const qint64 size = t.toLongLong(&total); total) {
                QCOMPARE(sent, size / 100 * 100);
                sent = 0;
            }
        }
        QCOMPARE(texts.count(QStringLiteral("Can't change directory.")), 2);
        QCOMPARE(texts.count(QStringLiteral("Directory changed")), atLogin ? 4 : 5);
        QStringList errors = texts.filter(QRegularExpression(QStringLiteral("^Error:")));
        QVERIFY2(errors.size() == (atLogin ? 3 : 4) &&
                     errors.takeFirst().contains(QLatin1String("missing.jpg")) &&
                     errors.takeFirst().contains(QLatin1String("line break")),
                 qPrintable(texts.join('|')));
        for (const QString& e : errors)
            QVERIFY2(e.startsWith(QLatin1String("Error:Upload failed")) &&
                         !e.contains(QLatin1String("sa_addr")),
                     qPrintable(e));
        QCOMPARE(readFile(root.filePath(nested + QStringLiteral("/nested1.jpg"))), patternBytes(1234));
        QCOMPARE(root.exists(QStringLiteral("login1.jpg")), atLogin);
        QVERIFY(root.exists(nested + QStringLiteral("/nested2.jpg")) &&
                root.exists(parent + QStringLiteral("/parent.jpg")) &&
                !root.exists(QStringLiteral("readonly/denied.jpg")));
        QVERIFY(server->waitFor(QStringLiteral("QUIT"), 2));
        QVERIFY(server->count(QStringLiteral("STOR")) == 7 && server->count(QStringLiteral("MKD")) == 0);
    }
};

QTEST_GUILESS_MAIN(TestFtpUpload)
#include "test_ftp_upload.moc"
