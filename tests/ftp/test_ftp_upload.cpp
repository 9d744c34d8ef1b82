// Uploads against real servers: what arrives, the status texts on the way, directories, one connection.
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

using namespace zantrel;
using namespace zantrel::test;

Q_DECLARE_METATYPE(zantrel::test::FtpServerKind)

namespace {

const QString kBeep = StatusRecorder::kBeep;
const QString kJpg = QStringLiteral("webcam.jpg");

const char* name(FtpServerKind kind) {
    return kind == FtpServerKind::Vsftpd ? "vsftpd" : "pyftpdlib";
}

} // namespace

class TestFtpUpload : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempStore> store_;

  private Q_SLOTS:
    void init() { store_ = std::make_unique<TempStore>(); }
    void cleanup() { store_.reset(); }

    // The file arrives byte for byte, with the texts and beeps of a whole upload in order: the block
    // texts, the total, "File Transfered.". The noise JPEG (a long run) holds CR LF and lone LF bytes, so
    // an ASCII-mode transfer shows, in active and in passive mode.
    void upload_data() {
        QTest::addColumn<FtpServerKind>("kind");
        QTest::addColumn<bool>("passive");
        QTest::addColumn<int>("size"); // -1: the JPEG
        for (auto kind : {FtpServerKind::PyFtpdLib, FtpServerKind::Vsftpd}) {
            QTest::addRow("%s jpeg active", name(kind)) << kind << false << -1;
            QTest::addRow("%s jpeg passive", name(kind)) << kind << true << -1;
            for (int size : {250, 0})
                QTest::addRow("%s %d bytes", name(kind), size) << kind << false << size;
        }
    }
    void upload() {
        QFETCH(FtpServerKind, kind);
        QFETCH(bool, passive);
        QFETCH(int, size);
        const auto server = makeFtpServer(kind);
        VERIFY_FTP_SERVER(*server);
        const QByteArray data = size < 0 ? noiseJpeg() : patternBytes(size);
        QVERIFY((size >= 0 || !data.isEmpty()) && writeFile(kJpg, data));
        StatusRecorder status;
        FtpClient ftp(status);
        QElapsedTimer clock;
        onWorker([&] {
            server->login(ftp, passive);
            ftp.FtpSetCurrentDirectory(server->writableDir());
            clock.start();
            ftp.FtpUploadFile(kJpg, kJpg);
            ftp.FtpDisconnect();
        });
        QCOMPARE(readFile(server->root() + QLatin1Char('/') + server->writableDir() +
                          QStringLiteral("/webcam.jpg")),
                 data);
        QVERIFY(server->waitFor(QString::fromLatin1(passive ? "EPSV" : "EPRT"), 1));

        QStringList expected{QStringLiteral("Connecting... 127.0.0.1"), QStringLiteral("Connected"), kBeep};
        if (!server->writableDir().isEmpty())
            expected << QStringLiteral("Directory changed");
        expected << kBeep;
        // Block texts: a text per block, coalesced to 25 a second in long runs, in order, the last always.
        QStringList events = status.events();
        const QStringList blocks = events.mid(expected.size(), events.size() - expected.size() - 3);
        qint64 previous = 0;
        for (const QString& t : blocks) {
            const qint64 n = t.mid(12, t.size() - 18).toLongLong();
            QVERIFY2(t == QStringLiteral("Transfering:%1 bytes").arg(n) && n > previous && n % 100 == 0,
                     qPrintable(t));
            previous = n;
        }
        QCOMPARE(previous, data.size() / 100 * 100);
        QVERIFY(blocks.size() <= (size < 0 ? 25 * (clock.elapsed() / 1000 + 1) + 1 : size / 100));
        events.remove(expected.size(), blocks.size());
        expected << QString::number(data.size()) << QStringLiteral("File Transfered.")
                 << QStringLiteral("End Transfering");
        QCOMPARE(events, expected);
    }

    // One login through failures and folders: a local file that cannot be opened (named in the error,
    // nothing sent); a folder or file name with a line break (refused, never sent); a missing folder (the
    // current directory stays); a nested folder with awkward names, relative and absolute; ".."; a folder
    // that refuses the file (libcurl's reason, not the stray active-mode line). A second connect closes the
    // first connection (QUIT) and starts again in the login directory.
    void oneConnection_data() {
        QTest::addColumn<FtpServerKind>("kind");
        QTest::addColumn<bool>("passive");
        for (auto kind : {FtpServerKind::PyFtpdLib, FtpServerKind::Vsftpd})
            for (bool passive : {false, true})
                QTest::addRow("%s %s", name(kind), passive ? "passive" : "active") << kind << passive;
    }
    void oneConnection() {
        QFETCH(FtpServerKind, kind);
        QFETCH(bool, passive);
        const auto server = makeFtpServer(kind);
        VERIFY_FTP_SERVER(*server);
        const bool atLogin = server->writableDir().isEmpty(); // writable on pyftpdlib, not on vsftpd
        const QString parent = atLogin ? QStringLiteral("cam pics") : QStringLiteral("upload/cam pics");
        const QString nested = parent + QStringLiteral("/day #1");
        const QDir root(server->root());
        QVERIFY(root.mkpath(nested));
        for (const QString& d : {parent, nested}) // vsftpd works as the user "ftp"
            QFile::setPermissions(root.filePath(d), QFile::Permissions(0x7777));
        QVERIFY(writeFile(QStringLiteral("shot.jpg"), patternBytes(1234)));
        StatusRecorder status;
        FtpClient ftp(status);
        QList<bool> results;
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
            server->login(ftp, passive);
            put({}, "login2.jpg");
            ftp.FtpDisconnect();
        });
        QCOMPARE(results, (QList<bool>{false, false, false, false, atLogin, true, true, true, true, true,
                                       false, true, true, atLogin}));
        const QStringList texts = status.texts();
        QCOMPARE(texts.count(QStringLiteral("Can't change directory.")), 2);
        QCOMPARE(texts.count(QStringLiteral("Directory changed")), 4);
        QStringList errors = texts.filter(QRegularExpression(QStringLiteral("^Error:")));
        QVERIFY2(errors.size() == (atLogin ? 3 : 5) &&
                     errors.takeFirst().contains(QLatin1String("missing.jpg")) &&
                     errors.takeFirst().contains(QLatin1String("line break")),
                 qPrintable(texts.join('|')));
        for (const QString& e : errors)
            QVERIFY2(e.startsWith(QLatin1String("Error:Upload failed")) &&
                         !e.contains(QLatin1String("sa_addr")),
                     qPrintable(e));
        QCOMPARE(readFile(root.filePath(nested + QStringLiteral("/nested1.jpg"))), patternBytes(1234));
        QCOMPARE(int(root.exists(QStringLiteral("login1.jpg"))) + root.exists(QStringLiteral("login2.jpg")),
                 atLogin ? 2 : 0);
        QVERIFY(root.exists(nested + QStringLiteral("/nested2.jpg")) &&
                root.exists(parent + QStringLiteral("/parent.jpg")) &&
                !root.exists(QStringLiteral("readonly/denied.jpg")));
        QVERIFY(server->waitFor(QStringLiteral("QUIT"), 2));
        QVERIFY(server->count(QStringLiteral("STOR")) == 6 && server->count(QStringLiteral("MKD")) == 0);
    }
};

QTEST_GUILESS_MAIN(TestFtpUpload)
#include "test_ftp_upload.moc"
