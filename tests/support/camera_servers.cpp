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
    // What the server said before now may still be on its way.
    for (int i = 0; i < 20 && process_.waitForReadyRead(50);)
        ++i;
    output_ += process_.readAllStandardOutput();
    return int(output_.count("GET " + path.toUtf8() + '\n'));
}

int CounterShown(const QImage& picture) {
    if (picture.width() < 16 || picture.height() < 8)
        return -1;
    const int block = picture.width() / 16;
    int shown = -1;
    for (const int y : {picture.height() / 8, picture.height() / 2, picture.height() * 7 / 8}) {
        int n = 0;
        for (int i = 0; i < 16; ++i) {
            const int grey = qGray(picture.pixel(i * block + block / 2, y));
            if (grey > 60 && grey < 190)
                return -1;
            n = n * 2 + (grey >= 190 ? 1 : 0);
        }
        if (shown >= 0 && n != shown)
            return -1;
        shown = n;
    }
    return shown;
}

} // namespace zantrel::test
