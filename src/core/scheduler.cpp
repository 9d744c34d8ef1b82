#include "core/scheduler.h"

#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/store.h"

#include <QDate>
#include <QTime>
#include <algorithm>
#include <tuple>

namespace zantrel {

namespace {

// 0 for a month number that names no month: the day step is then skipped.
std::int64_t monthLength(std::int64_t year, std::int64_t month) {
    switch (month) {
    case 1:
    case 3:
    case 5:
    case 7:
    case 8:
    case 10:
    case 12:
        return 31;
    case 4:
    case 6:
    case 9:
    case 11:
        return 30;
    case 2:
        if (year % 4 != 0)
            return 28;
        return (year % 100 == 0 && year % 400 != 0) ? 28 : 29;
    default:
        return 0;
    }
}

struct Fields {
    std::int64_t year, month, day, hour, minute, second;
};

void normalise(Fields& f) {
    for (bool changed = true; changed;) {
        const Fields before = f;
        if (f.second > 59) {
            f.minute += f.second / 60;
            f.second %= 60;
        }
        if (f.minute > 59) {
            f.hour += f.minute / 60;
            f.minute %= 60;
        }
        if (f.hour > 23) {
            f.day += f.hour / 24;
            f.hour %= 24;
        }
        if (const auto length = monthLength(f.year, f.month); length > 0 && f.day > length) {
            f.month += 1;
            f.day -= length;
        }
        if (f.month > 12) {
            f.year += 1;
            f.month -= 12;
        }
        changed = f.year != before.year || f.month != before.month || f.day != before.day ||
                  f.hour != before.hour || f.minute != before.minute || f.second != before.second;
    }
}

std::int16_t narrow(std::int64_t v) {
    return static_cast<std::int16_t>(v);
}

} // namespace

NextUpdate ComputeNextUpdate() {
    return ComputeNextUpdate(clock().now());
}

NextUpdate ComputeNextUpdate(const QDateTime& present) {
    const QDate d = present.date();
    const QTime t = present.time();

    if (ReadNumber(keys::UpdateType) == 0.0) {
        // Fixed date: each component defaults to its present value; no checks, no carries.
        return NextUpdate{ReadInt16(keys::UpdateYear, narrow(d.year())),
                          ReadInt16(keys::UpdateMonth, narrow(d.month())),
                          ReadInt16(keys::UpdateDay, narrow(d.day())),
                          ReadInt16(keys::UpdateHour, narrow(t.hour())),
                          ReadInt16(keys::UpdateMinute, narrow(t.minute())),
                          ReadInt16(keys::UpdateSecond, narrow(t.second()))};
    }

    const std::int64_t unitI = ReadInt16(keys::UpdateUnitI);
    const std::int64_t unitII = ReadInt16(keys::UpdateUnitII);
    const std::int64_t partI = ReadInt16(keys::UpdatePartI);
    const std::int64_t partII = ReadInt16(keys::UpdatePartII);

    Fields f{d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
    switch (unitI) {
    case 0: // days; the finer part is hours, minutes or seconds
        f.day += partI;
        if (unitII == 0)
            f.hour += partII;
        else if (unitII == 1)
            f.minute += partII;
        else if (unitII == 2)
            f.second += partII;
        break;
    case 1: // hours; the finer part is minutes or seconds
        f.hour += partI;
        if (unitII == 0)
            f.minute += partII;
        else if (unitII == 1)
            f.second += partII;
        break;
    case 2: // minutes; the finer part is always seconds
        f.minute += partI;
        f.second += partII;
        break;
    case 3: // seconds; no finer part
        f.second += partI;
        break;
    default:
        break;
    }
    normalise(f);
    return NextUpdate{narrow(f.year), narrow(f.month),  narrow(f.day),
                      narrow(f.hour), narrow(f.minute), narrow(f.second)};
}

namespace {

QString padded(int v, int width) {
    return QStringLiteral("%1").arg(v, width, 10, QLatin1Char('0'));
}

// Day, month and year as numbers, in the order and with the separator of the locale's short date format.
QString localeDate(const NextUpdate& n, const QLocale& locale) {
    const QString fallbackSeparator = QStringLiteral("-");
    if (locale.language() == QLocale::C)
        return padded(n.month, 2) + fallbackSeparator + padded(n.day, 2) + fallbackSeparator +
               padded(n.year, 4);
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    QString order;     // "d", "M" and "y" as they first appear
    QString separator; // what stands between the first two of them
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('d') || c == QLatin1Char('M') || c == QLatin1Char('y')) {
            if (!order.contains(c))
                order += c;
        } else if (order.size() == 1 && !c.isLetter() && c != QLatin1Char('\'')) {
            separator += c;
        }
    }
    if (order.size() != 3)
        order = QStringLiteral("Mdy");
    if (separator.isEmpty())
        separator = fallbackSeparator;
    QStringList parts;
    for (const QChar c : order)
        parts << (c == QLatin1Char('d')   ? padded(n.day, 2)
                  : c == QLatin1Char('M') ? padded(n.month, 2)
                                          : padded(n.year, 4));
    return parts.join(separator);
}

} // namespace

QString NextUpdateStatusText(const NextUpdate& n, const QLocale& locale) {
    return QStringLiteral(" Next Update: ") + localeDate(n, locale) + QStringLiteral(" at ") +
           padded(n.hour, 2) + QLatin1Char(':') + padded(n.minute, 2) + QLatin1Char(':') +
           padded(n.second, 2);
}

QString NextUpdateStatusText(const NextUpdate& n, const QDateTime& present, const QLocale& locale) {
    const QString text = NextUpdateStatusText(n, locale);
    const QDate date(n.year, n.month, n.day);
    const QTime time(n.hour, n.minute, n.second);
    if (!date.isValid() || !time.isValid())
        return text;
    // Whole seconds, rounded up, so that the count reaches 0 when the update is due.
    const qint64 left = std::max<qint64>(0, (present.msecsTo(QDateTime(date, time)) + 999) / 1000);
    return text + QStringLiteral(" (in ") + padded(int(left / 3600), 2) + QLatin1Char(':') +
           padded(int(left / 60 % 60), 2) + QLatin1Char(':') + padded(int(left % 60), 2) + QLatin1Char(')');
}

QString NextUpdateStampText(const NextUpdate& n) {
    // At least two digits, zero-padded; a negative number keeps its sign in front.
    const auto twoDigits = [](int v) {
        const QString digits = QStringLiteral("%1").arg(qAbs(qint64(v)), 2, 10, QLatin1Char('0'));
        return v < 0 ? QLatin1Char('-') + digits : digits;
    };
    return twoDigits(n.month) + QLatin1Char('-') + twoDigits(n.day) + QLatin1Char('-') + twoDigits(n.year) +
           QStringLiteral(" at ") + twoDigits(n.hour) + QLatin1Char(':') + twoDigits(n.minute) +
           QLatin1Char(':') + twoDigits(n.second);
}

bool IsDue(const NextUpdate& n, const QDateTime& present) {
    const QDate date(n.year, n.month, n.day);
    const QTime time(n.hour, n.minute, n.second);
    if (!date.isValid() || !time.isValid())
        return false;
    // Compare wall-clock readings field by field, so a daylight-saving jump cannot make a stored time
    // unreachable.
    const QDate pd = present.date();
    const QTime pt = present.time();
    return std::tuple(pd.year(), pd.month(), pd.day(), pt.hour(), pt.minute(), pt.second()) >=
           std::tuple(int(n.year), int(n.month), int(n.day), int(n.hour), int(n.minute), int(n.second));
}

} // namespace zantrel
