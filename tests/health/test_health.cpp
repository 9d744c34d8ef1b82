// The health monitor against real servers started here: an FTP server whose login fails and then works,
// a hook and a mail server (STARTTLS and login required) that record what they receive, and the state
// document `--status` reads.
#include "core/setting_keys.h"
#include "core/store.h"
#include "health/alert_delivery.h"
#include "health/desktop_notice.h"
#include "health/health_monitor.h"
#include "health/state_document.h"
#include "publish/job_runner.h"
#include "publish/live_values.h"
#include "support/ftp_test_servers.h"
#include "support/message_recorder.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"
#include "transfer/ftp_client.h"
#include "transfer/secure_channel.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

using namespace zantrel;
using namespace zantrel::test;

namespace {

// tests/data/alert_servers.py: what reached the hook and the mail server, one file each.
class AlertServers {
  public:
    // flaky: the hook and the mail server refuse their first so many deliveries.
    explicit AlertServers(int flaky = 0) {
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(ZANTREL_TEST_DATA_DIR "/alert_servers.py"), QStringLiteral("--dir"),
                        dir_.path(), QStringLiteral("--flaky"), QString::number(flaky)});
        if (process_.waitForReadyRead(20000)) {
            const QList<QByteArray> ready = process_.readLine().trimmed().split(' ');
            if (ready.size() == 3 && ready[0] == "READY")
                hookPort_ = ready[1].toUShort(), smtpPort_ = ready[2].toUShort();
        }
    }
    ~AlertServers() { process_.close(); }
    quint16 hookPort() const { return hookPort_; }
    // The alert settings pointing at both, mail login cam with this password.
    void useAll(const QString& mailPassword) const {
        SaveSetting(keys::AlertUrl, QStringLiteral("http://127.0.0.1:%1/hook").arg(hookPort_));
        SaveSetting(keys::AlertMailTo, QStringLiteral("keeper@example.org"));
        SaveSetting(keys::AlertSmtp, QStringLiteral("smtp://127.0.0.1:%1").arg(smtpPort_));
        SaveSetting(keys::AlertSmtpLogin, QStringLiteral("cam"));
        SaveSetting(keys::AlertSmtpPassword, mailPassword);
    }
    quint16 smtpPort() const { return smtpPort_; }
    QString caFile() const { return dir_.filePath(QStringLiteral("cert.pem")); }
    QList<QByteArray> received(const QString& pattern) const {
        QList<QByteArray> all;
        for (const QString& name : QDir(dir_.path()).entryList({pattern}, QDir::Files, QDir::Name)) {
            QFile f(dir_.filePath(name));
            all << (f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
        }
        return all;
    }

  private:
    QTemporaryDir dir_;
    QProcess process_;
    quint16 hookPort_ = 0, smtpPort_ = 0;
};

// What Python's mail parser finds wrong with a mail: defects, a missing or malformed Message-ID, a Date
// it cannot read or far from now; empty when nothing.
QString mailProblems(const QByteArray& mail) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import datetime, email, email.policy, email.utils, re, sys
m = email.message_from_bytes(sys.stdin.buffer.read(), policy=email.policy.default)
problems = [type(d).__name__ for part in m.walk() for d in part.defects]
if not re.fullmatch(r"<[^<>@\s]+@[^<>@\s]+>", str(m.get("Message-ID", ""))):
    problems.append("Message-ID %r" % m.get("Message-ID"))
try:
    sent = email.utils.parsedate_to_datetime(str(m["Date"]))
    if abs((sent - datetime.datetime.now(datetime.timezone.utc)).total_seconds()) > 600:
        problems.append("Date %s" % m["Date"])
except Exception:
    problems.append("Date %r" % m.get("Date"))
print(" ".join(problems))
)")});
    python.write(mail);
    python.closeWriteChannel();
    python.waitForFinished(20000);
    return QString::fromUtf8(python.readAllStandardOutput() + python.readAllStandardError()).trimmed();
}

// A private session bus for the test process, without a notification server.
class PrivateSessionBus {
  public:
    PrivateSessionBus() {
        daemon_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                      QStringLiteral("--print-address")});
        if (daemon_.waitForReadyRead(10000))
            address_ = daemon_.readLine().trimmed();
    }
    ~PrivateSessionBus() {
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    QByteArray address() const { return address_; }

  private:
    QProcess daemon_;
    QByteArray address_;
};

