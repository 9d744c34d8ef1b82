// Uploads against real servers: what arrives, the status texts on the way, directories, connections.
#include "core/setting_keys.h"
#include "core/store.h"
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

const QString kHost = QStringLiteral("127.0.0.1");
const QString kBeep = StatusRecorder::kBeep;

std::unique_ptr<FtpServerFixture> startServer(FtpServerKind kind) {
    auto server = makeFtpServer(kind);
    if (kind == FtpServerKind::Vsftpd && !VsftpdServer::unavailableReason().isEmpty())
        return nullptr;
    return server;
}

#define START_SERVER(var, kind)                                                                              \
    auto var = startServer(kind);                                                                            \
    if (!var)                                                                                                \
        QSKIP(qPrintable(VsftpdServer::unavailableReason()));                                                \
    QVERIFY2(var->isRunning(), qPrintable(var->failure()))

QString onDisk(const FtpServerFixture& server, const QString& remoteDir, const QString& name) {
    return QDir(server.root()).filePath(remoteDir.isEmpty() ? name : remoteDir + QLatin1Char('/') + name);
}

// A folder below the server's writable one that the server's user may write to.
bool makeRemoteDir(const FtpServerFixture& server, const QString& path) {
    const QString full = QDir(server.root()).filePath(path);
    if (!QDir().mkpath(full))
        return false;
    // vsftpd works as the user "ftp": open each new level to him.
    QString level = QDir(server.root()).filePath(server.writableDir());
    for (const QString& part :
         path.mid(server.writableDir().size()).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        level += QLatin1Char('/') + part;
        QFile::setPermissions(level, QFile::Permissions(0x7777));
    }
    return true;
}

} // namespace

