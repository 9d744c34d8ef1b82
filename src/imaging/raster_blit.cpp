#include "imaging/raster_blit.h"

#include <algorithm>
#include <cstring>

namespace zantrel::blit {

namespace {

quint8 combine(RasterOp op, quint8 s, quint8 d) {
    switch (op) {
    case RasterOp::SrcCopy:
        return s;
    case RasterOp::SrcPaint:
        return s | d;
    case RasterOp::SrcAnd:
        return s & d;
    case RasterOp::SrcInvert:
        return s ^ d;
    case RasterOp::SrcErase:
        return s & quint8(~d);
    case RasterOp::NotSrcCopy:
        return quint8(~s);
    case RasterOp::NotSrcErase:
        return quint8(~(s | d));
    case RasterOp::DstInvert:
        return quint8(~d);
    case RasterOp::Blackness:
        return 0;
    case RasterOp::Whiteness:
        return 0xFF;
    }
    return d;
}

struct Bgr {
    quint8 b, g, r;
};

Bgr read(Layout layout, const quint8* line, qint64 x) {
    switch (layout) {
    case Layout::Bgr24:
        return {line[x * 3], line[x * 3 + 1], line[x * 3 + 2]};
    case Layout::Rgb24:
        return {line[x * 3 + 2], line[x * 3 + 1], line[x * 3]};
    case Layout::Xrgb32: {
        quint32 v;
        std::memcpy(&v, line + x * 4, 4);
        return {quint8(v), quint8(v >> 8), quint8(v >> 16)};
    }
    }
    return {0, 0, 0};
}

void write(Layout layout, quint8* line, qint64 x, Bgr p) {
    switch (layout) {
    case Layout::Bgr24:
        line[x * 3] = p.b, line[x * 3 + 1] = p.g, line[x * 3 + 2] = p.r;
        return;
    case Layout::Rgb24:
        line[x * 3] = p.r, line[x * 3 + 1] = p.g, line[x * 3 + 2] = p.b;
        return;
    case Layout::Xrgb32: {
        const quint32 v = 0xFF000000u | quint32(p.r) << 16 | quint32(p.g) << 8 | p.b;
        std::memcpy(line + x * 4, &v, 4);
        return;
    }
    }
}

std::optional<Layout> layoutOf(QImage::Format format) {
    switch (format) {
    case QImage::Format_BGR888:
        return Layout::Bgr24;
    case QImage::Format_RGB888:
        return Layout::Rgb24;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return Layout::Xrgb32;
    default:
        return std::nullopt;
    }
}

} // namespace

bool isKnown(RasterOp op) {
    switch (op) {
    case RasterOp::SrcCopy:
    case RasterOp::SrcPaint:
    case RasterOp::SrcAnd:
    case RasterOp::SrcInvert:
    case RasterOp::SrcErase:
    case RasterOp::NotSrcCopy:
    case RasterOp::NotSrcErase:
    case RasterOp::DstInvert:
    case RasterOp::Blackness:
    case RasterOp::Whiteness:
        return true;
    }
    return false;
}

std::optional<View> viewOf(const QImage& image) {
    const auto layout = layoutOf(image.format());
    if (image.isNull() || !layout)
        return std::nullopt;
    return View{const_cast<quint8*>(image.constBits()), image.bytesPerLine(), image.width(), image.height(),
                *layout};
}

std::optional<View> viewOf(QImage& image) {
    const auto layout = layoutOf(image.format());
    if (image.isNull() || !layout)
        return std::nullopt;
    return View{image.bits(), image.bytesPerLine(), image.width(), image.height(), *layout};
}

View viewOf(const cDIBSection& image) {
    if (!image.hDib())
        return {};
    const qptrdiff stride = image.BytesPerScanLine();
    auto* bits = const_cast<quint8*>(image.DIBSectionBitsPtr());
    return View{bits + stride * (image.Height() - 1), -stride, image.Width(), image.Height(), Layout::Bgr24};
}

void copy(const View& from, qint64 fromX, qint64 fromY, const View& to, qint64 toX, qint64 toY, qint64 width,
          qint64 height, RasterOp op) {
    const qint64 firstCol = std::max({qint64(0), -fromX, -toX});
    const qint64 endCol = std::min({width, qint64(from.width) - fromX, qint64(to.width) - toX});
    const qint64 firstRow = std::max({qint64(0), -fromY, -toY});
    const qint64 endRow = std::min({height, qint64(from.height) - fromY, qint64(to.height) - toY});
    if (firstCol >= endCol || firstRow >= endRow)
        return;

    for (qint64 i = firstRow; i < endRow; ++i) {
        const quint8* source = from.line(qint32(fromY + i));
        quint8* target = to.line(qint32(toY + i));
        if (op == RasterOp::SrcCopy && from.layout == Layout::Bgr24 && to.layout == Layout::Bgr24) {
            std::memcpy(target + (toX + firstCol) * 3, source + (fromX + firstCol) * 3,
                        std::size_t(endCol - firstCol) * 3);
            continue;
        }
        // 32-bit pixels lie in memory as blue, green, red, alpha on little-endian machines.
        if (Q_BYTE_ORDER == Q_LITTLE_ENDIAN && op == RasterOp::SrcCopy && from.layout == Layout::Xrgb32 &&
            to.layout == Layout::Bgr24) {
            const quint8* in = source + (fromX + firstCol) * 4;
            quint8* out = target + (toX + firstCol) * 3;
            for (qint64 j = firstCol; j < endCol; ++j, in += 4, out += 3) {
                out[0] = in[0];
                out[1] = in[1];
                out[2] = in[2];
            }
            continue;
        }
        if (op == RasterOp::SrcCopy) {
            for (qint64 j = firstCol; j < endCol; ++j)
                write(to.layout, target, toX + j, read(from.layout, source, fromX + j));
            continue;
        }
        for (qint64 j = firstCol; j < endCol; ++j) {
            const Bgr s = read(from.layout, source, fromX + j);
            const Bgr d = read(to.layout, target, toX + j);
            write(to.layout, target, toX + j,
                  {combine(op, s.b, d.b), combine(op, s.g, d.g), combine(op, s.r, d.r)});
        }
    }
}

} // namespace zantrel::blit
