#include "core/active_hours.h"

#include "core/leading_number.h"
#include "core/setting_keys.h"
#include "core/store.h"

#include <cmath>
#include <cstdlib>
#include <numbers>

namespace zantrel {

namespace {

constexpr double kDeg = std::numbers::pi / 180.0;
constexpr int kMaxOffsetMinutes = 240;

// The sun's declination (radians) and the equation of time (minutes) at a Julian day, from the
// mean elements of the earth's orbit (Meeus, as the NOAA solar calculator has them).
struct SunPosition {
    double declination;
    double equationOfTime;
};
SunPosition sunAt(double julianDay) {
    const double t = (julianDay - 2451545.0) / 36525.0; // Julian centuries since J2000
    const double meanLongitude = std::fmod(280.46646 + t * (36000.76983 + t * 0.0003032), 360.0) * kDeg;
    const double meanAnomaly = (357.52911 + t * (35999.05029 - 0.0001537 * t)) * kDeg;
    const double eccentricity = 0.016708634 - t * (0.000042037 + 0.0000001267 * t);
    const double centre = std::sin(meanAnomaly) * (1.914602 - t * (0.004817 + 0.000014 * t)) +
                          std::sin(2 * meanAnomaly) * (0.019993 - 0.000101 * t) +
                          std::sin(3 * meanAnomaly) * 0.000289;
    const double omega = (125.04 - 1934.136 * t) * kDeg;
    const double apparentLongitude = meanLongitude + (centre - 0.00569 - 0.00478 * std::sin(omega)) * kDeg;
    const double meanObliquity =
        23.0 + (26.0 + (21.448 - t * (46.815 + t * (0.00059 - t * 0.001813))) / 60.0) / 60.0;
    const double obliquity = (meanObliquity + 0.00256 * std::cos(omega)) * kDeg;
    const double y = std::pow(std::tan(obliquity / 2), 2);
    const double e = eccentricity, l = meanLongitude, m = meanAnomaly;
    const double eot = y * std::sin(2 * l) - 2 * e * std::sin(m) + 4 * e * y * std::sin(m) * std::cos(2 * l) -
                       0.5 * y * y * std::sin(4 * l) - 1.25 * e * e * std::sin(2 * m);
    return {std::asin(std::sin(obliquity) * std::sin(apparentLongitude)), 4.0 * eot / kDeg};
}

// The cosine of the hour angle at which the sun's upper edge meets the horizon (90.833° from the zenith).
double horizonCosine(double latitude, double declination) {
    return std::cos(90.833 * kDeg) / (std::cos(latitude * kDeg) * std::cos(declination)) -
           std::tan(latitude * kDeg) * std::tan(declination);
}

// Minutes after 0:00 UTC of the UTC day with that Julian day number at noon of the event: sunrise
// (sign -1) or sunset (+1), refined by computing the sun again at the moment found. Nothing when the
// sun does not cross the horizon then; the bool says which side it stays on (true: above).
std::optional<double> crossing(double noonJulianDay, double latitude, double longitude, int sign,
                               bool* staysUp) {
    double minutes = 720.0 - 4.0 * longitude;
    for (int round = 0; round < 3; ++round) {
        const SunPosition sun = sunAt(noonJulianDay - 0.5 + minutes / 1440.0);
        const double c = horizonCosine(latitude, sun.declination);
        if (c < -1.0 || c > 1.0) {
            *staysUp = c < -1.0;
            return std::nullopt;
        }
        const double hourAngle = std::acos(c) / kDeg;
        minutes = 720.0 - 4.0 * (longitude - sign * hourAngle) - sun.equationOfTime;
    }
    return minutes;
}

QTimeZone zoneOf(const QDateTime& moment) {
    return moment.timeSpec() == Qt::LocalTime ? QTimeZone::systemTimeZone() : moment.timeZone();
}

// A moment shown in the same kind of time as another.
QDateTime like(const QDateTime& model, const QDateTime& moment) {
    return model.timeSpec() == Qt::LocalTime ? moment.toLocalTime() : moment.toTimeZone(model.timeZone());
}

std::optional<QTime> clockTime(const QString& text) {
    const QTime t = QTime::fromString(text.trimmed(), QStringLiteral("H:mm"));
    return t.isValid() ? std::optional(t) : std::nullopt;
}

} // namespace

SunDay SunOnDate(const QDate& date, double latitude, double longitude, const QTimeZone& zone) {
    // The events of a local date lie around its noon. The sun culminates about 4 minutes before
    // 12:00 UTC per degree east: the UTC day to compute on is the one whose culmination is nearest.
    const QDateTime localNoon(date, QTime(12, 0), zone);
    const QDate utcDate = localNoon.toUTC().addSecs(qint64(240.0 * longitude)).date();
    const double noonJulianDay = double(utcDate.toJulianDay());
    const QDateTime midnight(utcDate, QTime(0, 0), QTimeZone::utc());
    SunDay day;
    bool staysUp = false;
    const auto at = [&](double minutes) {
        return midnight.addMSecs(qint64(std::llround(minutes * 60000.0)));
    };
    if (const auto rise = crossing(noonJulianDay, latitude, longitude, -1, &staysUp))
        day.rise = at(*rise);
    if (const auto set = crossing(noonJulianDay, latitude, longitude, +1, &staysUp))
        day.set = at(*set);
    day.polarDay = !day.rise && !day.set && staysUp;
    return day;
}

ActiveHours ActiveHours::Between(QTime from, QTime to) {
    ActiveHours h;
    h.mode_ = Mode::Between;
    h.from_ = from;
    h.to_ = to;
    return h;
}

ActiveHours ActiveHours::Daylight(double latitude, double longitude, int offsetMinutes) {
    ActiveHours h;
    h.mode_ = Mode::Daylight;
    h.latitude_ = latitude;
    h.longitude_ = longitude;
    h.offsetMinutes_ = offsetMinutes;
    return h;
}

QString ActiveHours::CheckBetween(const QString& from, const QString& to) {
    if (from.trimmed().isEmpty() && to.trimmed().isEmpty())
        return {};
    const auto start = clockTime(from), end = clockTime(to);
    if (!start || !end)
        return QStringLiteral("Active hours need a start and an end as HH:MM");
    if (*start == *end)
        return QStringLiteral("Active hours that start when they end leave no time to publish");
    return {};
}

QString ActiveHours::CheckDaylight(double latitude, double longitude, int offsetMinutes) {
    if (!(latitude >= -90.0 && latitude <= 90.0))
        return QStringLiteral("A latitude lies between -90 and 90 degrees");
    if (!(longitude >= -180.0 && longitude <= 180.0))
        return QStringLiteral("A longitude lies between -180 and 180 degrees");
    if (std::abs(offsetMinutes) > kMaxOffsetMinutes)
        return QStringLiteral("The offset to sunrise and sunset is at most %1 minutes")
            .arg(kMaxOffsetMinutes);
    return {};
}

ActiveHours ActiveHours::FromSettings(QString* refusal) {
    QString why;
    ActiveHours hours;
    if (ReadFlag(keys::UpdateSun)) {
        const QString lat = GetSetting(keys::UpdateLat), lon = GetSetting(keys::UpdateLon);
        const double latitude = LeadingNumber(lat), longitude = LeadingNumber(lon);
        const auto offset = ToInt32(LeadingNumber(GetSetting(keys::UpdateSunOffset)));
        if (lat.trimmed().isEmpty() || lon.trimmed().isEmpty())
            why = QStringLiteral("Publishing from sunrise to sunset needs the latitude and longitude");
        else
            why = CheckDaylight(latitude, longitude, offset.value_or(kMaxOffsetMinutes + 1));
        if (why.isEmpty())
            hours = Daylight(latitude, longitude, *offset);
    } else {
        const QString from = GetSetting(keys::UpdateFrom), to = GetSetting(keys::UpdateTo);
        why = CheckBetween(from, to);
        if (why.isEmpty() && !from.trimmed().isEmpty())
            hours = Between(*clockTime(from), *clockTime(to));
    }
    if (refusal)
        *refusal = why;
    return hours;
}

std::optional<std::pair<QDateTime, QDateTime>> ActiveHours::windowOn(const QDate& date,
                                                                     const QTimeZone& zone) const {
    if (mode_ == Mode::Between) {
        // Across midnight, the window of a date ends on the next one. A start or end inside a
        // daylight-saving gap moves on with the clock.
        const QDateTime start(date, from_, zone);
        return std::pair(start, QDateTime(to_ > from_ ? date : date.addDays(1), to_, zone));
    }
    const SunDay sun = SunOnDate(date, latitude_, longitude_, zone);
    const QDateTime midnight(date, QTime(0, 0), zone);
    const QDateTime nextMidnight(date.addDays(1), QTime(0, 0), zone);
    const qint64 offset = qint64(offsetMinutes_) * 60;
    if (sun.polarDay) // the whole day, whatever the offset
        return std::pair(midnight, nextMidnight);
    // A day whose sun only sets (or only rises) has its window from, or to, midnight.
    if (!sun.rise && !sun.set)
        return std::nullopt;
    const QDateTime start = sun.rise ? sun.rise->addSecs(-offset) : midnight;
    const QDateTime end = sun.set ? sun.set->addSecs(offset) : nextMidnight;
    if (start >= end)
        return std::nullopt;
    return std::pair(start, end);
}

bool ActiveHours::contains(const QDateTime& moment) const {
    if (mode_ == Mode::Always)
        return true;
    const QTimeZone zone = zoneOf(moment);
    const QDate today = moment.toTimeZone(zone).date();
    for (int d = -1; d <= 1; ++d) {
        const auto w = windowOn(today.addDays(d), zone);
        if (w && w->first <= moment && moment < w->second)
            return true;
    }
    return false;
}

QDateTime ActiveHours::nextStart(const QDateTime& moment) const {
    if (contains(moment))
        return moment;
    const QTimeZone zone = zoneOf(moment);
    const QDate today = moment.toTimeZone(zone).date();
    for (int d = 0; d <= 366; ++d) {
        const auto w = windowOn(today.addDays(d), zone);
        if (w && w->first > moment)
            return like(moment, w->first);
    }
    return {};
}

} // namespace zantrel
