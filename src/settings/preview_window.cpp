#include "settings/preview_window.h"

#include "imaging/jpeg_round_trip.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

namespace zantrel {

QImage PreparePreview(QImage frame, const StampParams& stamps, int compression) {
    StampFrame(frame, stamps);
    return JpegRoundTrip(frame, 100 - compression);
}

QSize PreviewPictureSize(QSize picture, QSize available) {
    const QSize room = available - QSize(PreviewWindow::kMarginWidth, PreviewWindow::kMarginHeight);
    if (picture.isEmpty() || (picture.width() <= room.width() && picture.height() <= room.height()))
        return picture;
    return picture.scaled(room.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio);
}

PreviewWindow::PreviewWindow(const QImage& image, QWidget* parent)
    : QDialog(parent), picture_(new QLabel(this)) {
    setObjectName(QStringLiteral("frmPreview"));
    setWindowTitle(QStringLiteral("Preview"));
    setModal(true);
    picture_->setObjectName(QStringLiteral("MasterPic"));
    picture_->setAccessibleName(QStringLiteral("Preview"));

    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const QSize available = screen ? screen->availableGeometry().size() : image.size();
    const QSize shown = PreviewPictureSize(image.size(), available);
    const QPixmap pixmap = QPixmap::fromImage(
        shown == image.size() ? image : image.scaled(shown, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    picture_->setPixmap(pixmap);
    picture_->resize(pixmap.size());

    const QSize window = pixmap.size() + QSize(kMarginWidth, kMarginHeight);
    setFixedSize(window);
    picture_->move((window.width() - pixmap.width()) / 2, (window.height() - pixmap.height()) / 2 - 20);
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    event->accept();
    accept();
}

} // namespace zantrel
