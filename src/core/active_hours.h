#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <optional>

namespace zantrel {

// Sunrise and sunset at a place on a local date: the moments the sun's upper edge crosses the horizon,
// refraction included. Neither on a day the sun stays up (polarDay) or stays down.
struct SunDay {
    std::optional<QDateTime> rise, set; // UTC
    bool polarDay = false;
};
SunDay SunOnDate(const QDate& date, double latitude, double longitude, const QTimeZone& zone);

// When periodic publishing may run: always, between two times of the local day (across midnight when
// the end is earlier than the start), or from sunrise to sunset widened by an offset on both ends.
class ActiveHours {
  public:
    ActiveHours() = default; // always
    static ActiveHours Between(QTime from, QTime to);
    static ActiveHours Daylight(double latitude, double longitude, int offsetMinutes);

    // What the UPDATE settings say. A window that makes no sense is refused: it reads as always, and
    // the reason (for the user, once) goes to refusal.
    static ActiveHours FromSettings(QString* refusal = nullptr);
    // Empty when the values make a usable window, else why not. An empty from and to mean always.
    static QString CheckBetween(const QString& from, const QString& to);
    static QString CheckDaylight(double latitude, double longitude, int offsetMinutes);

    bool always() const { return mode_ == Mode::Always; }
    bool contains(const QDateTime& moment) const;
    // The moment itself inside the window, else the window's next start in the moment's zone; invalid
    // when no window opens within a year (a place in polar night would open later).
    QDateTime nextStart(const QDateTime& moment) const;

  private:
    enum class Mode { Always, Between, Daylight };
    // The window belonging to a local date, as [start, end); nothing on a day it never opens.
    std::optional<std::pair<QDateTime, QDateTime>> windowOn(const QDate& date, const QTimeZone& zone) const;

    Mode mode_ = Mode::Always;
    QTime from_, to_;
    double latitude_ = 0, longitude_ = 0;
    int offsetMinutes_ = 0;
};

} // namespace zantrel
