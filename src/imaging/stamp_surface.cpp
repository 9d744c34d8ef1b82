#include "imaging/stamp_surface.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <tuple>
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

// The colour of the letters over their rim at one spot, premultiplied, from the letters' coverage and
// the rim's.
class InkColours {
  public:
    explicit InkColours(quint32 foreBgr) {
        const QColor outline = stampOutline(foreBgr);
        const QColor fore = colourFromBgr(foreBgr);
        rimAlpha_ = outline.alpha();
        fr_ = fore.red(), fg_ = fore.green(), fb_ = fore.blue();
        or_ = outline.red(), og_ = outline.green(), ob_ = outline.blue();
        inside_ = mix(255, 255);
        rimOnly_ = mix(0, 255);
    }
    QRgb at(int letters, int rim) const {
        // Inside the letters and inside the rim are the same everywhere: worked out once.
        return letters == 255 ? inside_ : (letters == 0 && rim == 255 ? rimOnly_ : mix(letters, rim));
    }

  private:
    QRgb mix(int a, int rimCover) const {
        const int b = by255(by255(rimCover * rimAlpha_) * (255 - a));
        return qRgba(by255(fr_ * a + or_ * b), by255(fg_ * a + og_ * b), by255(fb_ * a + ob_ * b), a + b);
    }
    int rimAlpha_, fr_, fg_, fb_, or_, og_, ob_;
    QRgb inside_, rimOnly_;
};

// How a picture keeps its pixels where the stamp is blended in place: 4 bytes (a QRgb) or 3 with red
// first or last; 0 for a picture the painter draws on.
struct PixelLayout {
    int bytes = 0, red = 0;
    bool operator==(const PixelLayout&) const = default;
};

PixelLayout layoutOf(QImage::Format format) {
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return {4, 0};
    case QImage::Format_RGB888:
        return {3, 0};
    case QImage::Format_BGR888:
        return {3, 2};
    default:
        return {};
    }
}

// A line's letters drawn at one spot of the pixel grid, and the inked columns of each row. For the
// painter, their coverage and their rim's; for a picture blended in place, the ink in the picture's
// own bytes over those columns: what it adds to each byte and how much of the byte under it stays
// (out of 255), so that blending is the same sum for every byte.
struct LineInk {
    std::vector<std::pair<int, int>> inked;
    QImage letters, rim;
    std::vector<std::size_t> rowStart;
    std::vector<uchar> add, keep;
    qsizetype bytes() const {
        return letters.sizeInBytes() + rim.sizeInBytes() + qsizetype(add.size() + keep.size());
    }
};

// Everything a line's ink follows from: the same key always draws the same pixels.
struct LineKey {
    QString text, font;
    double baselineX = 0, baselineY = 0; // in the line's box
    QSize size;
    int radius = 0;
    quint32 colour = 0;
    PixelLayout layout;
    bool operator==(const LineKey&) const = default;
};

// Room in the line's bytes for its inked columns, all clear: the picture stays as it is there.
void makeRoom(LineInk& line, PixelLayout layout) {
    line.rowStart.assign(line.inked.size() + 1, 0);
    for (std::size_t y = 0; y < line.inked.size(); ++y)
        line.rowStart[y + 1] =
            line.rowStart[y] +
            std::size_t(std::max(0, line.inked[y].second - line.inked[y].first + 1) * layout.bytes);
    line.add.assign(line.rowStart.back(), 0);
    line.keep.assign(line.rowStart.back(), 255);
}

// One spot's premultiplied colour in the line's bytes from `at`.
void putInk(LineInk& line, std::size_t at, QRgb over, PixelLayout layout) {
    const uchar keep = uchar(255 - qAlpha(over));
    if (layout.bytes == 4) {
        std::memcpy(&line.add[at], &over, 4);
        const quint32 keep4 = 0x01010101u * keep;
        std::memcpy(&line.keep[at], &keep4, 4);
    } else {
        line.add[at + std::size_t(layout.red)] = uchar(qRed(over));
        line.add[at + 1] = uchar(qGreen(over));
        line.add[at + std::size_t(2 - layout.red)] = uchar(qBlue(over));
        line.keep[at] = line.keep[at + 1] = line.keep[at + 2] = keep;
    }
}

void layOut(LineInk& line, const QImage& letters, const QImage& rim, const InkColours& colours,
            PixelLayout layout) {
    makeRoom(line, layout);
    for (std::size_t y = 0; y < line.inked.size(); ++y) {
        const auto [first, last] = line.inked[y];
        const uchar* l = letters.constScanLine(int(y));
        const uchar* r = rim.constScanLine(int(y));
        for (int col = first; col <= last; ++col)
            if ((l[col] | r[col]) != 0)
                putInk(line, line.rowStart[y] + std::size_t((col - first) * layout.bytes),
                       colours.at(l[col], r[col]), layout);
    }
}

// out[i] = add[i] + keep[i] * out[i] / 255 (rounded) for n bytes, sixteen at a time.
void blendBytes(uchar* out, const uchar* add, const uchar* keep, int n) {
    using Bytes = uchar __attribute__((vector_size(16)));
    using Words = unsigned short __attribute__((vector_size(32)));
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        Bytes o, a, k;
        std::memcpy(&o, out + i, 16);
        std::memcpy(&a, add + i, 16);
        std::memcpy(&k, keep + i, 16);
        Words v = __builtin_convertvector(o, Words) * __builtin_convertvector(k, Words) + 128;
        v = (v + (v >> 8)) >> 8;
        o = __builtin_convertvector(v, Bytes) + a;
        std::memcpy(out + i, &o, 16);
    }
    for (; i < n; ++i)
        out[i] = uchar(add[i] + by255(out[i] * keep[i]));
}

