#pragma once

#include <QHash>
#include <QString>

namespace zantrel {

// The text entries (tEXt, zTXt, iTXt) that a PNG file holds before its image data, read from the
// file's head without decoding the picture. Empty when the file is missing or not a PNG. Qt's own
// readers cannot do this for keys that contain a colon such as "Thumb::MTime".
QHash<QString, QString> ReadPngText(const QString& file);

} // namespace zantrel
