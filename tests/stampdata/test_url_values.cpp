#include "core/setting_keys.h"
#include "core/store.h"
#include "publish/stamp_inputs.h"
#include "stampdata/url_values.h"
#include "support/ftp_test_servers.h"
#include "support/temp_store.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>
#include <mutex>

using namespace zantrel;
using namespace std::chrono_literals;

class TestUrlValues : public QObject {
    Q_OBJECT

  private:
    QProcess server_;
    quint16 port_ = 0;
    QString at(const char* path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(QLatin1String(path));
    }

  private Q_SLOTS:
    void initTestCase() {
        port_ = test::startPython(server_, {QStringLiteral(ZANTREL_TEST_DATA_DIR "/stamp_value_server.py")});
        QVERIFY(port_ != 0);
    }
    void cleanupTestCase() {
        server_.kill();
        server_.waitForFinished(5000);
    }

    // An answer is kept; a slow server, a redirect, an error or another scheme give a reason instead,
    // within the time allowed; a huge answer is read only as far as 64 KB.
    void fetchesWithinBounds() {
        FetchedValue v = FetchStampValue(at("/now.json"), 2s);
        QVERIFY2(v.problem.isEmpty(), qPrintable(v.problem));
        QVERIFY(v.fetched.isValid() && v.body.contains("21.4"));
        QElapsedTimer clock;
        clock.start();
        v = FetchStampValue(at("/slow"), 500ms);
        QVERIFY(!v.fetched.isValid() && v.problem.contains(QStringLiteral("Timeout")));
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY(FetchStampValue(at("/moved"), 2s).problem.contains(QStringLiteral("redirect")));
        QVERIFY(FetchStampValue(at("/gone"), 2s).problem.contains(QStringLiteral("HTTP 404")));
        QVERIFY(!FetchStampValue(QStringLiteral("file:///etc/hostname"), 2s).fetched.isValid());
        v = FetchStampValue(at("/big"), 5s);
        QCOMPARE(v.body.size(), kStampValueBytes);
        QVERIFY(v.body.startsWith("first line\n"));
        QCOMPARE(StampTextAddresses(QStringLiteral("{url:http://a/x#/t} {url:http://a/x#/u} {url:http://b}")),
                 (QStringList{"http://a/x", "http://b"}));
    }

    // The fetcher works on its own thread: a job stamps at once with the last answers, even while a
    // transfer hangs, and a value never fetched prints "--". What a value holds prints as it stands,
    // never taken for a code.
    void jobsNeverWaitOnTheNetwork() {
        test::TempStore store;
        StampInputs inputs;
        StampUrlFetcher::Options options;
        options.interval = [] { return 50ms; };
        options.timeout = 2s;
        const QString text = QStringLiteral("{url:%1#/outTemp} {url:%2} {url:%3#/x} {url:%1#/note}")
                                 .arg(at("/now.json"), at("/text"), at("/slow"));
        options.text = [text] { return text; };
        StampUrlFetcher fetcher(inputs, options);
        QTRY_VERIFY_WITH_TIMEOUT(fetcher.rounds() >= 1, 10000);
        QTest::qWait(200); // the next round is inside the slow transfer now
        LiveValues::Values live;
        StampParams stamp;
        stamp.text = true;
        stamp.freeText = text;
        QElapsedTimer clock;
        clock.start();
        const QStringList news = inputs.prepare(stamp, live, 480, QDateTime::currentDateTime());
        QVERIFY(clock.elapsed() < 500);
        QCOMPARE(StampTextLines(stamp), QStringList{QStringLiteral("21.4 calm -- &date %Y {host}")});
        QCOMPARE(news.size(), 1);
        QVERIFY2(news.first().contains(QStringLiteral("/slow")), qPrintable(news.first()));
    }

    // Rounds are IMAGE/URLINTERVAL apart, held within 5 s and an hour; an address the text names anew
    // is fetched at once, not an interval later.
    void intervalFollowsTheSettings() {
        test::TempStore store;
        for (const auto& [stored, seconds] : {std::pair{"1", 5}, {"90", 90}, {"100000", 3600}, {"x", 60}}) {
            SaveSetting(keys::ImageUrlInterval, QString::fromLatin1(stored));
            QCOMPARE(StampUrlInterval(), std::chrono::seconds(seconds));
        }
        SaveSetting(keys::ImageUrlInterval, QStringLiteral("3600"));
        std::mutex mutex;
        QString text = QStringLiteral("{url:%1}").arg(at("/text"));
        StampInputs inputs;
        StampUrlFetcher::Options options;
        options.text = [&] {
            std::lock_guard lock(mutex);
            return text;
        };
        StampUrlFetcher fetcher(inputs, options);
        QTRY_VERIFY_WITH_TIMEOUT(fetcher.rounds() == 1, 10000);
        {
            std::lock_guard lock(mutex);
            text += QStringLiteral(" {url:%1#/outTemp}").arg(at("/now.json"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(fetcher.rounds() == 2, 10000);
        QVERIFY(fetcher.lookup(at("/now.json")).value().fetched.isValid());
    }
};

QTEST_GUILESS_MAIN(TestUrlValues)
#include "test_url_values.moc"
