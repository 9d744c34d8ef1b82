#include "imaging/stamp.h"

#include "core/clock.h"

#include <QRectF>
#include <algorithm>
#include <vector>

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

namespace {

// The box an item's padded text takes: where the position table puts it for its line slot, or where
// the last print left the position for an index outside the list.
QRectF stampBox(const StampSurface& surface, int slot, int position, const QString& padded) {
    const float tw = surface.textWidth(padded);
    const float th = surface.textHeight(padded);
    const float line = surface.textHeight(QStringLiteral("AAA"));
    const float w = surface.width();
    const float h = surface.height();
    const float n = float(slot);
    const float top = line * n;
    const float middle = (h - th) / 2 + line * n;
    const float bottom = h - (line * n + th);

    QPointF at(surface.printX(), surface.printY());
    switch (position) {
    case 0:
        at = {0, top};
        break;
    case 1:
        at = {(w - tw) / 2, top};
        break;
    case 2:
        at = {w - tw, top};
        break;
    case 3:
        at = {(w - tw) / 2, middle};
        break;
    case 4:
        at = {0, bottom};
        break;
    case 5:
        at = {(w - tw) / 2, bottom};
        break;
    case 6:
        at = {w - tw, bottom};
        break;
    default:
        break; // printed where the last print ended
    }
    return {at, QSizeF(tw, th)};
}

void printAt(StampSurface& surface, const QRectF& box, quint32 colour, const QString& padded) {
    surface.setPrintPosition(float(box.x()), float(box.y()));
    surface.setForeColor(colour);
    surface.print(padded);
}

bool isBottomPosition(int position) {
    return position >= 4 && position <= 6;
}

} // namespace

void DrawStamp(StampSurface& surface, int slot, int position, quint32 colour, QString& text) {
    text = QLatin1Char(' ') + text + QLatin1Char(' ');
    printAt(surface, stampBox(surface, slot, position, text), colour, text);
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

QStringList StampTextLines(const StampParams& params) {
    if (params.expanded)
        return StampTemplateLines(params.freeText);
    const QString text = ExpandStampText(params.freeText, params.nextUpdate);
    return StampTemplateLines(params.context ? ExpandStampTemplate(text, *params.context) : text);
}

namespace {

QRect logoBox(const QSize& frame, const QSize& logo, int position) {
    const int w = frame.width(), h = frame.height();
    const int lw = logo.width(), lh = logo.height();
    switch (position) {
    case 0:
        return {QPoint(0, 0), logo};
    case 1:
        return {QPoint((w - lw) / 2, 0), logo};
    case 2:
        return {QPoint(w - lw, 0), logo};
    case 3:
        return {QPoint((w - lw) / 2, (h - lh) / 2), logo};
    case 4:
        return {QPoint(0, h - lh), logo};
    case 5:
        return {QPoint((w - lw) / 2, h - lh), logo};
    default:
        return {QPoint(w - lw, h - lh), logo};
    }
}

} // namespace

void StampFrame(QImage& frame, const StampParams& params) {
    if (frame.isNull())
        return;
    ImageStampSurface surface(frame, stampFont(frame.height(), params.fontFamily, params.fontPercent));
    StampItems(surface, params);
    if (!params.logo.isNull() && params.logoOpacity > 0)
        surface.drawImage(logoBox(frame.size(), params.logo.size(), params.logoPos).topLeft(), params.logo,
                          std::clamp(params.logoOpacity, 0, 100) / 100.0);
}

void StampItems(StampSurface& surface, const StampParams& params) {
    surface.setBackColor(params.backColor);
    surface.setTransparent(params.transparent);
    const float line = surface.textHeight(QStringLiteral("AAA"));
    std::vector<QRectF> printed;
    const auto draw = [&](int slot, int position, quint32 colour, const QString& text) {
        const QString padded = QLatin1Char(' ') + text + QLatin1Char(' ');
        QRectF box = stampBox(surface, slot, position, padded);
        // An item never covers one printed before it (an index outside the list continues where the
        // last print ended, which may be another item's line): it moves a line at a time away from
        // its edge of the frame until it is clear. With every box one line high, each earlier box
        // blocks at most two of these steps.
        const qreal step = isBottomPosition(position) ? -line : line;
        const auto covers = [&box](const QRectF& other) { return other.intersects(box); };
        for (std::size_t moves = 0;
             moves <= 2 * printed.size() && std::any_of(printed.begin(), printed.end(), covers); ++moves)
            box.translate(0, step);
        printed.push_back(box);
        printAt(surface, box, colour, padded);
    };
    if (params.time)
        draw(kTimeSlot, params.timePos, params.timeColor, StampTimeText(clock().now()));
    if (params.date)
        draw(kDateSlot, params.datePos, params.dateColor, StampDateText(clock().now()));
    if (!params.text)
        return;
    QStringList lines = StampTextLines(params);
    // As many lines as the frame holds besides the other items, each cut to the frame's width.
    const int room = line > 0 ? std::max(1, int(surface.height() / line) - int(printed.size())) : 1;
    if (lines.size() > room)
        lines.resize(room);
    const float blanks = surface.textWidth(QStringLiteral("  "));
    const float widest = surface.widestLetter();
    const auto surelyFits = [&](const QString& text) { // without laying the text out
        return widest > 0 && float(text.size()) * widest + blanks <= surface.width() &&
               std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x250; });
    };
    for (QString& text : lines) {
        if (surelyFits(text) || surface.textWidth(text) + blanks <= surface.width())
            continue;
        qsizetype low = 0, high = text.size(); // the longest head that fits lies in [low, high)
        while (high - low > 1) {
            const qsizetype mid = (low + high) / 2;
            (surface.textWidth(text.left(mid)) + blanks <= surface.width() ? low : high) = mid;
        }
        text.truncate(low);
    }
    const int count = int(lines.size());
    for (int i = 0; i < count; ++i)
        draw(isBottomPosition(params.textPos) ? kTextSlot + count - 1 - i : kTextSlot + i, params.textPos,
             params.textColor, lines[i]);
}

} // namespace zantrel
