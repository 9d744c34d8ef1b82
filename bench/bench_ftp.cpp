// ftp: uploads to a loopback pyftpdlib server with our client (connect to QUIT; direct, and as the job
// does it: temporary name and rename) and with `curl -T`, all in active mode; prints the medians.
#include "bench.h"
#include "core/sinks.h"
#include "transfer/ftp_client.h"
#include "transfer/server_upload.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <thread>

namespace {

constexpr int kRuns = 5;

// The test suite's FTP server script, found from this source file's place in the tree.
QString serverScript() {
    return QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../tests/data/ftp_server.py"));
}

int runFtp() {
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("home"));
    const QString home = dir.filePath(QStringLiteral("home"));
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral("/usr/bin/python3"), {serverScript(), QStringLiteral("--root"), home});
    QByteArray out;
    while (!out.contains('\n') && server.waitForReadyRead(10000))
        out += server.readAllStandardOutput();
    const auto match = QRegularExpression(QStringLiteral("^PORT (\\d+)")).match(QString::fromLatin1(out));
    if (!match.hasMatch()) {
        std::fprintf(stderr, "ftp: the pyftpdlib server did not start (%s)\n", qPrintable(serverScript()));
        return 1;
    }
    const int port = match.captured(1).toInt();
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));

    int status = 0;
    for (const auto& [label, size] : {std::pair{"300KB", 300 * 1024}, std::pair{"2MB", 2 * 1024 * 1024}}) {
        const QString local = dir.filePath(QStringLiteral("upload.jpg"));
        QFile f(local);
        if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray(size, 'x')) != size)
            return 1;
        f.close();

        std::vector<double> ours, atomic, theirs;
        bool ok = true;
        for (int run = 0; run < kRuns; ++run) {
            ours.push_back(zantrel::bench::timeMs([&] {
                std::thread job([&] {
                    zantrel::NullStatusSink sink;
                    zantrel::FtpClient ftp(sink);
                    ok = ftp.FtpConnect(QStringLiteral("127.0.0.1"), port, QStringLiteral("cam"),
                                        QStringLiteral("secret")) &&
                         ftp.FtpUploadFile(local, QStringLiteral("ours.jpg")) && ok;
                    ftp.FtpDisconnect();
                });
                job.join();
            }));
            atomic.push_back(zantrel::bench::timeMs([&] {
                std::thread job([&] {
                    zantrel::NullStatusSink sink;
                    zantrel::FtpClient ftp(sink);
                    zantrel::ServerEntry e;
                    e.address = QStringLiteral("127.0.0.1");
                    e.port = port;
                    e.login = QStringLiteral("cam");
                    e.password = QStringLiteral("secret");
                    ok = zantrel::UploadToServer(ftp, sink, e, QByteArray(size, 'x'),
                                                 QStringLiteral("atomic.jpg"))
                             .uploaded &&
                         ok;
                });
                job.join();
            }));
            if (curl.isEmpty())
                continue;
            theirs.push_back(zantrel::bench::timeMs([&] {
                QProcess p;
                p.start(curl, {QStringLiteral("-sS"), QStringLiteral("-P"), QStringLiteral("-"),
                               QStringLiteral("-T"), local,
                               QStringLiteral("ftp://127.0.0.1:%1/theirs.jpg").arg(port),
                               QStringLiteral("--user"), QStringLiteral("cam:secret")});
                ok = p.waitForFinished(60000) && p.exitCode() == 0 && ok;
            }));
        }
        if (!ok || QFileInfo(QDir(home).filePath(QStringLiteral("ours.jpg"))).size() != size)
            status = 1;
        const double o = zantrel::bench::median(ours);
        const double a = zantrel::bench::median(atomic);
        const double t = zantrel::bench::median(theirs);
        std::printf("ftp %s ours_ms=%.1f atomic_ms=%.1f curl_ms=%.1f ratio=%.2f atomic_ratio=%.2f%s\n", label,
                    o, a, t, t > 0 ? o / t : 0.0, t > 0 ? a / t : 0.0, ok ? "" : " (failed)");
    }
    server.terminate();
    server.waitForFinished(3000);
    return status;
}

const zantrel::bench::Register reg("ftp", &runFtp);

} // namespace