class TestFtpUpload : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempStore> store_;

  private Q_SLOTS:
    void init() { store_ = std::make_unique<TempStore>(); }
    void cleanup() { store_.reset(); }

    // The picture arrives byte for byte, in both modes, on both servers.
    void jpegArrivesByteIdentical_data() {
        QTest::addColumn<FtpServerKind>("kind");
        QTest::addColumn<bool>("passive");
        for (bool passive : {false, true}) {
            QTest::addRow("pyftpdlib %s", passive ? "passive" : "active")
                << FtpServerKind::PyFtpdLib << passive;
            QTest::addRow("vsftpd %s", passive ? "passive" : "active") << FtpServerKind::Vsftpd << passive;
        }
    }
    void jpegArrivesByteIdentical() {
        QFETCH(FtpServerKind, kind);
        QFETCH(bool, passive);
        START_SERVER(server, kind);
        const QByteArray jpeg = noiseJpeg();
        QVERIFY(!jpeg.isEmpty());
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), jpeg));

        StatusRecorder status;
        FtpClient ftp(status);
        bool ok = false;
        onWorker([&] {
            ftp.FtpConnect(kHost, server->port(), server->user(), server->password(), passive);
            ftp.FtpSetCurrentDirectory(server->writableDir());
            ok = ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg"));
            ftp.FtpDisconnect();
        });
        QVERIFY2(ok, qPrintable(status.texts().join(QLatin1Char('|'))));
        QCOMPARE(readFile(onDisk(*server, server->writableDir(), QStringLiteral("webcam.jpg"))), jpeg);
        QVERIFY(server->waitFor(QString::fromLatin1(passive ? "EPSV" : "EPRT"), 1));
        QVERIFY(server->commands().contains(QStringLiteral("TYPE I")));
    }

    // The texts and beeps of a whole upload, in order, for sizes around the 100-byte block.
    void statusSequence_data() {
        QTest::addColumn<FtpServerKind>("kind");
        QTest::addColumn<int>("size");
        QTest::addColumn<QStringList>("progress");
        const QStringList two{QStringLiteral("Transfering:100 bytes"),
                              QStringLiteral("Transfering:200 bytes")};
        const QStringList three = two + QStringList{QStringLiteral("Transfering:300 bytes")};
        for (auto kind : {FtpServerKind::PyFtpdLib, FtpServerKind::Vsftpd}) {
            const char* name = kind == FtpServerKind::Vsftpd ? "vsftpd" : "pyftpdlib";
            QTest::addRow("%s 250", name) << kind << 250 << (two + QStringList{QStringLiteral("250")});
            QTest::addRow("%s 300", name) << kind << 300 << (three + QStringList{QStringLiteral("300")});
            QTest::addRow("%s 0", name) << kind << 0 << QStringList{QStringLiteral("0")};
        }
    }
    void statusSequence() {
        QFETCH(FtpServerKind, kind);
        QFETCH(int, size);
        QFETCH(QStringList, progress);
        START_SERVER(server, kind);
        const QByteArray data = patternBytes(size);
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), data));

        StatusRecorder status;
        FtpClient ftp(status);
        onWorker([&] {
            ftp.FtpConnect(kHost, server->port(), server->user(), server->password());
            ftp.FtpSetCurrentDirectory(server->writableDir());
            ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("webcam.jpg"));
            ftp.FtpDisconnect();
        });
        QStringList expected{QStringLiteral("Connecting... 127.0.0.1"), QStringLiteral("Connected"), kBeep};
        if (!server->writableDir().isEmpty())
            expected << QStringLiteral("Directory changed");
        expected << kBeep << progress << QStringLiteral("File Transfered.")
                 << QStringLiteral("End Transfering");
        QCOMPARE(status.events(), expected);
        const QString landed = onDisk(*server, server->writableDir(), QStringLiteral("webcam.jpg"));
        QVERIFY(QFile::exists(landed));
        QCOMPARE(readFile(landed), data);
    }

    // Relative, nested, absolute and missing directories; names that need escaping.
    void directories_data() {
        QTest::addColumn<FtpServerKind>("kind");
        QTest::addColumn<bool>("absolute");
        for (bool absolute : {false, true}) {
            QTest::addRow("pyftpdlib %s", absolute ? "absolute" : "relative")
                << FtpServerKind::PyFtpdLib << absolute;
            QTest::addRow("vsftpd %s", absolute ? "absolute" : "relative")
                << FtpServerKind::Vsftpd << absolute;
        }
    }
    void directories() {
        QFETCH(FtpServerKind, kind);
        QFETCH(bool, absolute);
        START_SERVER(server, kind);
        const QString base = server->writableDir();
        const QString nested =
            (base.isEmpty() ? QString() : base + QLatin1Char('/')) + QStringLiteral("cam pics/day #1");
        QVERIFY(makeRemoteDir(*server, nested));
        QVERIFY(writeFile(QStringLiteral("shot.jpg"), patternBytes(1234)));

        StatusRecorder status;
        FtpClient ftp(status);
        QList<bool> changed;
        QList<bool> uploaded;
        onWorker([&] {
            ftp.FtpConnect(kHost, server->port(), server->user(), server->password());
            // A missing folder fails and leaves the current directory where it was.
            changed << ftp.FtpSetCurrentDirectory(QStringLiteral("no/such/folder"));
            uploaded << ftp.FtpUploadFile(QStringLiteral("shot.jpg"), QStringLiteral("first.jpg"));
            changed << ftp.FtpSetCurrentDirectory(absolute ? QLatin1Char('/') + nested : nested);
            uploaded << ftp.FtpUploadFile(QStringLiteral("shot.jpg"), QStringLiteral("second.jpg"));
            // Relative to the new current directory.
            changed << ftp.FtpSetCurrentDirectory(QStringLiteral(".."));
            uploaded << ftp.FtpUploadFile(QStringLiteral("shot.jpg"), QStringLiteral("third.jpg"));
            ftp.FtpDisconnect();
        });
        QCOMPARE(changed, (QList<bool>{false, true, true}));
        const QStringList texts = status.texts();
        QVERIFY(texts.contains(QStringLiteral("Can't change directory.")));
        QCOMPARE(texts.count(QStringLiteral("Directory changed")), 2);
        // The first upload goes to the login directory: writable on pyftpdlib, not on vsftpd.
        QCOMPARE(uploaded[0], base.isEmpty());
        QCOMPARE(QFile::exists(onDisk(*server, QString(), QStringLiteral("first.jpg"))), base.isEmpty());
        QVERIFY(uploaded[1]);
        QCOMPARE(readFile(onDisk(*server, nested, QStringLiteral("second.jpg"))), patternBytes(1234));
        QVERIFY(uploaded[2]);
        QVERIFY(QFile::exists(
            onDisk(*server, nested.section(QLatin1Char('/'), 0, -2), QStringLiteral("third.jpg"))));
    }

    // Log in once, change directory and upload on that connection, QUIT at the end; a second connect
    // closes the first connection before opening its own.
    void oneLoginPerConnection() {
        PyFtpServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        QVERIFY(QDir(server.root()).mkpath(QStringLiteral("sub")));
        QVERIFY(writeFile(QStringLiteral("webcam.jpg"), patternBytes(500)));
        StatusRecorder status;
        FtpClient ftp(status);
        onWorker([&] {
            QVERIFY(ftp.FtpConnect(kHost, server.port(), server.user(), server.password()));
            QVERIFY(ftp.isConnected());
            QVERIFY(ftp.FtpSetCurrentDirectory(QStringLiteral("sub")));
            QVERIFY(ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("a.jpg")));
            QVERIFY(ftp.FtpConnect(kHost, server.port(), server.user(), server.password()));
            QVERIFY(ftp.FtpUploadFile(QStringLiteral("webcam.jpg"), QStringLiteral("b.jpg")));
            ftp.FtpDisconnect();
            QVERIFY(!ftp.isConnected());
        });
        QVERIFY(server.waitFor(QStringLiteral("QUIT"), 2));
        QStringList verbs;
        for (const QString& c : server.commands())
            verbs << c.section(QLatin1Char(' '), 0, 0);
        verbs.removeAll(QStringLiteral("PWD"));
        verbs.removeAll(QStringLiteral("TYPE"));
        verbs.removeAll(QStringLiteral("EPRT"));
        QCOMPARE(verbs, (QStringList{QStringLiteral("USER"), QStringLiteral("PASS"), QStringLiteral("CWD"),
                                     QStringLiteral("CWD"), QStringLiteral("STOR"), QStringLiteral("QUIT"),
                                     QStringLiteral("USER"), QStringLiteral("PASS"), QStringLiteral("STOR"),
                                     QStringLiteral("QUIT")}));
        QVERIFY(QFile::exists(QDir(server.root()).filePath(QStringLiteral("sub/a.jpg"))));
        QVERIFY(QFile::exists(QDir(server.root()).filePath(QStringLiteral("b.jpg"))));
    }

    // A long upload shows a few progress texts a second, in order, and always the last block's.
    void largeUploadProgressIsCoalesced() {
        PyFtpServer server;
        QVERIFY2(server.isRunning(), qPrintable(server.failure()));
        const QByteArray data = patternBytes(2 * 1024 * 1024);
        QVERIFY(writeFile(QStringLiteral("big.jpg"), data));
        StatusRecorder status;
        FtpClient ftp(status);
        QElapsedTimer clock;
        bool ok = false;
        onWorker([&] {
            ftp.FtpConnect(kHost, server.port(), server.user(), server.password(), true);
            status.clear();
            clock.start();
            ok = ftp.FtpUploadFile(QStringLiteral("big.jpg"), QStringLiteral("big.jpg"));
        });
        const double seconds = clock.elapsed() / 1000.0;
        QVERIFY(ok);
        QCOMPARE(readFile(QDir(server.root()).filePath(QStringLiteral("big.jpg"))), data);
        QStringList texts = status.texts();
        QCOMPARE(texts.takeLast(), QStringLiteral("File Transfered."));
        QCOMPARE(texts.takeLast(), QStringLiteral("2097152"));
        QCOMPARE(texts.last(), QStringLiteral("Transfering:2097100 bytes"));
        QVERIFY2(texts.size() <= 25 * (static_cast<int>(seconds) + 1) + 1,
                 qPrintable(QString::number(texts.size())));
        qint64 previous = 0;
        for (const QString& t : texts) {
            QVERIFY(t.startsWith(QLatin1String("Transfering:")) && t.endsWith(QLatin1String(" bytes")));
            const qint64 n = t.mid(12, t.size() - 18).toLongLong();
            QVERIFY(n > previous && n % 100 == 0);
            previous = n;
        }
    }
};

QTEST_GUILESS_MAIN(TestFtpUpload)
#include "test_ftp_upload.moc"
