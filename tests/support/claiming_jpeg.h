#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>

namespace zantrel::test {

// A small real JPEG whose frame header (SOF0: height, then width) is patched to claim width×height: a
// few hundred bytes that ask a decoder for gigabytes.
inline QByteArray ClaimingJpeg(int width, int height) {
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 80);
    QByteArray jpeg = buffer.data();
    const qsizetype sof = jpeg.indexOf("\xff\xc0");
    if (sof < 0)
        return {};
    const auto put = [&jpeg](qsizetype at, int value) {
        jpeg[at] = char(value >> 8);
        jpeg[at + 1] = char(value & 0xff);
    };
    put(sof + 5, height);
    put(sof + 7, width);
    return jpeg;
}

// A field of /proc/self/status in MB (VmRSS, VmHWM: the peak so far); -1 when not there.
inline qint64 MemoryMb(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith(field + ':'))
                return line.mid(field.size() + 1).trimmed().split(' ').first().toLongLong() / 1024;
    return -1;
}

} // namespace zantrel::test
