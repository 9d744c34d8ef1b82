#include "gallery/gallery_caption.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QWindow>

namespace zantrel {

namespace {

// The 12 × 10 caption pictures.
QIcon drawPicture(const QString& name) {
    QPixmap pixmap(12, 10);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QPen(Qt::black, 1));
    if (name == QLatin1String("close")) {
        p.drawLine(2, 1, 9, 8);
        p.drawLine(9, 1, 2, 8);
    } else if (name == QLatin1String("maximize")) {
        p.drawRect(1, 0, 9, 8);
        p.drawLine(1, 1, 10, 1);
    } else if (name == QLatin1String("restore")) {
        p.drawRect(3, 0, 7, 5);
        p.drawRect(1, 3, 7, 5);
    }
    return QIcon(pixmap);
}

} // namespace

GalleryCaption::GalleryCaption(const QString& title, QWidget* parent) : QWidget(parent) {
    layout_ = new QHBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    title_ = new QLabel(title, this);
    title_->setObjectName(QStringLiteral("CaptionPicture"));
    title_->installEventFilter(this);
    layout_->addWidget(title_, 1);
}

void GalleryCaption::setTitle(const QString& title) {
    title_->setText(title);
}

QString GalleryCaption::title() const {
    return title_->text();
}

void GalleryCaption::addButton(const QString& key, const QString& picture, const QString& tip) {
    auto* button = new QToolButton(this);
    button->setObjectName(key);
    button->setAutoRaise(true);
    button->setToolTip(tip);
    button->setAccessibleName(tip.isEmpty() ? key : tip);
    button->setIconSize({12, 10});
    layout_->addWidget(button);
    setPicture(key, picture);
    connect(button, &QToolButton::clicked, this, [this, key] { Q_EMIT clicked(key); });
}

void GalleryCaption::setPicture(const QString& key, const QString& picture) {
    if (QToolButton* b = button(key)) {
        b->setIcon(drawPicture(picture));
        b->setProperty("picture", picture);
    }
}

QString GalleryCaption::picture(const QString& key) const {
    const QToolButton* b = button(key);
    return b ? b->property("picture").toString() : QString();
}

QToolButton* GalleryCaption::button(const QString& key) const {
    return findChild<QToolButton*>(key, Qt::FindDirectChildrenOnly);
}

bool GalleryCaption::eventFilter(QObject* watched, QEvent* event) {
    if (watched == title_ && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        DragGalleryWindow(window());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void DragGalleryWindow(QWidget* window) {
    if (QWindow* handle = window ? window->windowHandle() : nullptr)
        handle->startSystemMove();
}

} // namespace zantrel
