#include "imaging/stamp_surface.h"

#include <QPainterPath>
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

QColor stampOutline(quint32 foreBgr) {
    // Only near-black letters get a light rim; every other colour reads best against a dark one.
    return qGray(colourFromBgr(foreBgr).rgb()) < 64 ? QColor(255, 255, 255, 200) : QColor(0, 0, 0, 200);
}

ImageStampSurface::ImageStampSurface(QImage& image, const QFont& font)
    : width_(float(image.width())), height_(float(image.height())), painter_(&image), font_(font),
      metrics_(font, &image), outlineWidth_(std::max(1.0, metrics_.height() / 14)) {
    painter_.setFont(font);
    painter_.setRenderHints(QPainter::TextAntialiasing | QPainter::Antialiasing);
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
    const QPointF baseline(x, y + metrics_.ascent());
    if (!transparent()) {
        painter_.fillRect(QRectF(x, y, textWidth(text), textHeight(text)), colourFromBgr(backColor()));
    } else {
        // Letters alone would vanish on a scene of their own colour: a thin rim keeps them readable.
        QPainterPath letters;
        letters.addText(baseline, font_, text);
        painter_.strokePath(letters, QPen(stampOutline(foreColor()), 2 * outlineWidth_, Qt::SolidLine,
                                          Qt::RoundCap, Qt::RoundJoin));
    }
    painter_.setPen(colourFromBgr(foreColor()));
    painter_.drawText(baseline, text);
}

} // namespace zantrel
