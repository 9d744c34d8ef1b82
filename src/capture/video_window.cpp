#include "capture/video_window.h"

#include "capture/capture_view.h"
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
    painter.fillRect(rect(), Qt::black);
    const QImage card = MiraTestCard();
    painter.drawImage(LetterboxRect(card.size(), rect()), card);
}

void VideoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Q_EMIT resized();
}

} // namespace zantrel
