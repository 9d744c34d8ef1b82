#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QUrl>
#include <algorithm>
#include <csignal>

namespace zantrel::test {

// An RTSP camera on 127.0.0.1 (data/rtsp_server.py), 320 x 240 red: signal(SIGSTOP) freezes it; start()
// after stop() serves again on the same port.
struct RtspTestServer {
    QProcess process;
    QString url; // once it serves
    RtspTestServer() { start(); }
    ~RtspTestServer() { stop(); }
    bool start() {
        const QString port = QString::number(QUrl(std::exchange(url, {})).port(0));
        process.start(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral(ZANTREL_TEST_DATA_DIR "/rtsp_server.py"), "--port=" + port,
                       "--width=320", "--height=240"});
        for (QDeadlineTimer deadline(15000);
             !url.startsWith(u"rtsp:") && !deadline.hasExpired() && process.state() != QProcess::NotRunning;)
            if (process.canReadLine() ||
                process.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))))
                url = QString::fromLatin1(process.readLine()).trimmed(); // "PORT <n>", then the address
        return url.startsWith(u"rtsp:");
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
    void stop() { signal(SIGCONT), process.kill(), process.waitForFinished(5000); }
    QString description() const {
        return "rtspsrc location=" + url + " protocols=tcp latency=100 ! decodebin";
    }
};

} // namespace zantrel::test
