#pragma once

#include <QProcess>
#include <QString>

namespace zantrel::test {

// An RTSP camera on 127.0.0.1 (tests/data/rtsp_server.py): an H.264 test pattern of the size and rate
// given. It can be frozen (SIGSTOP) and thawed, or stopped and started again on the same port.
class RtspTestServer {
  public:
    RtspTestServer(int width, int height, int rate);
    ~RtspTestServer();
    RtspTestServer(const RtspTestServer&) = delete;
    RtspTestServer& operator=(const RtspTestServer&) = delete;

    // Starts the server (on the port it had, when it ran before); false when it does not come up.
    bool start();
    void stop();
    void freeze();
    void thaw();
    QString url() const { return url_; }
    // A test camera description that reads the server as the program would.
    QString cameraDescription() const;
    QString failure() const { return failure_; }

  private:
    QProcess process_;
    int width_, height_, rate_;
    quint16 port_ = 0;
    QString url_;
    QString failure_;
};

} // namespace zantrel::test
