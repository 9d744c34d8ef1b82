#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <cstdint>

namespace zantrel {

// Local date and time of the next job. Not validated: a fixed date from the settings may name a day
// that does not exist (30 February), which is then never due.
struct NextUpdate {
    std::int16_t year = 0;
    std::int16_t month = 0;
    std::int16_t day = 0;
    std::int16_t hour = 0;
    std::int16_t minute = 0;
    std::int16_t second = 0;
    friend bool operator==(const NextUpdate&, const NextUpdate&) = default;
};

// The next update from the UPDATE settings and the program clock: the stored fixed date as it is, or
// the present time plus the interval, carried into larger units one month per round.
NextUpdate ComputeNextUpdate();
NextUpdate ComputeNextUpdate(const QDateTime& present);

// " Next Update: " with the date in the order of the locale's short date format (two-digit day and
// month, four-digit year; MM-DD-YYYY in the C locale) and " at hh:mm:ss". Given the present moment, the
// time left follows: " (in hh:mm:ss)", hours counted on past a day; nothing for a date that does not exist.
QString NextUpdateStatusText(const NextUpdate& next, const QLocale& locale = QLocale());
QString NextUpdateStatusText(const NextUpdate& next, const QDateTime& present,
                             const QLocale& locale = QLocale());

// "MM-DD-YYYY at hh:mm:ss", every field at least two digits, as the stamp's "&NEXT" shows it.
QString NextUpdateStampText(const NextUpdate& next);

// True when the present date and time has reached the next update. A date that does not exist is
// never due; a due time already passed (a missed tick, a suspended machine) is.
bool IsDue(const NextUpdate& next, const QDateTime& present);

} // namespace zantrel
