#include "support/rtsp_test_server.h"

#include <QDeadlineTimer>
#include <csignal>

namespace zantrel::test {

RtspTestServer::RtspTestServer(int width, int height, int rate)
    : width_(width), height_(height), rate_(rate) {
    start();
}

RtspTestServer::~RtspTestServer() {
    stop();
}

bool RtspTestServer::start() {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral(ZANTREL_TEST_DATA_DIR "/rtsp_server.py"), QStringLiteral("--port"),
                    QString::number(port_), QStringLiteral("--width"), QString::number(width_),
                    QStringLiteral("--height"), QString::number(height_), QStringLiteral("--rate"),
                    QString::number(rate_)});
    QByteArray out;
    for (QDeadlineTimer deadline(15000);
         out.count('\n') < 2 && process_.waitForReadyRead(deadline.remainingTime());)
        out += process_.readAllStandardOutput();
    const QList<QByteArray> lines = out.split('\n');
    if (lines.size() < 2 || !lines[0].startsWith("PORT ")) {
        failure_ = QStringLiteral("the RTSP server did not start (gir1.2-gst-rtsp-server-1.0 missing?)");
        return false;
    }
    port_ = quint16(lines[0].mid(5).trimmed().toUInt());
    url_ = QString::fromLatin1(lines[1].trimmed());
    return true;
}

void RtspTestServer::stop() {
    if (process_.state() == QProcess::NotRunning)
        return;
    thaw();
    process_.kill();
    process_.waitForFinished(5000);
}

void RtspTestServer::freeze() {
    ::kill(pid_t(process_.processId()), SIGSTOP);
}

void RtspTestServer::thaw() {
    ::kill(pid_t(process_.processId()), SIGCONT);
}

QString RtspTestServer::cameraDescription() const {
    return QStringLiteral("rtspsrc location=%1 protocols=tcp latency=100 ! decodebin").arg(url_);
}

} // namespace zantrel::test
