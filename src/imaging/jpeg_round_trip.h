#pragma once

#include <QImage>

namespace zantrel {

// What the picture looks like after the JPEG writer has encoded it at this quality (0 … 100) and a
// viewer has decoded it again: the same encoder settings as the published file, all in memory, so no
// file is written anywhere. Format_RGB32; a null image when the picture cannot be encoded.
QImage JpegRoundTrip(const QImage& picture, int quality);

} // namespace zantrel
