#include "core/leading_number.h"

#include <QTest>

using namespace zantrel;

class TestLeadingNumber : public QObject {
    Q_OBJECT
  private Q_SLOTS:
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

QTEST_GUILESS_MAIN(TestLeadingNumber)
#include "test_leading_number.moc"
