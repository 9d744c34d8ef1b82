#pragma once

#include "capture/frame_store.h"

#include <QPointer>
#include <QWidget>
#include <memory>

namespace zantrel {

// Where a picture of the given size goes inside area: as large as fits with its own aspect ratio,
// centred, the rest left for black bars.
QRect LetterboxRect(const QSize& picture, const QRect& area);

// The camera picture inside the video area. In preview mode it paints the newest frame (scaled to fit
// its size, aspect ratio kept, when scaling is on; at its own size from the top left otherwise), or the
// test card while there is none. In overlay mode a native child window covers it for the video sink to draw
// into.
class CaptureView : public QWidget {
    Q_OBJECT
  public:
    CaptureView(std::shared_ptr<FrameStore> frames, QWidget* parent);

    void setScaled(bool scaled);
    bool scaled() const { return scaled_; }
    // Shows (creating on first use) or hides the native window of overlay mode; returns its id.
    WId showOverlaySurface();
    void hideOverlaySurface();
    QWidget* overlaySurface() const { return surface_; }
    // Frames painted since creation.
    int framesPainted() const { return framesPainted_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    std::shared_ptr<FrameStore> frames_;
    FrameConverter converter_;
    QPointer<QWidget> surface_; // a child, owned by this widget
    bool scaled_ = true;
    int framesPainted_ = 0;
};

} // namespace zantrel
