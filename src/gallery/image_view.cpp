#include "gallery/image_view.h"

#include "gallery/gallery_caption.h"
#include "gallery/thumbnail_maker.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace zantrel {

namespace {

// The label that shows the picture stretched over all of it; pressing it moves the window.
class StretchedPicture : public QLabel {
  public:
    using QLabel::QLabel;

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            DragGalleryWindow(window());
    }
};

} // namespace

ImageView::ImageView(QWidget* parent) : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("ImageView"));
    setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 2, 1, 1);
    layout->setSpacing(0);
    caption_ = new GalleryCaption(QString(), this);
    caption_->addButton(QStringLiteral("close"), QStringLiteral("close"), QStringLiteral("Close"));
    connect(caption_, &GalleryCaption::clicked, this, &ImageView::captionClicked);
    layout->addWidget(caption_);
    source_ = new StretchedPicture(this);
    source_->setObjectName(QStringLiteral("imgSource"));
    source_->setScaledContents(true);
    source_->setAlignment(Qt::AlignCenter);
    source_->setWordWrap(true);
    source_->setMinimumSize(1, 1);
    source_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    layout->addWidget(source_, 1);
    resize(kInitialSize);
}

void ImageView::showPath(const QString& path) {
    path_ = path;
    caption_->setTitle(QStringLiteral("  ") + path);
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
    if (!QFileInfo(path_).isFile()) {
        problem = QStringLiteral("The picture cannot be shown: the file %1 does not exist.");
    } else {
        QImageReader reader(path_);
        reader.setAutoTransform(true);
        if (JpegLooksComplete(path_))
            image = reader.read();
        if (image.isNull())
            problem =
                QStringLiteral("The picture cannot be shown: %1 is not a picture this program can read, "
                               "or the file is damaged.");
    }
    if (image.isNull())
        source_->setText(problem.arg(path_));
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
