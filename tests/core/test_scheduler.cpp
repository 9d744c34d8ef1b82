// The core's plain logic: the schedule, active hours and leading numbers; and the settings store, as the
// user and another process see it.
#include "core/active_hours.h"
#include "core/clock.h"
#include "core/leading_number.h"
#include "core/scheduler.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "support/ftp_test_files.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <sys/stat.h>

using namespace zantrel;
using namespace zantrel::test;

Q_DECLARE_METATYPE(zantrel::NextUpdate)

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}
NextUpdate nu(int y, int mo, int d, int h, int mi, int s) {
    return NextUpdate{std::int16_t(y), std::int16_t(mo), std::int16_t(d),
                      std::int16_t(h), std::int16_t(mi), std::int16_t(s)};
}

// Runs a Python script on the store file from another process; returns what it printed.
QString python(const QString& script, const QString& path) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"), "import configparser,sys\n" + script, path});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 07777;
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

    // Text comes back as stored, and a value typed by hand with a comma and no quotes as it was typed.
    void roundTripsTextAsStored() {
        TempStore store;
        QVERIFY(writeFile(store.storePath(), "[IMAGE]\nTEXTSTRING=Garden, north side\nFILENAME=a,b.jpg\n"));
        QCOMPARE(GetSetting(keys::ImageTextString, QString()), QStringLiteral("Garden, north side"));
        QCOMPARE(GetSetting(keys::ImageFileName), QStringLiteral("a,b.jpg"));
        const QStringList values = {"",          "with, comma", "@at start", "Grüße \"quoted\" ; # = [x]",
                                    "C:\\cam\\", "  padded  "};
        for (int i = 0; i < values.size(); ++i)
            QVERIFY(SaveSetting(QStringLiteral("IMAGE"), QStringLiteral("K%1").arg(i), values[i]));
        SettingsStore::instance().open(store.storePath()); // read back from disk, not from memory
        for (int i = 0; i < values.size(); ++i)
            QCOMPARE(GetSetting(QStringLiteral("IMAGE"), QStringLiteral("K%1").arg(i), "absent"), values[i]);
    }

    // The count of servers stops at the last entry that has any key, and at 1000.
    void serverCountIsBounded_data() {
        QTest::addColumn<QString>("servers");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<int>("count");
        const QStringList two{QStringLiteral("ADDRESS00001"), QStringLiteral("PORT00002")};
        QTest::newRow("largest count, two entries") << "2147483647" << two << 2;
        QTest::newRow("beyond 32 bits") << "1e400" << two << 0;
        QTest::newRow("count below the entries") << "1" << two << 1;
        QTest::newRow("a gap is still walked") << "5" << QStringList{"URL00001", "KEYFILE00003"} << 3;
        QTest::newRow("no entries") << "3" << QStringList{} << 0;
        QTest::newRow("negative") << "-1" << two << 0;
        QTest::newRow("unpadded keys are no entry") << "9" << QStringList{"ADDRESS1", "PORT0002"} << 0;
        QTest::newRow("far keys") << "2147483647"
                                  << QStringList{"ADDRESS01000", "PASSWORD01001", "ADDRESS2000000000"}
                                  << 1000;
    }
    void serverCountIsBounded() {
        QFETCH(QString, servers);
        QFETCH(QStringList, keys);
        QFETCH(int, count);
        TempStore store;
        SaveSetting(keys::FtpServers, servers);
        for (const QString& key : keys)
            store.set("FTP", key, QStringLiteral("x"));
        QCOMPARE(ServerEntryCount(), count);
    }

    // Overflow at a reader's width gives the key's default, never a wrapped number. An entry's fields
    // under their five-digit keys; a port that is no TCP port falls back to 21.
    void readersOfNumbersAndEntries() {
        TempStore store;
        SaveSetting(keys::PrefPreviewRate, QStringLiteral("40000"));
        QCOMPARE(ReadInt16(keys::PrefPreviewRate), std::int16_t(12));
        SaveSetting(keys::VfwIndex, QStringLiteral("&HFFFFFFFF"));
        QCOMPARE(ReadInt32(keys::VfwIndex), -1);
        const QStringList fields{"ADDRESS=ftp.example.org", "PORT=40000",   "LOGIN=cam",
                                 "PASSWORD=s3cret",         "URL=/pub/cam", "PASSIVE=1"};
        for (const QString& field : fields)
            store.set("FTP", field.section('=', 0, 0) + "00002", field.section('=', 1));
        const ServerEntry e = ReadServerEntry(2);
        QCOMPARE((QStringList{e.address, e.login, e.password, e.directory}),
                 (QStringList{"ftp.example.org", "cam", "s3cret", "/pub/cam"}));
        QVERIFY(e.port == 40000 && e.passive);
        QVERIFY(ReadServerEntry(1).port == 21 && !ReadServerEntry(1).passive);
        for (const QString& port : {QStringLiteral("port"), QStringLiteral("70000")}) {
            store.set("FTP", QStringLiteral("PORT00001"), port);
            QCOMPARE(ReadServerEntry(1).port, 21);
        }
    }

    void fileIsOwnerOnlyAndWrittenThrough() {
        TempStore store;
        QVERIFY(SaveSetting(keys::PrefPassword, QStringLiteral("hunter2")));
        QCOMPARE(modeOf(store.storePath()), mode_t(0600));
        // Another process sees the value as soon as SaveSetting has returned...
        QCOMPARE(python("c=configparser.RawConfigParser(); c.optionxform=str; c.read(sys.argv[1])\n"
                        "print(c['PREF']['PASSWORD'], end='')",
                        store.storePath()),
                 QStringLiteral("hunter2"));
        // ...and a change made by another process is seen by the next read.
        python("open(sys.argv[1],'a').write('\\n[UPDATE]\\nPARTI=45\\n')", store.storePath());
        QCOMPARE(ReadInt16(keys::UpdatePartI), std::int16_t(45));
        QCOMPARE(GetSetting(keys::PrefPassword), QStringLiteral("hunter2"));
    }

    void corruptFileIsKeptAsideAndDefaultsApply() {
        TempStore store;
        const QString path = store.storePath();
        const QByteArray garbage("[PREF\nARUN=1\n\x01\x02 not an ini file ]]]\n[=\n");
        QVERIFY(writeFile(path, garbage));
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadOther);
        SettingsStore::instance().open(path);
        QCOMPARE(GetSetting(keys::PrefAutoRun), QStringLiteral("0"));
        QVERIFY(SaveSetting(keys::PrefAutoRun, QStringLiteral("1")));
        const QStringList aside =
            QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral("KALDOR.ini.unreadable-*")});
        QCOMPARE(aside.size(), 1);
        const QString asidePath = QFileInfo(path).absolutePath() + QLatin1Char('/') + aside.first();
        QCOMPARE(readFile(asidePath), garbage);
        QCOMPARE(modeOf(asidePath), mode_t(0600));
    }

    // A new settings folder is the owner's alone whatever the umask. A folder where the file should be
    // (unreadable as a file even for root) leaves the defaults.
    void newFolderIsOwnerOnlyAndAnUnreadableFileGivesDefaults() {
        TempStore store;
        const QString path = store.dir() + QStringLiteral("/fresh/KALDOR/KALDOR.ini");
        const mode_t previous = ::umask(0);
        SettingsStore::instance().open(path);
        ::umask(previous);
        QVERIFY(modeOf(store.dir() + "/fresh") == 0700 && modeOf(store.dir() + "/fresh/KALDOR") == 0700);
        QVERIFY(QFile::remove(path) && QDir().mkpath(path));
        SettingsStore::instance().open(path);
        QCOMPARE(GetSetting(keys::ImageFileName), QStringLiteral("webcam.jpg"));
    }
};

QTEST_GUILESS_MAIN(TestScheduler)
#include "test_scheduler.moc"
