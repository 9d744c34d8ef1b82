#include "capture/preview_rate.h"
#include "core/store.h"
#include "support/temp_store.h"

#include <QtTest>

using namespace zantrel;

class TestPreviewRate : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // The stored rate, the interval between preview frames and the limit the pipeline gets (0: none).
    void rateFromStoreToPipeline_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("intervalMs");
        QTest::addColumn<int>("pipelineRate");
        QTest::newRow("missing: twelve") << QString() << 83 << 12;
        QTest::newRow("zero: unlimited") << "0" << 0 << 0;
        QTest::newRow("negative: unlimited") << "-5" << 0 << 0;
        QTest::newRow("one a second stays limited") << "1" << 1000 << 1;
        QTest::newRow("seven") << "7" << 143 << 7;
        QTest::newRow("fast") << "1000" << 1 << 1000;
        QTest::newRow("faster than a millisecond") << "3000" << 0 << 0;
    }
    void rateFromStoreToPipeline() {
        QFETCH(QString, stored);
        QFETCH(int, intervalMs);
        QFETCH(int, pipelineRate);
        test::TempStore store;
        if (!stored.isNull())
            SaveSetting(keys::PrefPreviewRate, stored);
        const int interval = PreviewIntervalMs(ReadPreviewRate());
        QCOMPARE(interval, intervalMs);
        QCOMPARE(PipelineRate(interval), pipelineRate);
    }
};

QTEST_GUILESS_MAIN(TestPreviewRate)
#include "test_preview_rate.moc"
