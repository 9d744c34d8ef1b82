#include "gallery/image_view.h"

#include "gallery/caption_pictures.h"
#include "gallery/thumbnail_maker.h"
#include "shell/caption_row.h"
#include "shell/drag_window.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

namespace zantrel {

ImageView::ImageView(QWidget* parent) : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("ImageView"));
    setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 3, 4);
    layout->setSpacing(0);
    caption_ = new CaptionRow(this, 2);
    SetCaptionPicture(caption_->addButton(QStringLiteral("close"), {}, QStringLiteral("Close")),
                      QStringLiteral("close"));
    connect(caption_, &CaptionRow::buttonClicked, this, &ImageView::captionClicked);
    layout->addWidget(caption_);
    source_ = new QLabel(this);
    source_->setObjectName(QStringLiteral("imgSource"));
    source_->setScaledContents(true);
    source_->setAlignment(Qt::AlignCenter);
    source_->setWordWrap(true);
    source_->setMinimumSize(1, 1);
    source_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    layout->addWidget(source_, 1);
    WindowDrag::attach(source_, this);
    FrameResizer::attach(this);
    resize(kInitialSize);
}

void ImageView::showPath(const QString& path) {
    path_ = path;
    caption_->setTitle(path); // after two blanks
    load();
    if (!placed_) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        placed_ = true;
    }
    show();
    raise();
    activateWindow();
}

void ImageView::load() {
    setCursor(Qt::WaitCursor);
    source_->clear();
    QImage image;
    QString problem;
    if (!QFileInfo::exists(path_) && !QFileInfo(path_).isSymLink()) {
        problem = QStringLiteral("The picture cannot be shown: the file %1 does not exist.").arg(path_);
    } else {
        DecodedPicture decoded = DecodePicture(path_);
        image = std::move(decoded.image);
        if (image.isNull())
            problem = decoded.problem.isEmpty()
                          ? QStringLiteral("The picture cannot be shown: %1 is not a picture this program "
                                           "can read, or the file is damaged.")
                                .arg(path_)
                          : QStringLiteral("The picture cannot be shown: %1.").arg(decoded.problem);
    }
    if (image.isNull())
        source_->setText(problem);
    else
        source_->setPixmap(QPixmap::fromImage(image));
    unsetCursor();
}

QImage ImageView::picture() const {
    return source_->pixmap().toImage();
}

QString ImageView::message() const {
    return source_->text();
}

void ImageView::closeEvent(QCloseEvent* event) {
    source_->clear(); // the picture is not kept while the viewer is closed
    QWidget::closeEvent(event);
}

void ImageView::captionClicked(const QString& key) {
    if (key == QLatin1String("close"))
        close();
}

} // namespace zantrel
