#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <optional>

class QWidget;

namespace zantrel {

// Moves a window that has no title bar: the window manager runs the move as if its title bar had been
// pressed. Returns false where the platform refuses (a bare X server, offscreen); the caller then moves
// the window itself, as WindowDrag does.
bool DragWindow(QWidget* window);

// Makes a control a drag handle of its window: pressing one of `buttons` on it moves the window, through
// the window manager where it offers the move and by following the mouse where it does not.
class WindowDrag : public QObject {
    Q_OBJECT
  public:
    // With no window given, the handle's top-level window at the time of the press moves.
    static WindowDrag* attach(QWidget* handle, QWidget* window = nullptr,
                              Qt::MouseButtons buttons = Qt::LeftButton);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    WindowDrag(QWidget* handle, QWidget* window, Qt::MouseButtons buttons);

    QWidget* target() const;

    QWidget* handle_;
    QPointer<QWidget> window_;
    Qt::MouseButtons buttons_;
    std::optional<QPoint> grabOffset_;
};

// Keeps a frameless window sizable from its edges: the pointer shows the resize shape within `margin`
// pixels of an edge, and a left press there resizes through the window manager or, where it refuses, by
// following the mouse.
class FrameResizer : public QObject {
    Q_OBJECT
  public:
    static FrameResizer* attach(QWidget* window, int margin = 4);

    // The edges a point of a window of the given size is near.
    static Qt::Edges edgesAt(QSize size, QPoint pos, int margin);
    // The window's new outer rectangle when the edges of `start` are dragged by `delta`, kept no smaller
    // than `minimum`; the opposite edges stay where they were.
    static QRect resized(const QRect& start, Qt::Edges edges, QPoint delta, QSize minimum);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    FrameResizer(QWidget* window, int margin);

    QWidget* window_;
    int margin_;
    Qt::Edges edges_;
    QRect startGeometry_;
    QPoint startPos_;
};

} // namespace zantrel
