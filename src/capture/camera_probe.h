#pragma once

#include <QImage>
#include <QObject>
#include <memory>

namespace zantrel {

class CaptureSession;
class DeviceList;
class FrameStore;

// Tries a camera of the list on a pipeline of its own, beside the connected camera: its first picture,
// or why none came. Lives on the UI thread and never waits there.
class CameraProbe : public QObject {
    Q_OBJECT
  public:
    explicit CameraProbe(QObject* parent = nullptr);
    ~CameraProbe() override;

    // Starts a try of the camera at index, ending any try still running (which then reports nothing).
    void start(const DeviceList& devices, int index, int timeoutMs = 15000);
    bool running() const { return session_ != nullptr; }

  Q_SIGNALS:
    // Once per try: the picture (Format_RGB32, the camera's size), or a null one and the reason.
    void finished(const QImage& picture, const QString& error);

  private:
    void finish(const QImage& picture, const QString& error);

    std::shared_ptr<FrameStore> frames_;
    std::unique_ptr<CaptureSession> session_;
    quint64 attempt_ = 0;
};

} // namespace zantrel
