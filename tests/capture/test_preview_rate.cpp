#include "capture/preview_rate.h"
#include "core/store.h"
#include "support/temp_store.h"

#include <QtTest>

using namespace zantrel;

class TestPreviewRate : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void intervalFromStoredRate_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("framesPerSecond");
        QTest::addColumn<int>("intervalMs");
        QTest::newRow("missing: twelve") << QString() << 12 << 83;
        QTest::newRow("zero") << "0" << 0 << 0;
        QTest::newRow("empty") << "" << 0 << 0;
        QTest::newRow("not a number") << "abc" << 0 << 0;
        QTest::newRow("negative") << "-5" << -5 << 0;
        QTest::newRow("seven") << "7" << 7 << 143;
        QTest::newRow("twelve") << "12" << 12 << 83;
        QTest::newRow("thirty") << "30" << 30 << 33;
        QTest::newRow("fraction rounds half to even") << "2.5" << 2 << 500;
        QTest::newRow("overflow reads as the default") << "70000" << 12 << 83;
        QTest::newRow("one") << "1" << 1 << 1000;
        QTest::newRow("fast") << "1000" << 1000 << 1;
        QTest::newRow("faster than a millisecond") << "3000" << 3000 << 0;
    }
    void intervalFromStoredRate() {
        QFETCH(QString, stored);
        QFETCH(int, framesPerSecond);
        QFETCH(int, intervalMs);
        test::TempStore store;
        if (!stored.isNull())
            SaveSetting(keys::PrefPreviewRate, stored);
        QCOMPARE(ReadPreviewRate(), framesPerSecond);
        QCOMPARE(PreviewIntervalMs(ReadPreviewRate()), intervalMs);
    }
};

QTEST_GUILESS_MAIN(TestPreviewRate)
#include "test_preview_rate.moc"
