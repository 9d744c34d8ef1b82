#pragma once

#include <QImage>
#include <QProcess>
#include <QStringList>

namespace zantrel::test {

// A test camera on 127.0.0.1, stopped with the object: tests/data/http_camera.py (pictures of 320x240,
// blue; login "cam", "secret" under /private/) or rtsp_server.py (640x360, red, on /cam).
class CameraServer {
  public:
    enum class Kind { Http, Rtsp };
    explicit CameraServer(Kind kind, const QStringList& args = {});
    ~CameraServer();
    bool running() const { return port_ != 0; }
    QString failure() const { return failure_; }
    // The address of path on this server, with credentials ("user:pass@") when given.
    QString url(const QString& path, const QString& credentials = {}) const;
    // Http: how many requests for path came so far.
    int requests(const QString& path);

  private:
    Kind kind_;
    QProcess process_;
    QByteArray output_;
    quint16 port_ = 0;
    QString failure_;
};

// The frame number drawn by rtsp_server.py --counter (16 blocks across, white 1, the highest bit at the
// left), read on three rows; -1 when a block is neither clearly black nor clearly white, or the rows
// disagree (a picture decoded in part).
int CounterShown(const QImage& picture);

} // namespace zantrel::test
