#include "capture/video_window.h"

#include "capture/mira.h"

#include <QPainter>

namespace zantrel {

VideoWindow::VideoWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("VideoWindow"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize VideoWindow::sizeHint() const {
    return QSize(kMiraWidth, kMiraHeight);
}

void VideoWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(rect(), MiraTestCard());
}

void VideoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Q_EMIT resized();
}

} // namespace zantrel
