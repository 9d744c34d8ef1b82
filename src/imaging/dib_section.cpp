#include "imaging/dib_section.h"

#include "core/clock.h"
#include "core/sinks.h"
#include "imaging/raster_blit.h"
#include "imaging/rounding.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QThread>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <random>

namespace zantrel {

qint32 cDIBSection::scanLineBytes(qint32 width) {
    const qint64 bytes = (qint64(width) * 3 + 3) & ~qint64(3);
    if (bytes > std::numeric_limits<qint32>::max() || bytes < std::numeric_limits<qint32>::min())
        return 0;
    return qint32(bytes);
}

cDIBSection::cDIBSection(cDIBSection&& other) noexcept
    : bits_(std::move(other.bits_)), header_(other.header_) {}

cDIBSection& cDIBSection::operator=(cDIBSection&& other) noexcept {
    if (this != &other) {
        bits_ = std::move(other.bits_);
        header_ = other.header_;
    }
    return *this;
}

bool cDIBSection::CreateDIB(qint32 lWidth, qint32 lHeight, std::unique_ptr<quint8[]>& hDib) {
    return makeBuffer(lWidth, lHeight, hDib, true);
}

bool cDIBSection::makeBuffer(qint32 lWidth, qint32 lHeight, std::unique_ptr<quint8[]>& hDib, bool zeroed) {
    header_ = BitmapHeader{};
    header_.width = lWidth;
    header_.height = lHeight;
    hDib.reset();
    if (lWidth <= 0 || lHeight <= 0)
        return false;
    const qint64 stride = scanLineBytes(lWidth);
    const qint64 total = stride * qint64(lHeight);
    if (stride <= 0 || total > std::numeric_limits<quint32>::max())
        return false;
    header_.sizeImage = quint32(total);
    hDib.reset(zeroed ? new (std::nothrow) quint8[std::size_t(total)]()
                      : new (std::nothrow) quint8[std::size_t(total)]);
    return hDib != nullptr;
}

bool cDIBSection::Create(qint32 lWidth, qint32 lHeight) {
    ClearUp();
    std::unique_ptr<quint8[]> buffer;
    if (!CreateDIB(lWidth, lHeight, buffer))
        return false;
    bits_ = std::move(buffer);
    return true;
}

void cDIBSection::CreateFromPicture(const QImage& picThis) {
    // The copy covers every pixel, so only the filler bytes need clearing.
    ClearUp();
    std::unique_ptr<quint8[]> buffer;
    if (!makeBuffer(picThis.width(), picThis.height(), buffer, false))
        return;
    bits_ = std::move(buffer);
    const std::size_t used = std::size_t(Width()) * 3;
    const std::size_t filler = std::size_t(BytesPerScanLine()) - used;
    if (filler > 0)
        for (qint32 r = 0; r < Height(); ++r)
            std::memset(row(r) + used, 0, filler);
    if (!LoadPictureBlt(picThis, 0, 0, -1, -1, RasterOp::SrcCopy))
        ClearUp();
}

void cDIBSection::ClearUp() {
    bits_.reset();
}

bool cDIBSection::LoadPictureBlt(const QImage& source, qint32 lSrcLeft, qint32 lSrcTop, qint32 lSrcWidth,
                                 qint32 lSrcHeight, RasterOp eRop) {
    if (!hDib() || !blit::isKnown(eRop))
        return false;
    QImage converted;
    auto from = blit::viewOf(source);
    if (!from) {
        converted = source.convertToFormat(QImage::Format_BGR888);
        from = blit::viewOf(converted);
        if (!from)
            return false;
    }
    auto to = blit::viewOf(*this);
    blit::copy(*from, lSrcLeft, lSrcTop, to, 0, 0, lSrcWidth < 0 ? Width() : lSrcWidth,
               lSrcHeight < 0 ? Height() : lSrcHeight, eRop);
    return true;
}

bool cDIBSection::LoadPictureBlt(const cDIBSection& source, qint32 lSrcLeft, qint32 lSrcTop, qint32 lSrcWidth,
                                 qint32 lSrcHeight, RasterOp eRop) {
    if (!hDib() || !source.hDib() || !blit::isKnown(eRop))
        return false;
    auto to = blit::viewOf(*this);
    blit::copy(blit::viewOf(source), lSrcLeft, lSrcTop, to, 0, 0, lSrcWidth < 0 ? Width() : lSrcWidth,
               lSrcHeight < 0 ? Height() : lSrcHeight, eRop);
    return true;
}

bool cDIBSection::PaintPicture(QImage& target, qint32 lDestLeft, qint32 lDestTop, qint32 lDestWidth,
                               qint32 lDestHeight, qint32 lSrcLeft, qint32 lSrcTop, RasterOp eRop) const {
    if (!hDib() || !blit::isKnown(eRop) || !blit::viewOf(std::as_const(target)))
        return false;
    auto to = blit::viewOf(target); // detaches the target before writing
    blit::copy(blit::viewOf(*this), lSrcLeft, lSrcTop, *to, lDestLeft, lDestTop,
               lDestWidth < 0 ? Width() : lDestWidth, lDestHeight < 0 ? Height() : lDestHeight, eRop);
    return true;
}

bool cDIBSection::CopyToClipboard(MessageSink& messages, bool bAsDIB) const {
    // The clipboard belongs to the application's main thread.
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr || QThread::currentThread() != app->thread())
        return false;
    if (bAsDIB) {
        messages.showMessage(
            QStringLiteral("I don't know how to put a DIB on the clipboard! Copy as bitmap instead!!!"));
        return false;
    }
    const QImage picture = ToImage();
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (picture.isNull() || clipboard == nullptr)
        return false;
    clipboard->clear();
    clipboard->setImage(picture);
    return clipboard->image().size() == picture.size();
}

