#include "imaging/stamp_surface.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace zantrel {

void StampSurface::print(const QString& text) {
    drawText(x_, y_, text);
    y_ += textHeight(text);
    x_ = 0;
}

QColor colourFromBgr(quint32 bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

QFont stampFont(int frameHeight, const QString& family, int percent) {
    QFont font(family.trimmed().isEmpty() ? QStringLiteral("DejaVu Sans") : family.trimmed());
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    const int size = std::max(11, frameHeight / 30);
    font.setPixelSize(std::max(6, size * std::clamp(percent, 10, 400) / 100));
    return font;
}

QColor stampOutline(quint32 foreBgr) {
    // Only near-black letters get a light rim; every other colour reads best against a dark one.
    return qGray(colourFromBgr(foreBgr).rgb()) < 64 ? QColor(255, 255, 255, 200) : QColor(0, 0, 0, 200);
}

ImageStampSurface::ImageStampSurface(QImage& image, const QFont& font)
    : width_(float(image.width())), height_(float(image.height())), image_(image), painter_(&image),
      font_(font), metrics_(font, &image), widest_(float(metrics_.maxWidth())),
      outlineWidth_(std::max(1.0, metrics_.height() / 14)) {
    painter_.setFont(font);
    painter_.setRenderHints(QPainter::TextAntialiasing | QPainter::Antialiasing);
}

float ImageStampSurface::textWidth(const QString& text) const {
    // The same text is measured where it is placed and again where it is drawn: laid out once.
    if (text == lastMeasured_)
        return lastWidth_;
    lastMeasured_ = text;
    lastWidth_ = float(metrics_.horizontalAdvance(text));
    return lastWidth_;
}

float ImageStampSurface::textHeight(const QString&) const {
    return float(metrics_.height());
}

namespace {

// out[i] = max(out[i], in[i]) for n bytes, sixteen at a time.
void keepLarger(uchar* out, const uchar* in, int n) {
    using Bytes = uchar __attribute__((vector_size(16)));
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        Bytes a, b;
        std::memcpy(&a, out + i, 16);
        std::memcpy(&b, in + i, 16);
        a = a > b ? a : b;
        std::memcpy(out + i, &a, 16);
    }
    for (; i < n; ++i)
        out[i] = std::max(out[i], in[i]);
}

// Each byte becomes the largest within `radius` of it along the rows, then along the columns: the
// letters' coverage grown by the rim's width.
QImage grown(const QImage& mask, int radius) {
    const int w = mask.width(), h = mask.height();
    // Rows without ink (the margins above and below the letters) stay clear across.
    std::vector<char> inked(std::size_t(h), 0);
    QImage across(w, h, QImage::Format_Alpha8);
    for (int y = 0; y < h; ++y) {
        const uchar* in = mask.constScanLine(y);
        uchar* out = across.scanLine(y);
        std::memcpy(out, in, std::size_t(w));
        inked[std::size_t(y)] = std::any_of(in, in + w, [](uchar c) { return c != 0; });
        if (!inked[std::size_t(y)])
            continue;
        for (int d = 1; d <= radius && d < w; ++d) {
            keepLarger(out, in + d, w - d);
            keepLarger(out + d, in, w - d);
        }
    }
    QImage result(w, h, QImage::Format_Alpha8);
    for (int y = 0; y < h; ++y) {
        uchar* out = result.scanLine(y);
        std::memcpy(out, across.constScanLine(y), std::size_t(w));
        for (int d = 1; d <= radius; ++d) {
            if (y - d >= 0 && inked[std::size_t(y - d)])
                keepLarger(out, across.constScanLine(y - d), w);
            if (y + d < h && inked[std::size_t(y + d)])
                keepLarger(out, across.constScanLine(y + d), w);
        }
    }
    return result;
}

// v / 255, rounded, for v up to 255 * 255.
constexpr int by255(int v) {
    return (v + 128 + ((v + 128) >> 8)) >> 8;
}

} // namespace

