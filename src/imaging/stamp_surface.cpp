#include "imaging/stamp_surface.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
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
    : width_(float(image.width())), height_(float(image.height())), image_(image), font_(font),
      metrics_(font, &image), widest_(float(metrics_.maxWidth())),
      outlineWidth_(std::max(1.0, metrics_.height() / 14)) {}

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

// On each row, the first and the last column with any coverage (first > last for none).
std::vector<std::pair<int, int>> inkedColumns(const QImage& mask) {
    std::vector<std::pair<int, int>> rows(std::size_t(mask.height()), {0, -1});
    for (int y = 0; y < mask.height(); ++y) {
        const uchar* line = mask.constScanLine(y);
        const uchar* end = line + mask.width();
        const uchar* first = std::find_if(line, end, [](uchar c) { return c != 0; });
        if (first == end)
            continue;
        const uchar* last = std::find_if(std::make_reverse_iterator(end), std::make_reverse_iterator(first),
                                         [](uchar c) { return c != 0; })
                                .base() -
                            1;
        rows[std::size_t(y)] = {int(first - line), int(last - line)};
    }
    return rows;
}

// A line's letters drawn at one spot of the pixel grid: their coverage, their rim's, and the inked
// columns of each row.
struct LineInk {
    QImage letters, rim;
    std::vector<std::pair<int, int>> inked;
    qsizetype bytes() const { return letters.sizeInBytes() + rim.sizeInBytes(); }
};

// Everything a line's ink follows from: the same key always draws the same pixels.
struct LineKey {
    QString text, font;
    double baselineX = 0, baselineY = 0; // in the line's box
    QSize size;
    int radius = 0;
    bool operator==(const LineKey&) const = default;
};

// The ink of the lines printed last, for every surface: most of a stamp's lines are the same from one
// picture to the next (the date, a place's name, values that did not change). Bounded in lines and bytes.
class LineInkCache {
  public:
    std::shared_ptr<const LineInk> find(const LineKey& key) {
        std::lock_guard lock(mutex_);
        const auto it =
            std::find_if(lines_.begin(), lines_.end(), [&](const auto& e) { return e.first == key; });
        if (it == lines_.end())
            return nullptr;
        std::rotate(lines_.begin(), it, it + 1); // the most recent first
        return lines_.front().second;
    }
    void keep(const LineKey& key, std::shared_ptr<const LineInk> ink) {
        if (ink->bytes() > kBytes / 4)
            return;
        std::lock_guard lock(mutex_);
        if (std::any_of(lines_.begin(), lines_.end(), [&](const auto& e) { return e.first == key; }))
            return; // another thread drew the same line meanwhile
        lines_.insert(lines_.begin(), {key, std::move(ink)});
        qsizetype total = 0;
        const auto over = std::find_if(lines_.begin(), lines_.end(), [&](const auto& e) {
            total += e.second->bytes();
            return total > kBytes;
        });
        lines_.erase(over, lines_.end());
        if (lines_.size() > kLines)
            lines_.resize(kLines);
    }

  private:
    static constexpr std::size_t kLines = 16;
    static constexpr qsizetype kBytes = 8 * 1024 * 1024;
    std::mutex mutex_;
    std::vector<std::pair<LineKey, std::shared_ptr<const LineInk>>> lines_;
};

LineInkCache& lineInks() {
    static LineInkCache cache;
    return cache;
}

} // namespace

QPainter& ImageStampSurface::painter() {
    if (!painter_.isActive() && painter_.begin(&image_)) {
        painter_.setFont(font_);
        painter_.setRenderHints(QPainter::TextAntialiasing | QPainter::Antialiasing);
    }
    return painter_;
}

void ImageStampSurface::drawText(float x, float y, const QString& text) {
    const QPointF baseline(x, y + metrics_.ascent());
    if (!transparent()) {
        QPainter& p = painter();
        if (!p.isActive())
            return;
        p.fillRect(QRectF(x, y, textWidth(text), textHeight(text)), colourFromBgr(backColor()));
        p.setPen(colourFromBgr(foreColor()));
        p.drawText(baseline, text);
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
    const QPointF inArea = baseline - QPointF(area.topLeft());
    const LineKey key{text, font_.key(), inArea.x(), inArea.y(), area.size(), radius};
    std::shared_ptr<const LineInk> kept = lineInks().find(key);
    if (!kept) {
        auto made = std::make_shared<LineInk>();
        made->letters = QImage(area.size(), QImage::Format_Alpha8);
        made->letters.fill(0);
        {
            QPainter mask(&made->letters);
            mask.setRenderHints(QPainter::TextAntialiasing | QPainter::Antialiasing);
            mask.setFont(font_);
            mask.setPen(QColor(0, 0, 0, 255));
            mask.drawText(inArea, text);
        }
        made->rim = grown(made->letters, radius);
        made->inked = inkedColumns(made->rim);
        kept = made;
        lineInks().keep(key, std::move(made));
    }
    const QImage& letters = kept->letters;
    const QImage& rim = kept->rim;
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
        QPainter& p = painter();
        if (!p.isActive())
            return;
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
        p.drawImage(area.topLeft(), stamp);
        return;
    }
    // The usual camera formats are blended in place: only the pixels under the stamp are touched, and
    // on each row only those from the first to the last the rim covers.
    const int red = format == QImage::Format_BGR888 ? 2 : 0, blue = 2 - red;
    for (int row = part.top(); row <= part.bottom(); ++row) {
        const auto [first, last] = kept->inked[std::size_t(row - area.top())];
        const int from = std::max(part.left(), area.left() + first);
        const int to = std::min(part.right(), area.left() + last);
        if (from > to)
            continue;
        const uchar* l = letters.constScanLine(row - area.top()) + (from - area.left());
        const uchar* r = rim.constScanLine(row - area.top()) + (from - area.left());
        uchar* line = image_.scanLine(row);
        const int count = to - from + 1;
        for (int col = 0; col < count; ++col) {
            if (col + 8 <= count) { // eight clear spots at once: the gaps between letters are clear
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
            const int at = from + col;
            if (l[col] == 255) { // inside the letters: their colour as it is
                if (rgb32) {
                    reinterpret_cast<QRgb*>(line)[at] = inside;
                } else {
                    uchar* p = line + 3 * at;
                    p[red] = uchar(fr);
                    p[1] = uchar(fg);
                    p[blue] = uchar(fb);
                }
                continue;
            }
            // Inside the rim is the same everywhere: worked out once.
            const QRgb over = l[col] == 0 && r[col] == 255 ? rimOnly : ink(l[col], r[col]);
            const int keep = 255 - qAlpha(over);
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
    const QImage::Format format = image_.format();
    const bool rgb32 = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32_Premultiplied;
    const bool rgb24 = format == QImage::Format_BGR888 || format == QImage::Format_RGB888;
    if (!rgb32 && !rgb24) {
        QPainter& p = painter();
        if (!p.isActive())
            return;
        p.setOpacity(opacity);
        p.drawImage(at, picture);
        p.setOpacity(1);
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
