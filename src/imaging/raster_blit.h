#pragma once

#include "imaging/dib_section.h"

#include <QImage>
#include <optional>

// Byte-wise blits between 24-bit images and the QImage formats that hold plain 8-bit channels.
namespace zantrel::blit {

enum class Layout { Bgr24, Rgb24, Xrgb32 };

// Rows of a raster, top row first; a bottom-up image has a negative stride.
struct View {
    quint8* base = nullptr;
    qptrdiff stride = 0;
    qint32 width = 0;
    qint32 height = 0;
    Layout layout = Layout::Bgr24;
    quint8* line(qint32 y) const { return base + qptrdiff(y) * stride; }
};

bool isKnown(RasterOp op);

// Nothing for formats without a direct layout (convert those to Format_BGR888 first).
std::optional<View> viewOf(const QImage& image);
// Detaches the image: the view may be written.
std::optional<View> viewOf(QImage& image);
View viewOf(const cDIBSection& image);

// Combines the width × height block of `from` at (fromX, fromY) into `to` at (toX, toY), clipped to
// both rasters. Pixels outside either raster are left alone.
void copy(const View& from, qint64 fromX, qint64 fromY, const View& to, qint64 toX, qint64 toY, qint64 width,
          qint64 height, RasterOp op);

} // namespace zantrel::blit
