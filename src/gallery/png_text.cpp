#include "gallery/png_text.h"

#include <QByteArray>
#include <QFile>
#include <QtEndian>

namespace zantrel {

namespace {

constexpr qint64 kMaxChunk = 64 * 1024;

// zlib data as stored in zTXt and iTXt; qUncompress wants the expected size in front.
QByteArray inflate(const QByteArray& data) {
    QByteArray framed(4, '\0');
    qToBigEndian<quint32>(kMaxChunk, framed.data());
    return qUncompress(framed + data);
}

void addChunk(const QByteArray& type, const QByteArray& data, QHash<QString, QString>& out) {
    const int nul = data.indexOf('\0');
    if (nul <= 0)
        return;
    const QString key = QString::fromLatin1(data.left(nul));
    if (type == "tEXt") {
        out.insert(key, QString::fromLatin1(data.mid(nul + 1)));
    } else if (type == "zTXt") {
        if (data.size() > nul + 2 && data[nul + 1] == 0)
            out.insert(key, QString::fromLatin1(inflate(data.mid(nul + 2))));
    } else { // iTXt: key, compressed flag, method, language tag, translated key, text
        if (data.size() < nul + 3)
            return;
        const bool compressed = data[nul + 1] != 0;
        const int language = data.indexOf('\0', nul + 3);
        const int translated = language < 0 ? -1 : data.indexOf('\0', language + 1);
        if (translated < 0)
            return;
        const QByteArray text = data.mid(translated + 1);
        out.insert(key, QString::fromUtf8(compressed ? inflate(text) : text));
    }
}

} // namespace

QHash<QString, QString> ReadPngText(const QString& file) {
    QHash<QString, QString> out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly) || f.read(8) != QByteArray("\x89PNG\r\n\x1a\n", 8))
        return out;
    for (;;) {
        const QByteArray head = f.read(8);
        if (head.size() != 8)
            break;
        const quint32 length = qFromBigEndian<quint32>(head.constData());
        const QByteArray type = head.mid(4);
        if (type == "IDAT" || type == "IEND" || length > kMaxChunk)
            break;
        if (type == "tEXt" || type == "zTXt" || type == "iTXt") {
            const QByteArray data = f.read(length);
            if (data.size() != qsizetype(length))
                break;
            addChunk(type, data, out);
            f.skip(4); // CRC
        } else if (!f.skip(qint64(length) + 4)) {
            break;
        }
    }
    return out;
}

} // namespace zantrel