quint8& cDIBSection::at(qint64 column, qint64 r) {
    if (!hDib() || column < 0 || column >= BytesPerScanLine() || r < 0 || r >= Height())
        throw ImageError("pixel access outside the image");
    return row(qint32(r))[column];
}

quint8 cDIBSection::at(qint64 column, qint64 r) const {
    return const_cast<cDIBSection*>(this)->at(column, r);
}

void cDIBSection::RandomiseBits(bool bGray) {
    if (!hDib())
        return;
    const QTime now = clock().now().time();
    std::mt19937 generator(std::uint32_t(now.msecsSinceStartOfDay() / 1000));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto draw = [&] { return quint8(roundHalfEven(unit(generator) * 255.0)); };
    const qint64 lastByte = (qint64(Width()) - 1) * 3;
    if (!bGray) {
        for (qint64 x = 0; x <= lastByte; x += 3) {
            for (qint64 y = 0; y < Height(); ++y) {
                at(x, y) = 0;
                at(x + 1, y) = draw();
                at(x + 2, y) = draw();
            }
        }
        return;
    }
    for (qint64 y = 0; y < Height(); ++y) {
        for (qint64 x = 0; x <= lastByte; x += 3) {
            const quint8 v = draw();
            at(x, y) = v;
            at(x + 1, y) = v;
            at(x + 2, y) = v;
        }
    }
}

std::optional<cDIBSection> cDIBSection::Resample(qint32 lNewHeight, qint32 lNewWidth) const {
    cDIBSection target;
    if (!target.Create(lNewWidth, lNewHeight))
        return std::nullopt;
    if (lNewWidth == Width() && lNewHeight == Height())
        target.LoadPictureBlt(*this, 0, 0, -1, -1, RasterOp::SrcCopy);
    else
        ResampleInto(target);
    return target;
}

void cDIBSection::ResampleInto(cDIBSection& target) const {
    const qint64 targetWidth = target.Width();
    const qint64 targetHeight = target.Height();
    const float xScale = float(double(qint64(Width()) - 1) / double(targetWidth));
    const float yScale = float(double(qint64(Height()) - 1) / double(targetHeight));
    const auto checked = [](double v) {
        if (!std::isfinite(v))
            throw ImageError("invalid arithmetic while resampling");
        return v;
    };
    const auto toByteIndex = [](double v) {
        if (v < double(std::numeric_limits<qint32>::min()) || v > double(std::numeric_limits<qint32>::max()))
            throw ImageError("index overflow while resampling");
        return qint64(v);
    };

    for (qint64 y = 0; y < targetHeight; ++y) {
        const float sy = float(checked(double(yScale) * double(y)));
        const qint64 iy = toByteIndex(std::floor(sy));
        const double fy = double(float(double(sy) - double(iy)));
        for (qint64 x = 0; x < targetWidth; ++x) {
            const float sx = float(checked(double(xScale) * double(x)));
            const qint64 ix = toByteIndex(std::floor(sx));
            const double fx = double(float(double(sx) - double(ix)));
            const qint64 b = toByteIndex(double(ix) * 3.0);

            quint8 lower[6];
            quint8 upper[6];
            for (int k = 0; k < 6; ++k)
                lower[k] = at(b + k, iy);
            for (int k = 0; k < 6; ++k)
                upper[k] = at(b + k, iy + 1);

            for (int c = 0; c < 3; ++c) {
                const double left = roundHalfEven(checked((1.0 - fy) * lower[c] + fy * upper[c]));
                const double right = roundHalfEven(checked((1.0 - fy) * lower[c + 3] + fy * upper[c + 3]));
                const double v = roundHalfEven(checked((1.0 - fx) * left + fx * right));
                target.at(x * 3 + c, y) = quint8(std::clamp(v, 0.0, 255.0));
            }
        }
    }
}

QImage cDIBSection::ToImage() const {
    if (!hDib())
        return {};
    QImage picture(Width(), Height(), QImage::Format_BGR888);
    if (picture.isNull())
        return {};
    for (qint32 y = 0; y < Height(); ++y)
        std::memcpy(picture.scanLine(y), row(Height() - 1 - y), std::size_t(Width()) * 3);
    return picture;
}

} // namespace zantrel