void ImageStampSurface::drawText(float x, float y, const QString& text) {
    if (!painter_.isActive())
        return;
    const QPointF baseline(x, y + metrics_.ascent());
    if (!transparent()) {
        painter_.fillRect(QRectF(x, y, textWidth(text), textHeight(text)), colourFromBgr(backColor()));
        painter_.setPen(colourFromBgr(foreColor()));
        painter_.drawText(baseline, text);
        return;
    }
    // Letters alone would vanish on a scene of their own colour: a thin rim keeps them readable. The
    // letters' coverage is drawn once into a mask and grown into the rim's, and both are laid on the
    // picture as one small image; stroking the letters' outlines costs many times more.
    const int radius = std::max(1, int(std::lround(outlineWidth_)));
    const int margin = radius + int(std::ceil(metrics_.height() / 8));
    const QRect area = QRectF(x, y, textWidth(text), textHeight(text))
                           .adjusted(-margin, -margin, margin, margin)
                           .toAlignedRect();
    QImage letters(area.size(), QImage::Format_Alpha8);
    letters.fill(0);
    {
        QPainter mask(&letters);
        mask.setRenderHints(QPainter::TextAntialiasing | QPainter::Antialiasing);
        mask.setFont(font_);
        mask.setPen(QColor(0, 0, 0, 255));
        mask.drawText(baseline - QPointF(area.topLeft()), text);
    }
    const QImage rim = grown(letters, radius);
    const QColor outline = stampOutline(foreColor());
    const QColor fore = colourFromBgr(foreColor());
    const int rimAlpha = outline.alpha();
    const int fr = fore.red(), fg = fore.green(), fb = fore.blue();
    const int orr = outline.red(), og = outline.green(), ob = outline.blue();
    // The letters over their rim at one spot, premultiplied.
    const auto ink = [&](int a, int rimCover) {
        const int b = by255(by255(rimCover * rimAlpha) * (255 - a));
        return qRgba(by255(fr * a + orr * b), by255(fg * a + og * b), by255(fb * a + ob * b), a + b);
    };
    const QRgb inside = ink(255, 255), rimOnly = ink(0, 255);
    const QRect part = area.intersected(image_.rect());
    const QImage::Format format = image_.format();
    const bool rgb32 = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
    const bool rgb24 = format == QImage::Format_BGR888 || format == QImage::Format_RGB888;
    if (!rgb32 && !rgb24) {
        QImage stamp(area.size(), QImage::Format_ARGB32_Premultiplied);
        stamp.fill(0);
        for (int row = 0; row < area.height(); ++row) {
            const uchar* l = letters.constScanLine(row);
            const uchar* r = rim.constScanLine(row);
            auto* out = reinterpret_cast<QRgb*>(stamp.scanLine(row));
            for (int col = 0; col < area.width(); ++col)
                if ((l[col] | r[col]) != 0)
                    out[col] = ink(l[col], r[col]);
        }
        painter_.drawImage(area.topLeft(), stamp);
        return;
    }
    // The usual camera formats are blended in place: only the pixels under the stamp are touched.
    const int red = format == QImage::Format_BGR888 ? 2 : 0, blue = 2 - red;
    for (int row = part.top(); row <= part.bottom(); ++row) {
        const int from = part.left() - area.left();
        const uchar* l = letters.constScanLine(row - area.top()) + from;
        const uchar* r = rim.constScanLine(row - area.top()) + from;
        uchar* line = image_.scanLine(row);
        for (int col = 0; col < part.width(); ++col) {
            if (col + 8 <= part.width()) { // eight clear spots at once: most of the box is clear
                quint64 letters8 = 0, rim8 = 0;
                std::memcpy(&letters8, l + col, 8);
                std::memcpy(&rim8, r + col, 8);
                if ((letters8 | rim8) == 0) {
                    col += 7;
                    continue;
                }
            }
            if ((l[col] | r[col]) == 0)
                continue;
            // Inside the letters and inside the rim are the same everywhere: worked out once.
            const QRgb over =
                l[col] == 255 ? inside : (l[col] == 0 && r[col] == 255 ? rimOnly : ink(l[col], r[col]));
            const int keep = 255 - qAlpha(over);
            const int at = part.left() + col;
            if (rgb32) {
                QRgb& under = reinterpret_cast<QRgb*>(line)[at];
                under = qRgba(
                    qRed(over) + by255(qRed(under) * keep), qGreen(over) + by255(qGreen(under) * keep),
                    qBlue(over) + by255(qBlue(under) * keep), qAlpha(over) + by255(qAlpha(under) * keep));
            } else {
                uchar* p = line + 3 * at;
                p[red] = uchar(qRed(over) + by255(p[red] * keep));
                p[1] = uchar(qGreen(over) + by255(p[1] * keep));
                p[blue] = uchar(qBlue(over) + by255(p[blue] * keep));
            }
        }
    }
}

void ImageStampSurface::drawImage(const QPoint& at, const QImage& picture, qreal opacity) {
    if (!painter_.isActive())
        return;
    const QImage::Format format = image_.format();
    const bool rgb32 = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
    const bool rgb24 = format == QImage::Format_BGR888 || format == QImage::Format_RGB888;
    if (!rgb32 && !rgb24) {
        painter_.setOpacity(opacity);
        painter_.drawImage(at, picture);
        painter_.setOpacity(1);
        return;
    }
    // Blended in place in the usual camera formats, like the letters.
    const QImage over = picture.format() == QImage::Format_ARGB32_Premultiplied
                            ? picture
                            : picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int strength = std::clamp(int(std::lround(opacity * 255)), 0, 255);
    const QRect part = QRect(at, over.size()).intersected(image_.rect());
    const int red = format == QImage::Format_BGR888 ? 2 : 0, blue = 2 - red;
    for (int row = part.top(); row <= part.bottom(); ++row) {
        const auto* in =
            reinterpret_cast<const QRgb*>(over.constScanLine(row - at.y())) + (part.left() - at.x());
        uchar* line = image_.scanLine(row);
        for (int col = 0; col < part.width(); ++col) {
            QRgb s = in[col];
            if (qAlpha(s) == 0)
                continue;
            if (strength != 255)
                s = qRgba(by255(qRed(s) * strength), by255(qGreen(s) * strength), by255(qBlue(s) * strength),
                          by255(qAlpha(s) * strength));
            const int keep = 255 - qAlpha(s);
            const int x = part.left() + col;
            if (rgb32) {
                QRgb& under = reinterpret_cast<QRgb*>(line)[x];
                under = qRgba(qRed(s) + by255(qRed(under) * keep), qGreen(s) + by255(qGreen(under) * keep),
                              qBlue(s) + by255(qBlue(under) * keep), qAlpha(s) + by255(qAlpha(under) * keep));
            } else {
                uchar* p = line + 3 * x;
                p[red] = uchar(qRed(s) + by255(p[red] * keep));
                p[1] = uchar(qGreen(s) + by255(p[1] * keep));
                p[blue] = uchar(qBlue(s) + by255(p[blue] * keep));
            }
        }
    }
}

} // namespace zantrel
