#include "capture/capture_view.h"

#include "capture/mira.h"

#include <QPainter>
#include <QResizeEvent>

namespace zantrel {

QRect LetterboxRect(const QSize& picture, const QRect& area) {
    if (picture.isEmpty())
        return area;
    QRect fitted(QPoint(), picture.scaled(area.size(), Qt::KeepAspectRatio));
    fitted.moveCenter(area.center());
    return fitted;
}

CaptureView::CaptureView(std::shared_ptr<FrameStore> frames, QWidget* parent)
    : QWidget(parent), frames_(std::move(frames)) {
    setObjectName(QStringLiteral("CaptureView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(frames_.get(), &FrameStore::frameArrived, this, qOverload<>(&QWidget::update),
            Qt::QueuedConnection);
}

void CaptureView::setScaled(bool scaled) {
    if (scaled_ == scaled)
        return;
    scaled_ = scaled;
    update();
}

WId CaptureView::showOverlaySurface() {
    if (!surface_) {
        surface_ = new QWidget(this);
        surface_->setObjectName(QStringLiteral("OverlaySurface"));
        surface_->setAttribute(Qt::WA_NativeWindow);
        // The sink paints this window; Qt must not paint over it.
        surface_->setAttribute(Qt::WA_OpaquePaintEvent);
        surface_->setAttribute(Qt::WA_NoSystemBackground);
        surface_->setAutoFillBackground(false);
    }
    surface_->setGeometry(rect());
    surface_->show();
    return surface_->winId();
}

void CaptureView::hideOverlaySurface() {
    if (surface_)
        surface_->hide();
    update();
}

void CaptureView::resizeEvent(QResizeEvent* event) {
    if (surface_)
        surface_->setGeometry(QRect(QPoint(0, 0), event->size()));
    QWidget::resizeEvent(event);
}

void CaptureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const std::shared_ptr<const CameraFrame> frame = frames_->takeForPaint();
    const QImage card = frame ? QImage() : MiraTestCard();
    const QRect whole(QPoint(), frame ? frame->size() : card.size());
    // The whole picture as large as fits, or (unscaled) the part that fits from the top left; the test
    // card always fits. Only the bars around it are filled.
    const bool fit = scaled_ || !frame;
    const QRect source = fit ? whole : whole & rect();
    const QRect target = fit ? LetterboxRect(whole.size(), rect()) : source;
    for (const QRect& bar : QRegion(rect()).subtracted(target))
        painter.fillRect(bar, Qt::black);
    if (!frame) {
        painter.drawImage(target, card);
        return;
    }
    ++framesPainted_;
    // Only what shows is converted: the picture at the size it is drawn, or the part that fits.
    converter_.draw(painter, *frame, source, target);
}

} // namespace zantrel
