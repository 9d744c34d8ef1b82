#include "imaging/stamp_surface.h"

#include <algorithm>

namespace zantrel {

void StampSurface::print(const QString& text) {
    drawText(x_, y_, text);
    y_ += textHeight(text);
    x_ = 0;
}

QColor colourFromBgr(quint32 bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

QFont stampFont(int frameHeight) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(std::max(11, frameHeight / 30));
    return font;
}

ImageStampSurface::ImageStampSurface(QImage& image, const QFont& font)
    : width_(float(image.width())), height_(float(image.height())), painter_(&image), metrics_(font, &image) {
    painter_.setFont(font);
    painter_.setRenderHint(QPainter::TextAntialiasing);
}

float ImageStampSurface::textWidth(const QString& text) const {
    return float(metrics_.horizontalAdvance(text));
}

float ImageStampSurface::textHeight(const QString&) const {
    return float(metrics_.height());
}

void ImageStampSurface::drawText(float x, float y, const QString& text) {
    if (!painter_.isActive())
        return;
    if (!transparent())
        painter_.fillRect(QRectF(x, y, textWidth(text), textHeight(text)), colourFromBgr(backColor()));
    painter_.setPen(colourFromBgr(foreColor()));
    painter_.drawText(QPointF(x, y + metrics_.ascent()), text);
}

} // namespace zantrel
