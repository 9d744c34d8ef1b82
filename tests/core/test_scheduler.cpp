#include "core/active_hours.h"
#include "core/clock.h"
#include "core/leading_number.h"
#include "core/scheduler.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "support/temp_store.h"

#include <QTest>

using namespace zantrel;
using zantrel::test::TempStore;

Q_DECLARE_METATYPE(zantrel::NextUpdate)

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}
NextUpdate nu(int y, int mo, int d, int h, int mi, int s) {
    return NextUpdate{std::int16_t(y), std::int16_t(mo), std::int16_t(d),
                      std::int16_t(h), std::int16_t(mi), std::int16_t(s)};
}

} // namespace

class TestScheduler : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void periodic_data() {
        QTest::addColumn<QDateTime>("present");
        QTest::addColumn<QList<int>>("interval"); // partI, unitI, partII, unitII; empty = defaults
        QTest::addColumn<NextUpdate>("expected");
        const auto row = [](const char* name, QDateTime present, QList<int> interval, NextUpdate expected) {
            QTest::newRow(name) << present << interval << expected;
        };
        row("defaults: 30 seconds", at(2026, 6, 1, 10, 15, 20), {}, nu(2026, 6, 1, 10, 15, 50));
        row("leap 2000", at(2000, 2, 28, 12, 0, 0), {1, 0, 0, 0}, nu(2000, 2, 29, 12, 0, 0));
        row("no leap 2100", at(2100, 2, 28, 12, 0, 0), {1, 0, 0, 0}, nu(2100, 3, 1, 12, 0, 0));
        row("60 days from 31 January", at(2026, 1, 31, 8, 0, 0), {60, 0, 0, 0}, nu(2026, 4, 1, 8, 0, 0));
        row("400 days spans a year", at(2026, 1, 1, 0, 0, 0), {400, 0, 0, 0}, nu(2027, 2, 5, 0, 0, 0));
        row("seconds carry through every field", at(2026, 12, 31, 23, 59, 59), {1, 3, 0, 0},
            nu(2027, 1, 1, 0, 0, 0));
        // Every main unit with every finer unit, from 10 March 2026 20:00:00.
        const auto unit = [&](const char* name, QList<int> interval, NextUpdate expected) {
            row(name, at(2026, 3, 10, 20, 0, 0), interval, expected);
        };
        unit("days + hours", {1, 0, 5, 0}, nu(2026, 3, 12, 1, 0, 0));
        unit("days + minutes", {1, 0, 5, 1}, nu(2026, 3, 11, 20, 5, 0));
        unit("days + seconds", {1, 0, 5, 2}, nu(2026, 3, 11, 20, 0, 5));
        unit("days + unit 3 adds nothing", {1, 0, 5, 3}, nu(2026, 3, 11, 20, 0, 0));
        unit("hours + minutes", {2, 1, 90, 0}, nu(2026, 3, 10, 23, 30, 0));
        unit("hours + seconds", {2, 1, 90, 1}, nu(2026, 3, 10, 22, 1, 30));
        unit("hours + unit 2 adds nothing", {2, 1, 90, 2}, nu(2026, 3, 10, 22, 0, 0));
        unit("minutes + seconds", {1, 2, 30, 0}, nu(2026, 3, 10, 20, 1, 30));
        unit("minutes: finer part is seconds whatever its unit", {1, 2, 30, 2}, nu(2026, 3, 10, 20, 1, 30));
        unit("seconds ignore the finer part", {10, 3, 30, 0}, nu(2026, 3, 10, 20, 0, 10));
        unit("unknown unit adds nothing", {10, 7, 30, 0}, nu(2026, 3, 10, 20, 0, 0));
    }
    void periodic() {
        QFETCH(QDateTime, present);
        QFETCH(QList<int>, interval);
        QFETCH(NextUpdate, expected);
        TempStore store;
        const keys::SettingKey order[] = {keys::UpdatePartI, keys::UpdateUnitI, keys::UpdatePartII,
                                          keys::UpdateUnitII};
        for (int i = 0; i < interval.size(); ++i)
            SaveSetting(order[i], NumberText(interval[i]));
        const NextUpdate got = ComputeNextUpdate(present);
        QCOMPARE(NextUpdateStatusText(got), NextUpdateStatusText(expected));
    }

    void fixedDateIsReturnedAsStored() {
        TempStore store;
        SaveSetting(keys::UpdateType, QStringLiteral("0"));
        ManualClock clock(at(2026, 5, 6, 7, 8, 9));
        ScopedClock use(clock);
        // Absent components default to the present moment, each on its own.
        QCOMPARE(NextUpdateStatusText(ComputeNextUpdate()),
                 QStringLiteral(" Next Update: 05-06-2026 at 07:08:09"));
        SaveSetting(keys::UpdateMonth, QStringLiteral("2"));
        SaveSetting(keys::UpdateDay, QStringLiteral("30"));
        SaveSetting(keys::UpdateHour, QStringLiteral("25"));
        const NextUpdate n = ComputeNextUpdate();
        QCOMPARE(NextUpdateStatusText(n), QStringLiteral(" Next Update: 02-30-2026 at 25:08:09"));
        QVERIFY(!IsDue(n, at(2030, 1, 1, 0, 0, 0)));
    }

    // Every field padded; the date in the locale's order (month first without one); the time left
    // rounded up to whole seconds, hours counted past a day, none for a date that does not exist.
    void statusText_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<NextUpdate>("next");
        QTest::addColumn<QDateTime>("present"); // invalid: no countdown asked for
        QTest::addColumn<QString>("expected");
        const NextUpdate n = nu(999, 3, 5, 7, 4, 9);
        QTest::newRow("C") << "C" << n << QDateTime() << " Next Update: 03-05-0999 at 07:04:09";
        QTest::newRow("en_US") << "en_US" << n << QDateTime() << " Next Update: 03/05/0999 at 07:04:09";
        QTest::newRow("de_DE") << "de_DE" << n << QDateTime() << " Next Update: 05.03.0999 at 07:04:09";
        QTest::newRow("ja_JP") << "ja_JP" << n << QDateTime() << " Next Update: 0999/03/05 at 07:04:09";
        const NextUpdate soon = nu(2026, 12, 6, 10, 15, 50);
        QTest::newRow("27 seconds left") << "C" << soon << at(2026, 12, 6, 10, 15, 23).addMSecs(400)
                                         << " Next Update: 12-06-2026 at 10:15:50 (in 00:00:27)";
        QTest::newRow("more than a day") << "en_GB" << soon << at(2026, 12, 5, 8, 14, 40)
                                         << " Next Update: 06/12/2026 at 10:15:50 (in 26:01:10)";
        QTest::newRow("passed") << "C" << soon << at(2026, 12, 6, 11, 0, 0)
                                << " Next Update: 12-06-2026 at 10:15:50 (in 00:00:00)";
        QTest::newRow("no such date") << "C" << nu(2026, 2, 30, 25, 8, 9) << at(2026, 1, 1, 0, 0, 0)
                                      << " Next Update: 02-30-2026 at 25:08:09";
    }
    void statusText() {
        QFETCH(QString, locale);
        QFETCH(NextUpdate, next);
        QFETCH(QDateTime, present);
        QFETCH(QString, expected);
        const QLocale l(locale);
        QCOMPARE(present.isValid() ? NextUpdateStatusText(next, present, l) : NextUpdateStatusText(next, l),
                 expected);
    }

    void stampTextPadsToTwoDigits() {
        // The stamp's "&NEXT" pads to two digits only and keeps a sign.
        QCOMPARE(NextUpdateStampText(nu(999, 3, -5, 7, 4, 9)), QStringLiteral("03--05-999 at 07:04:09"));
    }

    void dueTest() {
        const NextUpdate n = nu(2026, 12, 6, 10, 15, 50);
        QVERIFY(!IsDue(n, at(2026, 12, 6, 10, 15, 49)) && IsDue(n, at(2026, 12, 6, 10, 15, 50)));
        // A tick that misses the minute (suspend, busy machine, clock jump) still runs the job.
        QVERIFY(IsDue(n, at(2026, 12, 6, 10, 16, 0)) && IsDue(n, at(2027, 1, 1, 0, 0, 0)));
        QVERIFY(!IsDue(n, at(2026, 12, 5, 23, 59, 59)) && !IsDue(n, at(2025, 12, 6, 10, 15, 50)));
        // Dates that do not exist are never due.
        const QDateTime later = at(2099, 1, 1, 0, 0, 0);
        QVERIFY(!IsDue(nu(2026, 13, 1, 0, 0, 0), later) && !IsDue(nu(2026, 2, 29, 0, 0, 0), later));
        QVERIFY(!IsDue(nu(2026, 1, 1, 0, 60, 0), later) && IsDue(nu(2024, 2, 29, 0, 0, 0), later));
    }

    // Sunrise and sunset as the almanacs give them (local time, to 2 minutes; "-" where the sun stays
    // up or down), polar night and midnight sun; both sides of a daylight-saving change as the shorter
    // fractional-year formulas give them.
    void sunriseAndSunset_data() {
        QTest::addColumn<QString>("row"); // latitude, longitude, zone, date, sunrise, sunset
        const char* london = "51.5074 -0.1278 Europe/London";
        QTest::newRow("London, midsummer") << QStringLiteral("%1 2026-06-21 04:43 21:21").arg(london);
        QTest::newRow("London, midwinter") << QStringLiteral("%1 2026-12-21 08:04 15:53").arg(london);
        QTest::newRow("London, last day of GMT") << QStringLiteral("%1 2026-03-28 05:46 18:26").arg(london);
        QTest::newRow("London, first day of BST") << QStringLiteral("%1 2026-03-29 06:44 19:28").arg(london);
        QTest::newRow("Sydney, summer")
            << QStringLiteral("-33.8688 151.2093 Australia/Sydney 2026-12-21 05:41 20:05");
        QTest::newRow("New York") << QStringLiteral(
            "40.7128 -74.006 America/New_York 2026-06-21 05:25 20:31");
        QTest::newRow("Quito") << QStringLiteral("-0.1807 -78.4678 America/Guayaquil 2026-03-20 06:18 18:24");
        QTest::newRow("Tromso, polar night") << QStringLiteral("69.6492 18.9553 Europe/Oslo 2026-12-21 - -");
        QTest::newRow("Tromso, midnight sun") << QStringLiteral("69.6492 18.9553 Europe/Oslo 2026-06-21 - -");
    }
    void sunriseAndSunset() {
        QFETCH(QString, row);
        const QStringList f = row.split(u' ');
        const QTimeZone tz(f[2].toLatin1());
        const QDate date = QDate::fromString(f[3], Qt::ISODate);
        const SunDay sun = SunOnDate(date, f[0].toDouble(), f[1].toDouble(), tz);
        const auto near = [&](const std::optional<QDateTime>& got, const QString& expected) {
            const QDateTime local(date, QTime::fromString(expected, QStringLiteral("hh:mm")), tz);
            return expected == QLatin1String("-") ? !got : got && std::abs(got->secsTo(local)) <= 120;
        };
        QVERIFY(near(sun.rise, f[4]) && near(sun.set, f[5]));
        QCOMPARE(sun.polarDay, f[4] == QLatin1String("-") && date.month() == 6);
    }

    // Whether a moment lies in the active hours (the next start is then the moment itself) and when they
    // next open, as far as the expected text goes; windows that make no sense are refused, for always.
    void activeWindow_data() {
        QTest::addColumn<QString>("settings"); // in UPDATE
        QTest::addColumn<QString>("moment");
        QTest::addColumn<QString>("next"); // or "refused"
        const auto row = [](const char* settings, const char* moment, const char* next) {
            QTest::newRow(qPrintable(QStringLiteral("%1 at %2").arg(settings, moment)))
                << settings << moment << next;
        };
        row("FROM=08:00 TO=18:30", "2026-05-01T12:00Z", "2026-05-01T12:00");
        row("FROM=08:00 TO=18:30", "2026-05-01T18:30Z", "2026-05-02T08:00");
        row("FROM=22:00 TO=6:00", "2026-05-01T03:00Z", "2026-05-01T03:00");
        row("FROM=22:00 TO=6:00", "2026-05-01T15:00Z", "2026-05-01T22:00");
        row("", "2026-05-01T15:00Z", "2026-05-01T15:00");
        row("FROM=08:00 TO=8:00", "2026-05-01T15:00Z", "refused");
        row("FROM=08:00", "2026-05-01T15:00Z", "refused");
        // Tromso: in polar night the window opens when the sun is back, in the middle of January.
        const char* tromso = "SUN=1 LAT=69.6492 LON=18.9553 SUNOFFSET=-30";
        row(tromso, "2026-12-21T12:00+01:00", "2027-01-1");
        row(tromso, "2026-06-21T01:00+02:00", "2026-06-21T01:00");
        row("SUN=1 LAT=91 LON=0", "2026-05-01T15:00Z", "refused");
        row("SUN=1 LAT=69.6492 LON=18.9553 SUNOFFSET=1440", "2026-05-01T15:00Z", "refused");
    }
    void activeWindow() {
        QFETCH(QString, settings);
        QFETCH(QString, moment);
        QFETCH(QString, next);
        TempStore store;
        for (const QString& s : settings.split(u' ', Qt::SkipEmptyParts))
            store.set("UPDATE", s.section(u'=', 0, 0), s.section(u'=', 1));
        QString refusal;
        const ActiveHours hours = ActiveHours::FromSettings(&refusal);
        QCOMPARE(refusal.isEmpty(), next != QLatin1String("refused"));
        const QDateTime at = QDateTime::fromString(moment, Qt::ISODate);
        const QDateTime got = hours.nextStart(at);
        QCOMPARE(hours.contains(at), got == at);
        QVERIFY2(refusal.isEmpty() ? got.toString(Qt::ISODate).startsWith(next) : hours.always(),
                 qPrintable(got.toString(Qt::ISODate)));
    }

    void reads_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("hex lower case, no trailing &") << "&hff" << 255.0;
        QTest::newRow("hex sign bit") << "&H80000000&" << -2147483648.0;
        QTest::newRow("hex stops at non-digit") << "&H1G" << 1.0;
        QTest::newRow("hex without digits") << "&H" << 0.0;
        QTest::newRow("blanks, tabs, line feeds anywhere") << "  1 2\t3\n" << 123.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("sign alone") << "-" << 0.0;
        QTest::newRow("negative") << "-16" << -16.0;
        QTest::newRow("leading point") << ".5" << 0.5;
        QTest::newRow("comma is no separator") << "2,5" << 2.0;
        QTest::newRow("exponent E") << "1.5E3" << 1500.0;
        QTest::newRow("exponent D, negative") << "25d-1" << 2.5;
        QTest::newRow("exponent sign without digits") << "4e+" << 4.0;
        QTest::newRow("second point stops") << "1.2.3" << 1.2;
        QTest::newRow("tiny exponent") << "1e-400" << 0.0;
    }
    void reads() {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(LeadingNumber(text), expected);
    }

    void integerConversion_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("int16");    // -99999 = overflow
        QTest::addColumn<qint64>("int32"); // -9999999999 = overflow
        QTest::newRow("2.5 to even") << 2.5 << 2 << qint64(2);
        QTest::newRow("3.5 to even") << 3.5 << 4 << qint64(4);
        QTest::newRow("16-bit top rounds over") << 32767.5 << -99999 << qint64(32768);
        QTest::newRow("16-bit bottom half to even") << -32768.5 << -32768 << qint64(-32768);
        QTest::newRow("16-bit underflow") << -32769.0 << -99999 << qint64(-32769);
        QTest::newRow("32-bit top") << 2147483647.0 << -99999 << qint64(2147483647);
        QTest::newRow("32-bit overflow") << 2147483648.0 << -99999 << qint64(-9999999999);
        QTest::newRow("32-bit bottom") << -2147483648.0 << -99999 << qint64(-2147483648LL);
        QTest::newRow("nine hex digits are not wrapped")
            << LeadingNumber(u"&H1FFFFFFFF") << -99999 << -9999999999LL;
        QTest::newRow("huge exponent") << LeadingNumber(u"1e400") << -99999 << -9999999999LL;
    }
    void integerConversion() {
        QFETCH(double, value);
        QFETCH(int, int16);
        QFETCH(qint64, int32);
        const auto a = ToInt16(value);
        QCOMPARE(a ? int(*a) : -99999, int16);
        const auto b = ToInt32(value);
        QCOMPARE(b ? qint64(*b) : -9999999999LL, int32);
    }
};

QTEST_GUILESS_MAIN(TestScheduler)
#include "test_scheduler.moc"
