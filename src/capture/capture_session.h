#pragma once

// Capture-private: the pipeline of one connected camera, in preview or overlay mode.

#include "capture/bus_signals.h"
#include "capture/frame_store.h"
#include "capture/gst_handle.h"
#include "capture/video_format.h"

#include <QSize>
#include <QWidget>
#include <atomic>
#include <initializer_list>
#include <memory>

namespace zantrel {

class CompressedGroup;

class CaptureSession : public QObject {
    Q_OBJECT
  public:
    enum class Mode { Preview, Overlay };
    // Where the camera's sink delivers frames, until the session closes it.
    struct FrameGate {
        std::shared_ptr<FrameStore> frames;
        std::atomic<bool> open{true};
    };

    // Closing the session stops its camera on a thread of its own and waits only briefly for it.
    // Builds the pipeline around source and opens the camera (READY). Frames go to frames once
    // started. formatCaps restricts the camera's format ("" leaves it free); a format the camera
    // refuses is dropped rather than keeping the camera from opening. overlaySink names the sink
    // factory of overlay mode. Null, with the reason, when the camera does not open.
    static std::unique_ptr<CaptureSession> open(gst::ElementPtr source, std::shared_ptr<FrameStore> frames,
                                                Mode mode, const QString& formatCaps,
                                                const QString& overlaySink, QString* error);
    ~CaptureSession() override;

    Mode mode() const { return mode_; }
    // Lets at most framesPerSecond frames through to the program (no limit below 1).
    void setRate(int framesPerSecond);
    // Overlay mode: the native window the sink draws into, and its size in pixels.
    void setOverlayWindow(WId window, QSize size);
    void resizeOverlay(QSize size);
    bool play();
    bool playing() const { return playing_; }

    // The size of the pictures the camera delivers; empty when unknown.
    QSize formatSize() const;
    std::vector<VideoFormat> formats() const;
    QString currentFormatCaps() const { return formatCaps_; }
    // Switches the camera to the format at once; false (and the previous format kept) when refused.
    bool applyFormat(const QString& capsText);
    std::vector<SourceControl> controls() const;
    bool setControl(const QString& name, int value);
    // Stops the camera without waiting for it, as a failure of its own would, and emits failed.
    void fail(const QString& reason);

  Q_SIGNALS:
    // The camera stopped delivering: an error (unplugged, driver failure) or the end of its stream.
    void failed(const QString& reason);
    // The camera has trouble but goes on (a damaged picture, a network camera asked again).
    void trouble(const QString& reason);

  private:
    CaptureSession() = default;
    bool build(gst::ElementPtr source, const QString& overlaySink, QString* error);
    // Adds the elements of chain to the pipeline and links each to the next.
    bool addChain(std::initializer_list<gst::ElementPtr*> chain);
    // The steps of build. Each adds its elements to the pipeline and links them (linked turns false
    // when a link fails); null or false when one of its elements cannot be made.
    // The camera and the filter that holds its format; returns the filter.
    GstElement* addCamera(gst::ElementPtr source, bool& linked);
    // Overlay mode: splits upstream into the live view drawn by sinkFactory and the frames for the
    // program; returns where the frames continue.
    GstElement* addLiveView(GstElement* upstream, const QString& sinkFactory, bool& linked);
    // Rate limit, conversion to the program's pixel format, and the sink that fills frames_.
    bool addFrameOutput(GstElement* upstream, bool& linked);
    void watchBus();
    // The source's picture controls, when it has any.
    void findColourBalance();
    bool setFormatCaps(const QString& capsText);

    Mode mode_ = Mode::Preview;
    std::shared_ptr<FrameStore> frames_;
    std::shared_ptr<FrameGate> gate_;
    std::shared_ptr<CompressedGroup> group_; // the camera's compressed frames, when it keeps them
    gst::ElementPtr pipeline_;
    gst::ObjectPtr<GstElement> balance_; // the source's colour balance, when it has one
    // Children of pipeline_, which owns them.
    GstElement* source_ = nullptr;
    GstElement* formatFilter_ = nullptr;
    GstElement* rate_ = nullptr;
    GstElement* overlaySink_ = nullptr;
    GstElement* overlayScaleFilter_ = nullptr; // only for sinks that cannot scale
    std::unique_ptr<BusSignals> bus_;
    QString formatCaps_;
    bool playing_ = false;
    bool failed_ = false;
};

} // namespace zantrel
