#include "core/scheduler.h"

#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/store.h"

#include <QDate>
#include <QTime>
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

QString NextUpdateStatusText(const NextUpdate& n) {
    const auto pad = [](int v, int width) {
        return QStringLiteral("%1").arg(v, width, 10, QLatin1Char('0'));
    };
    return QStringLiteral(" Next Update: ") + pad(n.month, 2) + QLatin1Char('-') + pad(n.day, 2) +
           QLatin1Char('-') + pad(n.year, 4) + QStringLiteral(" at ") + pad(n.hour, 2) + QLatin1Char(':') +
           pad(n.minute, 2) + QLatin1Char(':') + pad(n.second, 2);
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
