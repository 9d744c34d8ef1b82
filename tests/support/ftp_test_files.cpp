#include "support/ftp_test_files.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>

namespace zantrel::test {

QByteArray noiseJpeg(int width, int height) {
    QRandomGenerator random(4242);
    for (int attempt = 0; attempt < 16; ++attempt) {
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixel(x, y, random.generate() | 0xff000000u);
        QByteArray out;
        QBuffer buffer(&out);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG", 90);
        if (out.contains("\r\n") && out.count('\n') > out.count("\r\n"))
            return out;
    }
    return {};
}

QByteArray patternBytes(qint64 count) {
    QByteArray out(count, Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i)
        out[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return out;
}

bool writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace zantrel::test
