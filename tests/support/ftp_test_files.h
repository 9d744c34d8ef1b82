#pragma once

#include <QByteArray>
#include <QString>

namespace zantrel::test {

// A real JPEG picture of noise; it holds CR LF pairs and lone LF bytes, so any line-end rewriting on
// the way shows up as a changed file.
QByteArray noiseJpeg(int width = 320, int height = 240);
// count bytes of a fixed pattern.
QByteArray patternBytes(qint64 count);
// Writes data to path; false on failure.
bool writeFile(const QString& path, const QByteArray& data);
// The whole file, or a null array when it cannot be read.
QByteArray readFile(const QString& path);

} // namespace zantrel::test
