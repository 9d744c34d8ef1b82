// webcam-zantrel-bench http: the live view of `webcam-zantrel --headless` (test camera 640x480, default
// preview rate). The median time of 1,000 sequential GETs of /current.jpg over one kept-alive connection
// beside nginx serving the same file from a tmpfs, and the program's CPU time while 8 clients watch the
// live stream beside its CPU time while nobody watches.

#include "bench.h"
#include "process_cpu.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <curl/curl.h>
#include <memory>
#include <unistd.h>

namespace {

using zantrel::bench::Child;
using zantrel::bench::cpuOver;

constexpr int kRequests = 1000;
constexpr int kCpuSeconds = 5;

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

size_t keep(char* data, size_t size, size_t n, void* target) {
    static_cast<QByteArray*>(target)->append(data, qsizetype(size * n));
    return size * n;
}

// Median milliseconds of kRequests GETs of url over one connection; the body of the last in body.
double medianGetMs(const QByteArray& url, QByteArray* body = nullptr) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    QByteArray got;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &keep);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &got);
    std::vector<double> times;
    for (int i = 0; i < kRequests + 20; ++i) {
        got.clear();
        const double ms = zantrel::bench::timeMs([&] { curl_easy_perform(curl.get()); });
        if (i >= 20) // the first ones open the connection and warm the caches
            times.push_back(ms);
    }
    if (body)
        *body = got;
    return zantrel::bench::median(times);
}

int runHttp() {
    QTemporaryDir home;
    const quint16 port = freePort();
    QDir().mkpath(home.filePath(QStringLiteral("KALDOR")));
    QFile ini(home.filePath(QStringLiteral("KALDOR/KALDOR.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    ini.write("[UPDATE]\nPARTI=5\nUNITI=3\n[HTTP]\nENABLE=1\nPORT=" + QByteArray::number(port) + "\n");
    ini.close();

    Child program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("WEBCAM_ZANTREL_TEST_CAMERA"),
               QStringLiteral("videotestsrc is-live=true pattern=ball ! video/x-raw,width=640,height=480,"
                              "framerate=30/1"));
    program.process.setProcessEnvironment(env);
    program.process.setWorkingDirectory(home.path());
    program.process.start(QStringLiteral(ZANTREL_BINARY), {QStringLiteral("--headless")});
    if (!program.process.waitForStarted(5000))
        return 1;
    const QByteArray base = "http://127.0.0.1:" + QByteArray::number(port);

    // The first image comes with the first update.
    QByteArray image;
    for (int i = 0; i < 300 && image.isEmpty(); ++i) {
        QThread::msleep(100);
        std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
        const QByteArray url = base + "/current.jpg";
        curl_easy_setopt(curl.get(), CURLOPT_URL, url.constData());
        curl_easy_setopt(curl.get(), CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &keep);
        curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &image);
        if (curl_easy_perform(curl.get()) != CURLE_OK)
            image.clear();
    }
    if (image.isEmpty()) {
        std::fprintf(stderr, "http: the program served no image\n");
        return 1;
    }

    // nginx, its files and the image on a tmpfs.
    const QString nginxBinary = QStandardPaths::findExecutable(QStringLiteral("nginx"), {"/usr/sbin"});
    QTemporaryDir shm(QStringLiteral("/dev/shm/zantrel-bench-XXXXXX"));
    QFile copy(shm.filePath(QStringLiteral("current.jpg")));
    copy.open(QIODevice::WriteOnly);
    copy.write(image);
    copy.close();
    const quint16 nginxPort = freePort();
    QFile conf(shm.filePath(QStringLiteral("nginx.conf")));
    conf.open(QIODevice::WriteOnly);
    conf.write("daemon off; master_process off; worker_processes 1; pid " +
               shm.filePath("nginx.pid").toUtf8() + "; error_log " + shm.filePath("error.log").toUtf8() +
               "; events { worker_connections 64; } http { access_log off; sendfile on; "
               "keepalive_requests 100000; client_body_temp_path " +
               shm.path().toUtf8() + "; proxy_temp_path " + shm.path().toUtf8() + "; fastcgi_temp_path " +
               shm.path().toUtf8() + "; uwsgi_temp_path " + shm.path().toUtf8() + "; scgi_temp_path " +
               shm.path().toUtf8() + "; server { listen 127.0.0.1:" + QByteArray::number(nginxPort) +
               "; root " + shm.path().toUtf8() + "; } }\n");
    conf.close();
    Child nginx;
    double nginxMs = 0;
    if (!nginxBinary.isEmpty()) {
        nginx.process.start(nginxBinary,
                            {QStringLiteral("-p"), shm.path(), QStringLiteral("-c"), conf.fileName()});
        nginx.process.waitForStarted(5000);
        QThread::msleep(500);
        QByteArray fromNginx;
        nginxMs =
            medianGetMs("http://127.0.0.1:" + QByteArray::number(nginxPort) + "/current.jpg", &fromNginx);
        if (fromNginx != image)
            nginxMs = 0;
    }
    const double programMs = medianGetMs(base + "/current.jpg");
    if (nginxMs > 0)
        std::printf("http current.jpg ratio=%.2f (program %.3f ms, nginx %.3f ms, %lld bytes)\n",
                    programMs / nginxMs, programMs, nginxMs, static_cast<long long>(image.size()));
    else
        std::printf("http current.jpg ratio=n/a (program %.3f ms; nginx did not serve the file)\n",
                    programMs);

    const qint64 pid = program.process.processId();
    const double idle = cpuOver(pid, kCpuSeconds);
    std::vector<std::unique_ptr<Child>> viewers;
    for (int i = 0; i < 8; ++i) {
        viewers.push_back(std::make_unique<Child>());
        viewers.back()->process.start(QStringLiteral("curl"),
                                      {QStringLiteral("-s"), QStringLiteral("-o"),
                                       QStringLiteral("/dev/null"), QString::fromUtf8(base + "/live.mjpg")});
    }
    QThread::sleep(1);
    const double watched = cpuOver(pid, kCpuSeconds);
    std::printf("http mjpeg clients=8 cpu=%.2f (%.2f s against %.2f s of CPU in %d s)\n",
                idle > 0 ? watched / idle : 0.0, watched, idle, kCpuSeconds);
    return 0;
}

const zantrel::bench::Register reg("http", &runHttp);

} // namespace
