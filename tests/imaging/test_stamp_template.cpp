#include "imaging/stamp_template.h"

#include <QTimeZone>
#include <QtTest>

using namespace zantrel;

namespace {

StampTemplateContext at(const QDateTime& now) {
    StampTemplateContext c;
    c.now = now;
    c.locale = QLocale(QLocale::English, QLocale::UnitedKingdom);
    c.host = QStringLiteral("mast");
    c.instance = QStringLiteral("default");
    c.value = [](const QString& kind, const QString& argument) -> std::optional<QString> {
        if (argument == QLatin1String("missing"))
            return std::nullopt;
        return kind + QLatin1Char('=') + argument;
    };
    return c;
}

const QDateTime kMoment(QDate(2024, 3, 5), QTime(7, 8, 9), QTimeZone::utc());

} // namespace

class TestStampTemplate : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void expandsCodes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("printed");
        QTest::newRow("date and time") << "%Y-%m-%d %H:%M:%S"
                                       << "2024-03-05 07:08:09";
        QTest::newRow("names") << "%a %A %b %B"
                               << "Tue Tuesday Mar March";
        QTest::newRow("day of year, zone, percent") << "%j %Z 100%%"
                                                    << "065 UTC 100%";
        QTest::newRow("host, instance") << "{host}/{instance}"
                                        << "mast/default";
        QTest::newRow("values") << "{file:/a#2} {json:/b#/t} {url:http://x/y}"
                                << "file=/a#2 json=/b#/t url=http://x/y";
        QTest::newRow("a value that cannot be read") << "T {json:missing} C"
                                                     << "T -- C";
        QTest::newRow("lines") << "one\\ntwo"
                               << "one\ntwo";
        QTest::newRow("unknown codes as they stand") << "{wind} %q {file {x:y} 5% \\t"
                                                     << "{wind} %q {file {x:y} 5% \\t";
        QTest::newRow("no place: no sun") << "{sunrise}-{sunset}"
                                          << "-----";
    }
    void expandsCodes() {
        QFETCH(QString, text);
        QFETCH(QString, printed);
        QCOMPARE(ExpandStampTemplate(text, at(kMoment)), printed);
    }

    // On the equator at the prime meridian the sun rises near 06:0x and sets near 18:1x UTC all year.
    void sunTimesFollowThePlace() {
        StampTemplateContext c = at(kMoment);
        c.latitude = 0;
        c.longitude = 0;
        const QString sun = ExpandStampTemplate(QStringLiteral("{sunrise} {sunset}"), c);
        QVERIFY2(QRegularExpression(QStringLiteral("^06:\\d\\d 18:\\d\\d$")).match(sun).hasMatch(),
                 qPrintable(sun));
        c.longitude = 90; // a quarter of the world east: six hours earlier
        QVERIFY(ExpandStampTemplate(QStringLiteral("{sunrise}"), c).startsWith(QStringLiteral("00:")));
    }

    // A template that would print thousands of characters is cut; lines lose their control characters.
    void longOrDirtyTextIsBounded() {
        StampTemplateContext c = at(kMoment);
        c.value = [](const QString&, const QString&) -> std::optional<QString> { return QString(900, 'x'); };
        QCOMPARE(ExpandStampTemplate(QStringLiteral("{file:a}{file:b}{file:c}{file:d}"), c).size(),
                 kMaxStampTextChars);
        QCOMPARE(StampTemplateLines(QStringLiteral("a\tb\x07\nc\r")), (QStringList{"ab", "c"}));
    }

    void findsJsonValues_data() {
        QTest::addColumn<QString>("pointer");
        QTest::addColumn<QString>("value"); // "(none)" for nothing
        QTest::newRow("number") << "/outTemp"
                                << "21.4";
        QTest::newRow("nested, string") << "/wind/dir"
                                        << "NW";
        QTest::newRow("array") << "/rain/1"
                               << "0.2";
        QTest::newRow("escaped names") << "/a~1b/c~0d"
                                       << "true";
        QTest::newRow("null") << "/gone"
                              << "null";
        QTest::newRow("whole object") << "/wind"
                                      << R"({"dir":"NW"})";
        QTest::newRow("missing member") << "/inTemp"
                                        << "(none)";
        QTest::newRow("index past the end") << "/rain/5"
                                            << "(none)";
        QTest::newRow("into a number") << "/outTemp/x"
                                       << "(none)";
        QTest::newRow("no leading slash") << "outTemp"
                                          << "(none)";
    }
    void findsJsonValues() {
        QFETCH(QString, pointer);
        QFETCH(QString, value);
        const QByteArray doc =
            R"({"outTemp": 21.4, "wind": {"dir": "NW"}, "rain": [0, 0.2], "a/b": {"c~d": true}, "gone": null})";
        QCOMPARE(JsonPointerValue(doc, pointer).value_or(QStringLiteral("(none)")), value);
        QVERIFY(!JsonPointerValue("{\"outTemp\": 21.4", QStringLiteral("/outTemp")));
    }

    void readsTextLinesAndAddresses() {
        const QByteArray text = "first\r\nsecond\nthird\n";
        QCOMPARE(TextLine(text, 1).value_or("(none)"), QStringLiteral("first"));
        QCOMPARE(TextLine(text, 3).value_or("(none)"), QStringLiteral("third"));
        QVERIFY(!TextLine(text, 4));
        QVERIFY(!TextLine(QByteArray("ab\0cd", 5), 1));
        QVERIFY(!TextLine("\xff\xfe", 1));
        const StampValueAddress line = ParseStampValueAddress(QStringLiteral("/w/now.txt#3"), false);
        QCOMPARE(line.path, QStringLiteral("/w/now.txt"));
        QCOMPARE(line.line, 3);
        QCOMPARE(ParseStampValueAddress(QStringLiteral("/w/a#b.txt"), false).path,
                 QStringLiteral("/w/a#b.txt"));
        const StampValueAddress json = ParseStampValueAddress(QStringLiteral("http://h/x.json#/a/0"), true);
        QCOMPARE(json.path, QStringLiteral("http://h/x.json"));
        QCOMPARE(json.pointer, QStringLiteral("/a/0"));
    }
};

QTEST_APPLESS_MAIN(TestStampTemplate)
#include "test_stamp_template.moc"
