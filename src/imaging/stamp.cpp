#include "imaging/stamp.h"

#include "core/clock.h"

namespace zantrel {

namespace {

// At least two digits, zero-padded; a negative number keeps its sign in front.
QString twoDigits(int v) {
    const QString digits = QStringLiteral("%1").arg(qAbs(qint64(v)), 2, 10, QLatin1Char('0'));
    return v < 0 ? QLatin1Char('-') + digits : digits;
}

} // namespace

QString StampTimeText(const QDateTime& moment) {
    const QTime t = moment.time();
    return twoDigits(t.hour()) + QLatin1Char(':') + twoDigits(t.minute()) + QLatin1Char(':') +
           twoDigits(t.second());
}

QString StampDateText(const QDateTime& moment) {
    const QDate d = moment.date();
    return twoDigits(d.month()) + QLatin1Char('-') + twoDigits(d.day()) + QLatin1Char('-') +
           QStringLiteral("%1").arg(d.year(), 4, 10, QLatin1Char('0'));
}

void DrawStamp(StampSurface& surface, int slot, int position, quint32 colour, QString& text) {
    text = QLatin1Char(' ') + text + QLatin1Char(' ');
    const float tw = surface.textWidth(text);
    const float th = surface.textHeight(text);
    const float line = surface.textHeight(QStringLiteral("AAA"));
    const float w = surface.width();
    const float h = surface.height();
    const float n = float(slot);

    switch (position) {
    case 0:
        surface.setPrintPosition(0, line * n);
        break;
    case 1:
        surface.setPrintPosition((w - tw) / 2, line * n);
        break;
    case 2:
        surface.setPrintPosition(w - tw, line * n);
        break;
    case 3:
        surface.setPrintPosition((w - tw) / 2, (h - th) / 2 + line * n);
        break;
    case 4:
        surface.setPrintPosition(0, h - (line * n + th));
        break;
    case 5:
        surface.setPrintPosition((w - tw) / 2, h - (line * n + th));
        break;
    case 6:
        surface.setPrintPosition(w - tw, h - (line * n + th));
        break;
    default:
        break; // printed where the last print ended
    }
    surface.setForeColor(colour);
    surface.print(text);
}

QString ExpandStampText(const QString& text, const QString& nextUpdate) {
    const qsizetype length = text.size();
    QString result;
    for (qsizetype i = 0; i < length; ++i) {
        if (i + 5 > length) {
            result += text.mid(i);
            break;
        }
        const QString word = text.mid(i, 5).toUpper();
        if (word == QLatin1String("&DATE")) {
            result += StampDateText(clock().now());
            i += 4;
        } else if (word == QLatin1String("&TIME")) {
            result += StampTimeText(clock().now());
            i += 4;
        } else if (word == QLatin1String("&NEXT")) {
            result += nextUpdate;
            i += 4;
        } else {
            result += text[i];
        }
    }
    return result;
}

void StampFrame(QImage& frame, const StampParams& params) {
    if (frame.isNull())
        return;
    ImageStampSurface surface(frame, stampFont(frame.height()));
    StampItems(surface, params);
}

void StampItems(StampSurface& surface, const StampParams& params) {
    surface.setBackColor(params.backColor);
    surface.setTransparent(params.transparent);
    if (params.time) {
        QString time = StampTimeText(clock().now());
        DrawStamp(surface, kTimeSlot, params.timePos, params.timeColor, time);
    }
    if (params.date) {
        QString date = StampDateText(clock().now());
        DrawStamp(surface, kDateSlot, params.datePos, params.dateColor, date);
    }
    if (params.text) {
        QString text = ExpandStampText(params.freeText, params.nextUpdate);
        DrawStamp(surface, kTextSlot, params.textPos, params.textColor, text);
    }
}

} // namespace zantrel
