#include "shell/drag_window.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace zantrel {

bool DragWindow(QWidget* window) {
    if (!window)
        return false;
    QWindow* handle = window->window()->windowHandle();
    return handle && handle->startSystemMove();
}

WindowDrag::WindowDrag(QWidget* handle, QWidget* window, Qt::MouseButtons buttons)
    : QObject(handle), handle_(handle), window_(window), buttons_(buttons) {
    handle->installEventFilter(this);
}

QWidget* WindowDrag::target() const {
    return window_ ? window_.data() : handle_->window();
}

WindowDrag* WindowDrag::attach(QWidget* handle, QWidget* window, Qt::MouseButtons buttons) {
    return new WindowDrag(handle, window, buttons);
}

bool WindowDrag::eventFilter(QObject*, QEvent* event) {
    QWidget* window = target();
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!(mouse->button() & buttons_))
            return false;
        grabOffset_.reset();
        if (!DragWindow(window))
            grabOffset_ = mouse->globalPosition().toPoint() - window->pos();
        return true;
    }
    case QEvent::MouseMove:
        if (!grabOffset_)
            return false;
        window->move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - *grabOffset_);
        return true;
    case QEvent::MouseButtonRelease:
        if (!grabOffset_)
            return false;
        grabOffset_.reset();
        return true;
    default:
        return false;
    }
}

FrameResizer::FrameResizer(QWidget* window, int margin) : QObject(window), window_(window), margin_(margin) {
    window->setAttribute(Qt::WA_Hover);
    window->installEventFilter(this);
}

FrameResizer* FrameResizer::attach(QWidget* window, int margin) {
    return new FrameResizer(window, margin);
}

Qt::Edges FrameResizer::edgesAt(QSize size, QPoint pos, int margin) {
    Qt::Edges edges;
    if (pos.x() < margin)
        edges |= Qt::LeftEdge;
    else if (pos.x() >= size.width() - margin)
        edges |= Qt::RightEdge;
    if (pos.y() < margin)
        edges |= Qt::TopEdge;
    else if (pos.y() >= size.height() - margin)
        edges |= Qt::BottomEdge;
    return edges;
}

QRect FrameResizer::resized(const QRect& start, Qt::Edges edges, QPoint delta, QSize minimum) {
    QRect r = start;
    if (edges & Qt::LeftEdge)
        r.setLeft(std::min(start.left() + delta.x(), start.right() + 1 - minimum.width()));
    if (edges & Qt::RightEdge)
        r.setRight(std::max(start.right() + delta.x(), start.left() + minimum.width() - 1));
    if (edges & Qt::TopEdge)
        r.setTop(std::min(start.top() + delta.y(), start.bottom() + 1 - minimum.height()));
    if (edges & Qt::BottomEdge)
        r.setBottom(std::max(start.bottom() + delta.y(), start.top() + minimum.height() - 1));
    return r;
}

namespace {
Qt::CursorShape cursorFor(Qt::Edges edges) {
    const bool horizontal = edges & (Qt::LeftEdge | Qt::RightEdge);
    const bool vertical = edges & (Qt::TopEdge | Qt::BottomEdge);
    if (horizontal && vertical)
        return (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge))
                   ? Qt::SizeFDiagCursor
                   : Qt::SizeBDiagCursor;
    return horizontal ? Qt::SizeHorCursor : Qt::SizeVerCursor;
}
} // namespace

bool FrameResizer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_ || window_->isMaximized())
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::HoverMove: {
        const auto edges =
            edgesAt(window_->size(), static_cast<QHoverEvent*>(event)->position().toPoint(), margin_);
        if (edges_)
            break;
        if (edges)
            window_->setCursor(cursorFor(edges));
        else
            window_->unsetCursor();
        break;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const auto edges = edgesAt(window_->size(), mouse->position().toPoint(), margin_);
        if (mouse->button() != Qt::LeftButton || !edges)
            break;
        QWindow* handle = window_->windowHandle();
        if (handle && handle->startSystemResize(edges))
            return true;
        edges_ = edges;
        startGeometry_ = window_->geometry();
        startPos_ = mouse->globalPosition().toPoint();
        return true;
    }
    case QEvent::MouseMove:
        if (!edges_)
            break;
        window_->setGeometry(resized(startGeometry_, edges_,
                                     static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - startPos_,
                                     window_->minimumSize()));
        return true;
    case QEvent::MouseButtonRelease:
        if (!edges_)
            break;
        edges_ = {};
        return true;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace zantrel
