#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace zantrel {

// The cameras the program can connect: the video sources GStreamer's device monitor finds, in a stable
// order, then the saved network cameras (NETCAM), then the stand-in "Test Camera" when
// WEBCAM_ZANTREL_TEST_CAMERA holds a source description. Cameras plugged in or out while the program runs
// are noticed. Lives on the UI thread.
class DeviceList : public QObject {
    Q_OBJECT
  public:
    explicit DeviceList(QObject* parent = nullptr);
    ~DeviceList() override;

    int count() const;
    // Empty past the end.
    QString name(int index) const;
    // What stays the same for one camera across unplugging and plugging it in again.
    QString identity(int index) const;
    int indexOf(const QString& identity) const;

    // Network cameras: their identity is their address as saved.
    bool isNetworkCamera(int index) const;
    // Reads the saved network cameras again (after the settings changed them).
    void reloadNetworkCameras();
    // Lists a camera address that is not among the saved ones (from a settings file written by hand)
    // after them, for this run only; its index. An address listed already gives its index.
    int addUnlisted(const QString& address);

    static QString testCameraName() { return QStringLiteral("Test Camera"); }
    static const char* testCameraVariable() { return "WEBCAM_ZANTREL_TEST_CAMERA"; }

    // Capture-private details (GStreamer objects), see device_list_p.h.
    struct Impl;
    const Impl& internals() const { return *d_; }

  Q_SIGNALS:
    void changed();
    void added(const QString& identity);
    void removed(const QString& identity);

  private:
    std::unique_ptr<Impl> d_;
};

} // namespace zantrel
