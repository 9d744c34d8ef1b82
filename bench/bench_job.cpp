// job: whole publishing jobs at 1280x720 from a live test camera, with the time, date and text stamps,
// an archive copy and three loopback FTP servers (pyftpdlib). Prints the median time of each step (the
// job's routines called one after another in its order) and of whole RunPublishJob calls, beside the
// median time of `fswebcam -d TEST` writing a 1280x720 banner JPEG plus three `curl -T` uploads of it.

#include "bench.h"
#include "capture/capture_window.h"
#include "capture/device_list.h"
#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"
#include "imaging/jpeg_writer.h"
#include "imaging/stamp.h"
#include "publish/live_values.h"
#include "publish/publish_job.h"
#include "transfer/ftp_client.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace {

constexpr int kRuns = 15;
constexpr int kServers = 3;
constexpr int kQuality = 50; // the program's default compression of 50 %
constexpr const char* kCamera =
    "videotestsrc is-live=true pattern=smpte ! video/x-raw,width=1280,height=720,framerate=15/1";

using zantrel::bench::median;
using zantrel::bench::timeMs;

class CountingMessages final : public zantrel::MessageSink {
  public:
    void showMessage(const QString& text) override {
        std::lock_guard lock(mutex_);
        ++count_;
        std::fprintf(stderr, "job: message: %s\n", qPrintable(text));
    }
    int count() {
        std::lock_guard lock(mutex_);
        return count_;
    }

  private:
    std::mutex mutex_;
    int count_ = 0;
};

// A pyftpdlib server on 127.0.0.1 serving its own folder; stopped with the object.
class LoopbackServer {
  public:
    explicit LoopbackServer(const QString& root) : root_(root) {
        QDir().mkpath(root);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(ZANTREL_SOURCE_DIR "/tests/data/ftp_server.py"),
                        QStringLiteral("--root"), root, QStringLiteral("--user"), user(),
                        QStringLiteral("--password"), password()});
        QDeadlineTimer deadline(10000);
        QByteArray out;
        while (!out.contains('\n') && !deadline.hasExpired() &&
               process_.waitForReadyRead(int(deadline.remainingTime())))
            out += process_.readAllStandardOutput();
        const auto match = QRegularExpression(QStringLiteral("^PORT (\\d+)")).match(QString::fromLatin1(out));
        if (match.hasMatch())
            port_ = match.captured(1).toInt();
    }
    ~LoopbackServer() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    QString root() const { return root_; }
    static QString user() { return QStringLiteral("cam"); }
    static QString password() { return QStringLiteral("secret"); }

  private:
    QString root_;
    QProcess process_;
    int port_ = 0;
};

