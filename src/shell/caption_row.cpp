#include "shell/caption_row.h"

#include "shell/drag_window.h"

#include <QLabel>
#include <QToolButton>

namespace zantrel {

CaptionRow::CaptionRow(QWidget* parent, int toolbarTop) : QWidget(parent), toolbarTop_(toolbarTop) {
    toolbar_ = new QWidget(this);
    toolbar_->setObjectName(QStringLiteral("CaptionToolbar"));
    space_ = new QWidget(toolbar_);
    space_->setObjectName(QStringLiteral("space"));

    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("CaptionPicture"));
    picture_->setTextFormat(Qt::PlainText);
    picture_->setFont(QFont(QStringLiteral("Arial"), 9, QFont::Bold));
    picture_->setIndent(5);
    picture_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    WindowDrag::attach(picture_);
    setFixedHeight(rowHeight());
}

QToolButton* CaptionRow::addButton(const QString& key, const QIcon& icon, const QString& tip) {
    auto* b = new QToolButton(toolbar_);
    b->setObjectName(key);
    b->setIcon(icon);
    b->setIconSize(QSize(12, 10));
    b->setToolTip(tip);
    b->setAccessibleName(tip.isEmpty() ? key : tip);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedSize(kButtonSize);
    connect(b, &QToolButton::clicked, this, [this, key] { Q_EMIT buttonClicked(key); });
    buttons_.push_back(b);
    layoutRow();
    return b;
}

QToolButton* CaptionRow::button(const QString& key) const {
    for (QToolButton* b : buttons_)
        if (b->objectName() == key)
            return b;
    return nullptr;
}

void CaptionRow::setTitle(const QString& title) {
    picture_->setText(QStringLiteral("  ") + title);
    picture_->setAccessibleName(title);
}

void CaptionRow::setPictureLeft(int pixels) {
    pictureLeft_ = pixels;
    layoutRow();
}

void CaptionRow::resizeEvent(QResizeEvent*) {
    layoutRow();
}

void CaptionRow::layoutRow() {
    const int w = width();
    const int buttonWidth = kButtonSize.width();
    toolbar_->setGeometry(0, toolbarTop_, w, kButtonSize.height());
    const int spaceWidth = std::max(0, w - int(buttons_.size()) * buttonWidth - pictureLeft_);
    space_->setGeometry(0, 0, spaceWidth, kButtonSize.height());
    int x = spaceWidth;
    for (QToolButton* b : buttons_) {
        b->move(x, 0);
        x += buttonWidth;
    }
    picture_->setGeometry(pictureLeft_, 0, std::max(0, spaceWidth - pictureLeft_), kButtonSize.height());
}

} // namespace zantrel
