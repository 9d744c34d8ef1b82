#pragma once

// Capture-private: turns the messages of one GStreamer bus into Qt signals on the UI thread.

#include "capture/gst_handle.h"

#include <QObject>
#include <QString>
#include <memory>

namespace zantrel {

class BusSignals : public QObject {
    Q_OBJECT
  public:
    // Watches bus (a pipeline's or a device monitor's). Messages posted from any thread arrive as
    // signals on the thread this object lives on.
    explicit BusSignals(GstBus* bus, QObject* parent = nullptr);
    ~BusSignals() override;

  Q_SIGNALS:
    void errorOccurred(const QString& text);
    void warningOccurred(const QString& text);
    void endOfStream();
    // The device is valid for the duration of the emission; take a reference to keep it.
    void deviceAdded(GstDevice* device);
    void deviceRemoved(GstDevice* device);

  private:
    struct Relay;
    void dispatch(GstMessage* message);

    gst::ObjectPtr<GstBus> bus_;
    std::shared_ptr<Relay> relay_;
};

} // namespace zantrel
