#pragma once

#include <QWidget>

namespace zantrel {

// The video area of the main window. It shows the test card as large as fits, between black bars; the camera
// picture is drawn by a capture view (see capture_view.h) that the capture window places inside it.
class VideoWindow : public QWidget {
    Q_OBJECT
  public:
    explicit VideoWindow(QWidget* parent = nullptr);
    QSize sizeHint() const override;

  Q_SIGNALS:
    // The area changed size: the live picture has to be fitted again.
    void resized();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace zantrel
