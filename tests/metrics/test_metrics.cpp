// /metrics of a running `--headless` behind a login, after failed and successful jobs: promtool takes the
// text, and a real Prometheus server scrapes it with the login, its query API giving back the job counter
// rising and a target's name with quotes and a backslash as it is.
#include "metrics/exposition.h"
#include "support/ftp_test_servers.h"
#include "support/temp_store.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace zantrel::test;

namespace {

// The value of a sample line of text that starts with series (-1 when none).
double sampleOf(const QByteArray& text, const QByteArray& series) {
    for (const QByteArray& line : text.split('\n'))
        if (line.startsWith(series + ' '))
            return line.mid(series.size() + 1).toDouble();
    return -1;
}

} // namespace

class TestMetrics : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void scrapedByPrometheus() {
        QCOMPARE(zantrel::Exposition::escapeLabelValue(QStringLiteral("a\"b\\c\nd")),
                 QByteArray(R"(a\"b\\c\nd)"));
        ProgramHome home;
        const quint16 port = closedPort();
        home.writeSettings("[UPDATE]\nPARTI=1\nUNITI=3\n[HTTP]\nENABLE=1\nUSER=scraper\nPASSWORD=pw\nPORT=" +
                           QByteArray::number(port) + "\n[IMAGE]\nSAVEACOPY=1\n[FTP]\nUPLOAD=1\nSERVERS=1\n");
        const QString ini = home.path() + QStringLiteral("/KALDOR/KALDOR.ini");
        const QString odd = QStringLiteral("file://localhost%1/no \"such\" \\folder").arg(home.path());
        const QString archive = home.path() + QStringLiteral("/archive");
        QVERIFY(QDir().mkpath(archive));
        {
            QSettings s(ini, QSettings::IniFormat); // a login in the address, quotes and a backslash
            s.setValue(QStringLiteral("FTP/ADDRESS00001"),
                       QString(odd).insert(7, QStringLiteral("cam:SECRET@")));
            s.setValue(QStringLiteral("IMAGE/PATH"), archive);
        }
        QProcess program;
        home.prepare(program);
        QProcessEnvironment e = program.processEnvironment();
        e.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        program.setProcessEnvironment(e);
        program.start(program.program(), {QStringLiteral("--headless")});
        const QString curl = QStringLiteral("curl -s -u scraper:pw http://127.0.0.1:%1/metrics").arg(port);
        QTRY_VERIFY_WITH_TIMEOUT(sampleOf(sh(curl), R"(webcam_zantrel_jobs_total{result="failure"})") >= 2,
                                 60000); // a first start of the camera may be slow
        // The server can be reached now: the jobs succeed.
        QSettings(ini, QSettings::IniFormat)
            .setValue(QStringLiteral("FTP/ADDRESS00001"), QUrl::fromLocalFile(archive).toString());
        QTRY_VERIFY_WITH_TIMEOUT(sampleOf(sh(curl), R"(webcam_zantrel_jobs_total{result="success"})") >= 2,
                                 30000);
        QTRY_VERIFY_WITH_TIMEOUT(sampleOf(sh(curl), "webcam_zantrel_archive_files") > 0, 20000);
        const QByteArray text = sh(curl);
        // No login shows; the camera runs; the deliveries were timed.
        QVERIFY2(!text.contains("SECRET") && sampleOf(text, "webcam_zantrel_camera_up") == 1 &&
                     text.contains("webcam_zantrel_delivery_seconds_count{"),
                 text.constData());
        QCOMPARE(sh(QStringLiteral("curl -s -w %{http_code} -o /dev/null 127.0.0.1:%1/metrics").arg(port)),
                 "401");

        QProcess promtool;
        promtool.setProcessChannelMode(QProcess::MergedChannels);
        promtool.start(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")});
        promtool.write(text);
        promtool.closeWriteChannel();
        QVERIFY(promtool.waitForFinished(20000));
        QVERIFY2(promtool.exitCode() == 0, promtool.readAll().constData());

        QTemporaryDir dir;
        QFile config(dir.filePath(QStringLiteral("prometheus.yml")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("global: {scrape_interval: 1s}\nscrape_configs:\n- job_name: cam\n"
                     "  basic_auth: {username: scraper, password: pw}\n"
                     "  static_configs: [{targets: ['127.0.0.1:" +
                     QByteArray::number(port) + "']}]\n");
        config.close();
        QProcess prometheus;
        const quint16 api = closedPort();
        prometheus.start(QStringLiteral("prometheus"),
                         {QStringLiteral("--config.file=") + config.fileName(),
                          QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("data")),
                          QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(api)});
        QVERIFY(prometheus.waitForStarted());
        const auto query = [api](const char* expression) -> const QJsonObject {
            const QJsonArray found = QJsonDocument::fromJson(sh(
                QStringLiteral("curl -s -G http://127.0.0.1:%1/api/v1/query --data-urlencode 'query=%2'")
                    .arg(api)
                    .arg(QLatin1String(expression))))["data"]["result"]
                                         .toArray();
            return found.isEmpty() ? QJsonObject() : found[0].toObject();
        };
        const auto jobs = [&] {
            return query(R"(webcam_zantrel_jobs_total{result="success"})")["value"][1].toString().toDouble();
        };
        QTRY_VERIFY_WITH_TIMEOUT(jobs() >= 2, 60000);
        const double first = jobs();
        QTRY_VERIFY_WITH_TIMEOUT(jobs() > first, 30000);
        QCOMPARE(
            query(R"(webcam_zantrel_deliveries_total{result="failed"} > 0)")["metric"]["target"].toString(),
            odd);
        prometheus.terminate();
        prometheus.waitForFinished(10000);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestMetrics)
#include "test_metrics.moc"
