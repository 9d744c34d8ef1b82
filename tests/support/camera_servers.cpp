#include "support/camera_servers.h"

#include <QDeadlineTimer>
#include <algorithm>

namespace zantrel::test {

CameraServer::CameraServer(Kind kind, const QStringList& args) : kind_(kind) {
    const char* script = kind == Kind::Http ? "/http_camera.py" : "/rtsp_server.py";
    process_.start(QStringLiteral("/usr/bin/python3"),
                   QStringList{QStringLiteral(ZANTREL_TEST_DATA_DIR) + QLatin1String(script)} + args);
    // A cold GStreamer registry makes the first start slow: the whole deadline is waited for, however
    // long the server stays silent.
    for (QDeadlineTimer deadline(15000);
         !deadline.hasExpired() && process_.state() != QProcess::NotRunning;) {
        process_.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
        output_ += process_.readAllStandardOutput();
        if (output_.startsWith("PORT ") && output_.contains('\n')) {
            port_ = quint16(output_.mid(5, output_.indexOf('\n') - 5).toUInt());
            return;
        }
    }
    failure_ = QStringLiteral("the test camera did not start: ") +
               QString::fromLocal8Bit(process_.readAllStandardError());
}

CameraServer::~CameraServer() {
    process_.kill();
    process_.waitForFinished(5000);
}

QString CameraServer::url(const QString& path, const QString& credentials) const {
    const QString scheme = kind_ == Kind::Http ? QStringLiteral("http") : QStringLiteral("rtsp");
    const QString login = credentials.isEmpty() ? QString() : credentials + QLatin1Char('@');
    return scheme + QStringLiteral("://") + login + QStringLiteral("127.0.0.1:%1").arg(port_) + path;
}

int CameraServer::requests(const QString& path) {
    output_ += process_.readAllStandardOutput();
    return int(output_.count("GET " + path.toUtf8() + '\n'));
}

} // namespace zantrel::test