// Lays the ink whose box has its top-left corner at `corner` on the image's pixels inside `part`.
void blendInk(QImage& image, const LineInk& ink, QPoint corner, const QRect& part, PixelLayout layout) {
    for (int row = part.top(); row <= part.bottom(); ++row) {
        const std::size_t line = std::size_t(row - corner.y());
        const auto [first, last] = ink.inked[line];
        const int from = std::max(part.left(), corner.x() + first);
        const int to = std::min(part.right(), corner.x() + last);
        if (from > to)
            continue;
        const std::size_t at = ink.rowStart[line] + std::size_t((from - corner.x() - first) * layout.bytes);
        blendBytes(image.scanLine(row) + std::size_t(from) * std::size_t(layout.bytes), &ink.add[at],
                   &ink.keep[at], (to - from + 1) * layout.bytes);
    }
}

// A picture at one opacity in a layout's bytes, kept for the next frame while it stays the same (the
// logo is the same picture from job to job).
std::shared_ptr<const LineInk> pictureInk(const QImage& picture, int strength, PixelLayout layout) {
    static std::mutex mutex;
    static std::tuple<qint64, int, PixelLayout> lastKey;
    static std::shared_ptr<const LineInk> last;
    const auto key = std::tuple(picture.cacheKey(), strength, layout);
    {
        std::lock_guard lock(mutex);
        if (last && key == lastKey)
            return last;
    }
    const QImage over = picture.format() == QImage::Format_ARGB32_Premultiplied
                            ? picture
                            : picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    auto made = std::make_shared<LineInk>();
    made->inked.assign(std::size_t(over.height()), {0, over.width() - 1});
    makeRoom(*made, layout);
    for (int y = 0; y < over.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(over.constScanLine(y));
        for (int x = 0; x < over.width(); ++x) {
            QRgb s = in[x];
            if (qAlpha(s) == 0)
                continue;
            if (strength != 255)
                s = qRgba(by255(qRed(s) * strength), by255(qGreen(s) * strength), by255(qBlue(s) * strength),
                          by255(qAlpha(s) * strength));
            putInk(*made, made->rowStart[std::size_t(y)] + std::size_t(x * layout.bytes), s, layout);
        }
    }
    std::lock_guard lock(mutex);
    lastKey = key;
    last = made;
    return made;
}

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
    static constexpr qsizetype kBytes = 16 * 1024 * 1024;
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
    const PixelLayout layout = layoutOf(image_.format());
    const LineKey key{
        text,  font_.key(), inArea.x(), inArea.y(), area.size(), radius, layout.bytes ? foreColor() : 0,
        layout};
    std::shared_ptr<const LineInk> kept = lineInks().find(key);
    if (!kept) {
        auto made = std::make_shared<LineInk>();
        QImage letters(area.size(), QImage::Format_Alpha8);
        letters.fill(0);
        {
            QPainter mask(&letters);
            mask.setRenderHints(QPainter::TextAntialiasing | QPainter::Antialiasing);
            mask.setFont(font_);
            mask.setPen(QColor(0, 0, 0, 255));
            mask.drawText(inArea, text);
        }
        const QImage rim = grown(letters, radius);
        made->inked = inkedColumns(rim);
        if (layout.bytes) {
            layOut(*made, letters, rim, InkColours(foreColor()), layout);
        } else {
            made->letters = letters;
            made->rim = rim;
        }
        kept = made;
        lineInks().keep(key, std::move(made));
    }
    if (!layout.bytes) {
        QPainter& p = painter();
        if (!p.isActive())
            return;
        const InkColours colours(foreColor());
        QImage stamp(area.size(), QImage::Format_ARGB32_Premultiplied);
        stamp.fill(0);
        for (int row = 0; row < area.height(); ++row) {
            const uchar* l = kept->letters.constScanLine(row);
            const uchar* r = kept->rim.constScanLine(row);
            auto* out = reinterpret_cast<QRgb*>(stamp.scanLine(row));
            for (int col = 0; col < area.width(); ++col)
                if ((l[col] | r[col]) != 0)
                    out[col] = colours.at(l[col], r[col]);
        }
        p.drawImage(area.topLeft(), stamp);
        return;
    }
    // The usual camera formats are blended in place: only the pixels under the stamp are touched, and
    // on each row only those from the first to the last the rim covers.
    blendInk(image_, *kept, area.topLeft(), area.intersected(image_.rect()), layout);
}

void ImageStampSurface::drawImage(const QPoint& at, const QImage& picture, qreal opacity) {
    const PixelLayout layout = layoutOf(image_.format());
    if (!layout.bytes) {
        QPainter& p = painter();
        if (!p.isActive())
            return;
        p.setOpacity(opacity);
        p.drawImage(at, picture);
        p.setOpacity(1);
        return;
    }
    // Blended in place in the usual camera formats, like the letters.
    const int strength = std::clamp(int(std::lround(opacity * 255)), 0, 255);
    blendInk(image_, *pictureInk(picture, strength, layout), at,
             QRect(at, picture.size()).intersected(image_.rect()), layout);
}

} // namespace zantrel