// Runs fn on a worker thread (where the job runs in the program) while this thread serves events.
template <typename F> void onWorker(F&& fn) {
    QEventLoop loop;
    std::thread worker([&] {
        fn();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

// Milliseconds a command takes to run to its end; negative when it failed.
double runProcessMs(const QString& program, const QStringList& args) {
    bool ok = false;
    const double ms = timeMs([&] {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(program, args);
        ok = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    });
    return ok ? ms : -1;
}

int runJob() {
    // Files go to memory (/dev/shm) unless ZANTREL_BENCH_DIR names another folder, as in the jpeg group.
    QString base = qEnvironmentVariable("ZANTREL_BENCH_DIR");
    if (base.isEmpty() && QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        base = QStringLiteral("/dev/shm");
    QTemporaryDir dir(base.isEmpty() ? QDir::tempPath() + QStringLiteral("/zantrel-bench-XXXXXX")
                                     : base + QStringLiteral("/zantrel-bench-XXXXXX"));
    const QDir work(dir.path());
    std::fprintf(stderr, "job: writing into %s\n", qPrintable(dir.path()));

    // Three servers, each in its own process and folder.
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    for (int n = 1; n <= kServers; ++n) {
        servers.push_back(std::make_unique<LoopbackServer>(work.filePath(QStringLiteral("server%1").arg(n))));
        if (servers.back()->port() == 0) {
            std::fprintf(stderr, "job: the pyftpdlib server did not start (%s)\n",
                         ZANTREL_SOURCE_DIR "/tests/data/ftp_server.py");
            return 1;
        }
    }

    // Settings: three stamps, an archive copy, uploads to the three servers, no hang-up.
    using namespace zantrel;
    SettingsStore::instance().open(work.filePath(QStringLiteral("KALDOR.ini")));
    const QString workingFile = work.filePath(QStringLiteral("webcam.jpg"));
    const QString archiveFolder = work.filePath(QStringLiteral("archive"));
    work.mkpath(QStringLiteral("archive"));
    SaveSetting(keys::ImageFileName, workingFile);
    SaveSetting(keys::ImagePath, archiveFolder);
    SaveSetting(keys::ImageSaveCopy, QStringLiteral("1"));
    SaveSetting(keys::ImageCompression, QString::number(100 - kQuality));
    SaveSetting(keys::ImageTime, QStringLiteral("1"));
    SaveSetting(keys::ImageDate, QStringLiteral("1"));
    SaveSetting(keys::ImageText, QStringLiteral("1"));
    SaveSetting(keys::ImageTimePos, QStringLiteral("6"));
    SaveSetting(keys::ImageDatePos, QStringLiteral("6"));
    SaveSetting(keys::ImageTextPos, QStringLiteral("4"));
    SaveSetting(keys::ImageTextString, QStringLiteral("Webcam Zantrel &DATE &TIME"));
    SaveSetting(keys::FtpUploadAtJob, QStringLiteral("1"));
    SaveSetting(keys::PrefAutoHangUp, QStringLiteral("0"));
    SaveSetting(keys::FtpServers, QString::number(kServers));
    for (int n = 1; n <= kServers; ++n) {
        const auto key = [n](const keys::SettingKey& k) { return serverEntryKey(k, n); };
        SaveSetting(QStringLiteral("FTP"), key(keys::FtpEntryAddress), QStringLiteral("127.0.0.1"));
        SaveSetting(QStringLiteral("FTP"), key(keys::FtpEntryPort), QString::number(servers[n - 1]->port()));
        SaveSetting(QStringLiteral("FTP"), key(keys::FtpEntryLogin), LoopbackServer::user());
        SaveSetting(QStringLiteral("FTP"), key(keys::FtpEntryPassword), LoopbackServer::password());
    }
    LiveValues::instance().reset();

    // The camera.
    qputenv(DeviceList::testCameraVariable(), kCamera);
    CountingMessages messages;
    CaptureWindow capture(messages);
    if (capture.CountDrivers() < 1 || !capture.Init_Video(capture.CountDrivers() - 1) ||
        !capture.waitForFrame(5000)) {
        std::fprintf(stderr, "job: the test camera (%s) gives no picture\n", kCamera);
        return 1;
    }

    NullStatusSink status;
    FtpClient ftp(status);
    const PublishServices services = ProgramServices(capture, status, messages);

    // The steps, in the job's order and with its settings reads, timed one by one.
    std::vector<double> grab, stamp, jpeg, archive, upload, total;
    int uploadFailures = 0, jobFailures = 0;
    QSize frameSize;
    const auto steps = [&](bool keep) {
        QImage target;
        const double g = timeMs([&] { services.grabFrame(target); });
        frameSize = target.size();
        const double s = timeMs([&] { StampFrame(target, JobStampParams(services.live->snapshot())); });
        const int quality = 100 - services.live->snapshot().compression;
        const double j =
            timeMs([&] { SavePictureAsJpeg(target, GetSetting(keys::ImageFileName), quality, messages); });
        const double a = timeMs([&] {
            const QString folder = GetSetting(keys::ImagePath, QDir::currentPath());
            SavePictureAsJpeg(target, ArchiveFileName(folder, zantrel::clock().now()), quality, messages);
        });
        const double u = timeMs([&] {
            const std::int32_t count = ReadInt32(keys::FtpServers);
            for (std::int32_t n = 1; n <= count; ++n) {
                const ServerEntry server = ReadServerEntry(n);
                const QString file = GetSetting(keys::ImageFileName);
                const bool ok = ftp.FtpConnect(server.address, server.port, server.login, server.password,
                                               server.passive) &&
                                ftp.FtpUploadFile(file, QFileInfo(file).fileName());
                ftp.FtpDisconnect();
                if (!ok)
                    ++uploadFailures;
            }
        });
        if (!keep)
            return;
        grab.push_back(g);
        stamp.push_back(s);
        jpeg.push_back(j);
        archive.push_back(a);
        upload.push_back(u);
    };
    const auto wholeJob = [&](bool keep) {
        PublishOutcome outcome;
        const double t = timeMs([&] { outcome = RunPublishJob(services); });
        if (!outcome.complete() || !outcome.archiveWritten || outcome.serversUploaded != kServers)
            ++jobFailures;
        if (keep)
            total.push_back(t);
    };
    onWorker([&] {
        steps(false); // warm-up: fonts, encoder, first connections
        wholeJob(false);
        for (int run = 0; run < kRuns; ++run) {
            steps(true);
            wholeJob(true);
        }
    });
    capture.DisconnectAndDestroy();

    const qint64 jpegBytes = QFileInfo(workingFile).size();
    bool uploadsArrived = true;
    for (const auto& server : servers)
        uploadsArrived =
            uploadsArrived &&
            QFileInfo(QDir(server->root()).filePath(QStringLiteral("webcam.jpg"))).size() == jpegBytes;
    const bool ok = uploadFailures == 0 && jobFailures == 0 && messages.count() == 0 && uploadsArrived &&
                    frameSize == QSize(1280, 720);
    const double ours = median(total);
    std::printf("job grab_ms=%.1f stamp_ms=%.1f jpeg_ms=%.1f archive_ms=%.1f upload_ms=%.1f total_ms=%.1f "
                "(frame %dx%d, jpeg %lld bytes, %d runs)%s\n",
                median(grab), median(stamp), median(jpeg), median(archive), median(upload), ours,
                frameSize.width(), frameSize.height(), static_cast<long long>(jpegBytes), kRuns,
                ok ? "" : " (failed)");
    std::fflush(stdout);

    // The reference: fswebcam's test source to a banner JPEG, then three curl uploads, each a process.
    const QString fswebcam = QStandardPaths::findExecutable(QStringLiteral("fswebcam"));
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (fswebcam.isEmpty() || curl.isEmpty()) {
        std::printf("job-reference not run: %s is not installed\n", fswebcam.isEmpty() ? "fswebcam" : "curl");
        return ok ? 0 : 1;
    }
    const QString out = work.filePath(QStringLiteral("out.jpg"));
    const QStringList fswebcamArgs{QStringLiteral("-q"),
                                   QStringLiteral("-d"),
                                   QStringLiteral("TEST"),
                                   QStringLiteral("-r"),
                                   QStringLiteral("1280x720"),
                                   QStringLiteral("--banner-colour"),
                                   QStringLiteral("#40000000"),
                                   QStringLiteral("--title"),
                                   QStringLiteral("Webcam"),
                                   QStringLiteral("--subtitle"),
                                   QStringLiteral("reference"),
                                   QStringLiteral("--timestamp"),
                                   QStringLiteral("%H:%M:%S %m-%d-%Y"),
                                   QStringLiteral("--jpeg"),
                                   QString::number(kQuality),
                                   out};
    std::vector<double> theirShot, theirUploads, theirTotal;
    bool refOk = true;
    for (int run = -1; run < kRuns; ++run) { // run -1 is the warm-up
        const double shot = runProcessMs(fswebcam, fswebcamArgs);
        double uploads = 0;
        for (const auto& server : servers) {
            const double ms = runProcessMs(curl, {QStringLiteral("-s"), QStringLiteral("-T"), out,
                                                  QStringLiteral("ftp://%1:%2@127.0.0.1:%3/")
                                                      .arg(LoopbackServer::user(), LoopbackServer::password())
                                                      .arg(server->port())});
            refOk = refOk && ms >= 0;
            uploads += ms;
        }
        refOk = refOk && shot >= 0;
        if (run < 0)
            continue;
        theirShot.push_back(shot);
        theirUploads.push_back(uploads);
        theirTotal.push_back(shot + uploads);
    }
    const qint64 theirBytes = QFileInfo(out).size();
    for (const auto& server : servers)
        refOk =
            refOk && QFileInfo(QDir(server->root()).filePath(QStringLiteral("out.jpg"))).size() == theirBytes;
    const double theirs = median(theirTotal);
    std::printf("job-reference fswebcam_ms=%.1f curl_ms=%.1f total_ms=%.1f (jpeg %lld bytes)%s\n",
                median(theirShot), median(theirUploads), theirs, static_cast<long long>(theirBytes),
                refOk ? "" : " (failed)");
    std::printf("job ratio=%.2f (ours/theirs, total; below 1 is faster)\n", theirs > 0 ? ours / theirs : 0.0);
    return ok && refOk ? 0 : 1;
}

const zantrel::bench::Register reg("job", &runJob);

} // namespace