HealthEvent loginRefused() {
    return {QStringLiteral("failing"),
            QStringLiteral("failing"),
            {},
            {},
            {},
            QStringLiteral("Uploads to ftp.example.org failed: Kämmerer's login refused")};
}

QImage frame() {
    QImage image(64, 48, QImage::Format_RGB888);
    image.fill(Qt::darkGreen);
    return image;
}

} // namespace

class TestHealth : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void serverFailingThenRecovered_data();
    void serverFailingThenRecovered();
    void eventsOnceEach_data();
    void eventsOnceEach();
    void failingIsPerServerEntry();
    void limitsFromSettings();
    void deliveriesTriedAgain();
    void mailToSelfSignedServer();
    void mailTakenByExim();
    void mailWithoutStarttlsRefused();
    void desktopNoticeSaysWhetherShown();
    void hookRefusedOrBounded_data();
    void hookRefusedOrBounded();
};

void TestHealth::serverFailingThenRecovered_data() {
    QTest::addColumn<QString>("mailPassword");
    QTest::addColumn<int>("mails");
    QTest::newRow("mail taken") << "secret" << 2;
    QTest::newRow("mail refused") << "wrong" << 0;
}

// A server that refuses the login four jobs in a row and then takes it: one "failing" after the third
// job and one "recovered" after the fifth, by hook and by mail (the image attached), and `--status`
// says 1 while it fails, 0 after, 2 once the program has ended. A mail server that refuses the login
// is said once, however often it was tried.
void TestHealth::serverFailingThenRecovered() {
    QFETCH(QString, mailPassword);
    QFETCH(int, mails);
    TempStore store;
    PyFtpServer ftpServer;
    VERIFY_FTP_SERVER(ftpServer);
    AlertServers alerts;
    QVERIFY(alerts.hookPort() && alerts.smtpPort());
    // A second entry for the same server, another folder, that works all along: the first fails alone.
    store.useFtpServers(QStringLiteral("2"), {ftpServer.port(), ftpServer.port()});
    SaveSetting(QStringLiteral("FTP"), serverEntryKey(keys::FtpEntryUrl, 2), QStringLiteral("/"));
    const QString password = serverEntryKey(keys::FtpEntryPassword, 1);
    SaveSetting(QStringLiteral("FTP"), password, QStringLiteral("wrong"));
    alerts.useAll(mailPassword);
    SaveSetting(keys::AlertStale, QStringLiteral("600"));
    SaveSetting(keys::AlertDesktop, QStringLiteral("0"));

    StatusRecorder status;
    MessageRecorder messages;
    LiveValues live;
    JobRunner jobs({[](QImage& target) { target = frame(); }, &status, &messages, &live, {}, {}});
    HealthMonitor::Options options;
    options.retryPauses = {std::chrono::milliseconds(200), std::chrono::milliseconds(400)};
    options.tick = std::chrono::milliseconds(100);
    options.mailCaFile = alerts.caFile();
    const QString statePath = store.dir() + QStringLiteral("/run/state.json");
    const auto statusNow = [&statePath] {
        std::FILE* sink = std::fopen("/dev/null", "w");
        const int code = PrintStatus(statePath, sink);
        std::fclose(sink);
        return code;
    };
    {
        HealthMonitor monitor(jobs, nullptr, status, options);
        monitor.keepStateDocument(statePath, [] {
            return QJsonObject{{QStringLiteral("publishing"), true}};
        });
        for (int job = 1; job <= 5; ++job) {
            if (job == 5)
                SaveSetting(QStringLiteral("FTP"), password, QStringLiteral("secret"));
            bool done = false;
            QVERIFY(jobs.start([&done](const PublishOutcome&) { done = true; }));
            QTRY_VERIFY_WITH_TIMEOUT(done, 30000);
            if (job == 3) {
                QTRY_COMPARE_WITH_TIMEOUT(statusNow(), 1, 20000);
                QCOMPARE(QFile::permissions(statePath) & 0x0077, QFile::Permissions()); // owner only
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(alerts.received(QStringLiteral("hook-*.json")).size(), 2, 30000);
        if (mails)
            QTRY_COMPARE_WITH_TIMEOUT(alerts.received(QStringLiteral("mail-*.eml")).size(), mails, 30000);
        else // both events tried three times
            QTest::qWait(3000);
        QTRY_COMPARE_WITH_TIMEOUT(statusNow(), 0, 10000);
        QTest::qWait(1000); // nothing more follows
    }
    QCOMPARE(statusNow(), 2);

    const QList<QByteArray> hooks = alerts.received(QStringLiteral("hook-*.json"));
    QCOMPARE(hooks.size(), 2);
    const QJsonObject failing = QJsonDocument::fromJson(hooks[0]).object();
    const QJsonObject recovered = QJsonDocument::fromJson(hooks[1]).object();
    QCOMPARE(failing[QStringLiteral("event")].toString(), QStringLiteral("failing"));
    QCOMPARE(failing[QStringLiteral("target")].toString(), QStringLiteral("127.0.0.1"));
    QVERIFY(failing[QStringLiteral("last_success")].isNull());
    QCOMPARE(recovered[QStringLiteral("event")].toString(), QStringLiteral("recovered"));
    QCOMPARE(recovered[QStringLiteral("since")], failing[QStringLiteral("since")]);
    for (const char* field : {"message", "host", "program"})
        QVERIFY2(!failing[QLatin1String(field)].toString().isEmpty(), field);

    const QList<QByteArray> mailed = alerts.received(QStringLiteral("mail-*.eml"));
    QCOMPARE(mailed.size(), mails);
    if (mails) {
        QVERIFY(mailed[0].contains("failed 3 times in a row"));
        QVERIFY(mailed[0].contains("Content-Type: image/jpeg"));
        QVERIFY(mailed[1].contains("work again"));
    }
    QCOMPARE(status.texts().filter(QStringLiteral("alert")).size(), mails ? 0 : 1);
}

void TestHealth::eventsOnceEach_data() {
    // Steps at seconds from the start, limits 2 jobs and 60 s: "check S" and "rest S" (on a schedule or
    // not), "ok S" (a job that published), "fail S", "lost S", "full S" (the camera lost, the disk low).
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("events"); // what was sent, "recovered" with the condition it ends
    QTest::newRow("stale once, ends with an image") << "check 30;check 61;check 90;ok 100;check 150"
                                                    << "stale;recovered stale";
    QTest::newRow("a job whose uploads all failed is no image") << "check 30;fail 40;check 61"
                                                                << "stale";
    QTest::newRow("time resting does not count") << "rest 10;rest 500;check 520;check 579"
                                                 << "";
    QTest::newRow("resting then quiet") << "rest 10;check 500;check 561"
                                        << "stale";
    QTest::newRow("failing after two") << "fail 10;ok 20;fail 30;fail 40;fail 50;ok 60"
                                       << "failing;recovered failing";
    QTest::newRow("camera and disk") << "lost 10;lost 20;full 30;full 40;ok 50;ok 60"
                                     << "camera-lost;recovered camera-lost;disk-low;recovered disk-low";
    QTest::newRow("failed uploads publish nothing") << "fail 30;fail 50;check 61"
                                                    << "failing;stale";
    QTest::newRow("the test card publishes nothing") << "lost 30;check 61"
                                                     << "camera-lost;stale";
}

// Each condition is sent once when it begins and once when it ends, however many jobs it lasts.
void TestHealth::eventsOnceEach() {
    QFETCH(QString, steps);
    QFETCH(QString, events);
    const QDateTime start(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    HealthTracker tracker(start);
    const HealthLimits limits{2, std::chrono::seconds(60)};
    QStringList sent;
    for (const QString& step : steps.split(QLatin1Char(';'))) {
        const QString what = step.section(QLatin1Char(' '), 0, 0);
        const QDateTime at = start.addSecs(step.section(QLatin1Char(' '), 1).toInt());
        std::vector<HealthEvent> out;
        if (what == QLatin1String("check") || what == QLatin1String("rest")) {
            out = tracker.check(at, what == QLatin1String("check"), limits);
        } else {
            PublishOutcome o;
            o.workingFileWritten = o.uploadsOn = true;
            o.targets.push_back({1, QStringLiteral("ftp.example.org"), what != QLatin1String("fail"), {}});
            if (what == QLatin1String("lost"))
                o.cameraLostSince = at;
            o.diskLow = what == QLatin1String("full");
            out = tracker.noteOutcome(o, at, limits);
        }
        for (const HealthEvent& e : out)
            sent << (e.event == e.condition ? e.event : e.event + QLatin1Char(' ') + e.condition);
    }
    QCOMPARE(sent.join(QLatin1Char(';')), events);
}

// A real MTA (exim, STARTTLS, login over TLS) takes the mail only with a Message-ID and headers of
// valid syntax.
void TestHealth::mailTakenByExim() {
    if (QStandardPaths::findExecutable(QStringLiteral("exim4"), {QStringLiteral("/usr/sbin")}).isEmpty())
        QSKIP("exim4 is not installed (scripts/setup.sh installs it)");
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                  QFileDevice::WriteOther | QFileDevice::ExeOther));
    const QString cert = dir.filePath(QStringLiteral("cert.pem")),
                  key = dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                                              "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert});
    QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
    QFile::setPermissions(key, QFileDevice::ReadOwner | QFileDevice::ReadOther);
    const quint16 port = closedPort();
    QFile conf(dir.filePath(QStringLiteral("exim.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral(R"(keep_environment =
daemon_smtp_ports = %1
local_interfaces = 127.0.0.1
spool_directory = %2/spool
log_file_path = %2/%s.log
tls_advertise_hosts = *
tls_certificate = %3
tls_privatekey = %4
auth_advertise_hosts = ${if eq{$tls_in_cipher}{}{}{*}}
acl_smtp_rcpt = rcpt
acl_smtp_data = data
begin acl
rcpt:
  deny !authenticated = *
  accept
data:
  deny condition = ${if def:h_Message-ID: {no}{yes}}
  accept verify = header_syntax
begin routers
none:
  driver = redirect
  data = :blackhole:
begin authenticators
plain:
  driver = plaintext
  public_name = PLAIN
  server_prompts = :
  server_condition = ${if and{{eq{$auth2}{cam}}{eq{$auth3}{secret}}}}
  server_set_id = $auth2
)")
                   .arg(port)
                   .arg(dir.path(), cert, key)
                   .toUtf8());
    conf.close();
    QProcess exim;
    exim.start(QStringLiteral("/usr/sbin/exim4"),
               {QStringLiteral("-C"), conf.fileName(), QStringLiteral("-bdf")});
    QTcpSocket probe;
    QTRY_VERIFY_WITH_TIMEOUT(
        (probe.abort(), probe.connectToHost(QHostAddress::LocalHost, port), probe.waitForConnected(200)),
        20000);
    probe.abort();
    QFile pem(cert);
    QVERIFY(pem.open(QIODevice::ReadOnly));
    const MailSettings mail{QStringLiteral("keeper@example.org"),
                            QStringLiteral("smtp://127.0.0.1:%1").arg(port),
                            QStringLiteral("cam"),
                            QStringLiteral("secret"),
                            {},
                            CertificatePin(pem.readAll())};
    const HealthEvent e{QStringLiteral("failing"),
                        QStringLiteral("failing"),
                        {},
                        {},
                        {},
                        QStringLiteral("Uploads to ftp.example.org failed: Kämmerer's login refused")};
    const DeliveryResult r = SendAlertMail(mail, e, QByteArray(3000, 'j'));
    exim.kill();
    exim.waitForFinished(5000);
    QFile log(dir.filePath(QStringLiteral("main.log")));
    QVERIFY2(r.ok,
             qPrintable(r.error + QLatin1Char('\n') +
                        QString::fromUtf8(log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray())));
}

// A plain SMTP server that offers no STARTTLS never sees the login nor the mail.
void TestHealth::mailWithoutStarttlsRefused() {
    const quint16 port = closedPort();
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("aiosmtpd"),
                  QStringLiteral("-n"), QStringLiteral("-l"), QStringLiteral("127.0.0.1:%1").arg(port)});
    QTcpSocket probe;
    QTRY_VERIFY_WITH_TIMEOUT(
        (probe.connectToHost(QHostAddress::LocalHost, port), probe.waitForConnected(200)), 20000);
    probe.abort();
    const MailSettings mail{QStringLiteral("keeper@example.org"),
                            QStringLiteral("smtp://127.0.0.1:%1").arg(port),
                            QStringLiteral("cam"),
                            QStringLiteral("secret"),
                            {}};
    QVERIFY(!SendAlertMail(mail, loginRefused(), "jpeg").ok);
    QTest::qWait(500);
    QVERIFY(!server.readAll().contains("ftp.example.org"));
}

void TestHealth::hookRefusedOrBounded_data() {
    QTest::addColumn<QString>("path"); // appended to the hook server's address; a full URL stands alone
    QTest::addColumn<int>("atLeastMs");
    QTest::newRow("file") << "file:///etc/passwd" << 0;
    QTest::newRow("ftp") << "ftp://127.0.0.1/" << 0;
    QTest::newRow("redirected") << "/moved" << 0;
    QTest::newRow("hangs") << "/hang" << 9000;
}

// Only http and https are contacted; a redirect delivers nothing; a hook that never answers is given up
// after ten seconds.
void TestHealth::hookRefusedOrBounded() {
    QFETCH(QString, path);
    QFETCH(int, atLeastMs);
    AlertServers alerts;
    QVERIFY(alerts.hookPort());
    const QString url = path.contains(QLatin1String("://"))
                            ? path
                            : QStringLiteral("http://127.0.0.1:%1").arg(alerts.hookPort()) + path;
    QElapsedTimer clock;
    clock.start();
    const DeliveryResult r = PostAlert(url, "{}");
    QVERIFY(!r.ok);
    QVERIFY2(!r.error.isEmpty(), "a reason is given");
    QVERIFY(clock.elapsed() >= atLeastMs);
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
}

// Two entries on one host, folders /up and /missing: the failing one is said once, by its folder, and the
// working one neither ends nor restarts it. A single failure in a row reads as one.
void TestHealth::failingIsPerServerEntry() {
    const QDateTime start(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
    HealthTracker tracker(start);
    QStringList sent;
    for (int job = 1; job <= 4; ++job) {
        PublishOutcome o;
        o.workingFileWritten = o.uploadsOn = true;
        const QString host = QStringLiteral("ftp.example.org");
        o.targets.push_back({1, host, true, {}, QStringLiteral("/up"), host + QStringLiteral(" 21 cam /up")});
        o.targets.push_back({2, host, job == 4, job == 4 ? QString() : QStringLiteral("550 No such folder"),
                             QStringLiteral("/missing"), host + QStringLiteral(" 21 cam /missing")});
        for (const HealthEvent& e : tracker.noteOutcome(o, start.addSecs(job * 10), {1, {}}))
            sent << e.event + QLatin1Char(' ') + e.message;
    }
    QCOMPARE(sent,
             (QStringList{"failing Uploads to ftp.example.org (folder /missing) failed: 550 No such folder",
                          "recovered Uploads to ftp.example.org (folder /missing) work again"}));
}

// ALERT/AFTER at least one; ALERT/STALE in minutes, or 0 for three of the schedule's intervals (none for
// a fixed date).
void TestHealth::limitsFromSettings() {
    TempStore store;
    const QDateTime now(QDate(2026, 3, 1), QTime(12, 0, 0, 500));
    for (const auto& [key, value] : {std::pair{keys::UpdateType, "1"},
                                     {keys::UpdatePartI, "2"},
                                     {keys::UpdateUnitI, "2"},
                                     {keys::UpdatePartII, "30"},
                                     {keys::AlertAfter, "0"}})
        SaveSetting(key, QString::fromLatin1(value));
    HealthLimits limits = ReadHealthLimits(now);
    QCOMPARE(limits.after, 1);
    QCOMPARE(limits.stale.count(), 3 * 150);
    SaveSetting(keys::AlertStale, QStringLiteral("7"));
    QCOMPARE(ReadHealthLimits(now).stale.count(), 7 * 60);
    SaveSetting(keys::AlertStale, QStringLiteral("0"));
    SaveSetting(keys::UpdateType, QStringLiteral("0"));
    QCOMPARE(ReadHealthLimits(now).stale.count(), 0);
}

// A hook and a mail server that refuse the first two deliveries get the alert at the third try, once
// each; the failure is said once.
void TestHealth::deliveriesTriedAgain() {
    TempStore store;
    AlertServers alerts(2);
    QVERIFY(alerts.hookPort() && alerts.smtpPort());
    alerts.useAll(QStringLiteral("secret"));
    SaveSetting(keys::AlertDesktop, QStringLiteral("0"));
    StatusRecorder status;
    MessageRecorder messages;
    LiveValues live;
    PublishServices services;
    services.grabFrame = [](QImage& target) { target = frame(); };
    services.status = &status, services.messages = &messages, services.live = &live;
    services.cameraLostSince = [] { return QDateTime::currentDateTime(); };
    JobRunner jobs(services);
    HealthMonitor::Options options;
    options.retryPauses = {std::chrono::milliseconds(100), std::chrono::milliseconds(100),
                           std::chrono::milliseconds(100)};
    options.tick = std::chrono::milliseconds(100);
    options.mailCaFile = alerts.caFile();
    HealthMonitor monitor(jobs, nullptr, status, options);
    bool done = false;
    QVERIFY(jobs.start([&done](const PublishOutcome&) { done = true; }));
    QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(alerts.received(QStringLiteral("hook-*.json")).size(), 1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(alerts.received(QStringLiteral("mail-*.eml")).size(), 1, 20000);
    QVERIFY(alerts.received(QStringLiteral("hook-*.json"))[0].contains("camera-lost"));
    QCOMPARE(status.texts().filter(QStringLiteral("alert hook failed")).size(), 1);
    QCOMPARE(status.texts().filter(QStringLiteral("alert mail was not sent")).size(), 1);
}

// A self-signed mail server: trusted through its key's pin, refused with another pin or none. The mail
// has a Message-ID and a Date and passes Python's parser without defects.
void TestHealth::mailToSelfSignedServer() {
    AlertServers alerts;
    QVERIFY(alerts.smtpPort());
    QFile cert(alerts.caFile());
    QVERIFY(cert.open(QIODevice::ReadOnly));
    const QString pin = CertificatePin(cert.readAll());
    QVERIFY(!pin.isEmpty());
    MailSettings mail{QStringLiteral("keeper@example.org, other@example.org"),
                      QStringLiteral("smtp://127.0.0.1:%1").arg(alerts.smtpPort()),
                      QStringLiteral("cam"),
                      QStringLiteral("secret"),
                      {},
                      {}};
    const HealthEvent e = loginRefused();
    QVERIFY(!SendAlertMail(mail, e, "jpeg").ok); // not trusted
    mail.pin = QStringLiteral("sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=");
    QVERIFY(!SendAlertMail(mail, e, "jpeg").ok);
    mail.pin = QStringLiteral("sha256//abc");
    QVERIFY(!MailProblem(mail).isEmpty());
    mail.pin = pin;
    const DeliveryResult r = SendAlertMail(mail, e, QByteArray(2000, 'j'));
    QVERIFY2(r.ok, qPrintable(r.error));
    const QList<QByteArray> mailed = alerts.received(QStringLiteral("mail-*.eml"));
    QCOMPARE(mailed.size(), 1);
    QCOMPARE(mailProblems(mailed[0]), QString());
}

// "Send test" and the alerts' notices on a session bus without a notification server say why nothing was
// shown; with one, the notice carries the program's desktop entry.
void TestHealth::desktopNoticeSaysWhetherShown() {
    const PrivateSessionBus bus;
    QVERIFY(!bus.address().isEmpty());
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address());
    QString error = QStringLiteral("none yet");
    const auto show = [&error] {
        error = QStringLiteral("none yet");
        ShowDesktopNotice(QStringLiteral("Test"), QStringLiteral("A test alert"), false, qApp,
                          [&error](const QString& e) { error = e; });
        QTRY_VERIFY_WITH_TIMEOUT(error != QLatin1String("none yet"), 30000);
    };
    show();
    QVERIFY2(error.startsWith(QLatin1String("No notification server answered: ")), qPrintable(error));

    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("notices.log"));
    QProcess server;
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                  QStringLiteral("notification_daemon"), QStringLiteral("-l"), log});
    QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                 QStringLiteral("org.freedesktop.Notifications")),
                             20000);
    show();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const auto logged = [&log] {
        QFile f(log);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QTRY_VERIFY2_WITH_TIMEOUT(logged().contains(kDesktopEntry), logged().constData(), 5000);
    server.kill();
    server.waitForFinished(5000);
}

QTEST_MAIN(TestHealth)
#include "test_health.moc"
