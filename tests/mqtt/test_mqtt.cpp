// MQTT against a real mosquitto on 127.0.0.1 with a password file, an ACL and TLS: what `--headless`
// publishes there, its commands and its will, a broker that stops, and the settings page.
#include "mqtt/mqtt_settings.h"
#include "settings/mqtt_page.h"
#include "support/ftp_test_servers.h"
#include "support/temp_store.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <unistd.h>

using namespace zantrel;
using namespace zantrel::test;

namespace {

const QString kTopic = QStringLiteral("webcam-zantrel/test");

// mosquitto: `cam` may write everywhere, `other` only read; anonymous clients are refused, or (open)
// may write everywhere too.
struct Broker {
    QTemporaryDir dir;
    quint16 plain = closedPort(), tls = closedPort();
    QString ca = dir.filePath(QStringLiteral("cert.pem"));
    QProcess process;
    explicit Broker(bool open = false) {
        sh(QStringLiteral(
               "cd '%1' && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -addext "
               "subjectAltName=DNS:localhost -keyout key.pem -out cert.pem 2>/dev/null && touch pw && "
               "mosquitto_passwd -b pw cam secret && mosquitto_passwd -b pw other other && "
               "printf '%5user cam\\ntopic readwrite #\\nuser other\\ntopic read #\\n' > acl && "
               "printf 'user %2\\nallow_anonymous %6\\npassword_file pw\\nacl_file acl\\nlistener %3 "
               "127.0.0.1\\nlistener %4 127.0.0.1\\ncertfile cert.pem\\nkeyfile key.pem\\n' > conf")
               .arg(dir.path(), QString::fromLocal8Bit(qgetenv("USER").isEmpty() ? "root" : qgetenv("USER")))
               .arg(plain)
               .arg(tls)
               .arg(open ? QStringLiteral("topic readwrite #\\n") : QString(),
                    open ? QStringLiteral("true") : QStringLiteral("false")));
        process.setWorkingDirectory(dir.path());
        start();
    }
    ~Broker() { process.kill(), process.waitForFinished(5000); }
    bool start() {
        return startListening(process, QStringLiteral("mosquitto"),
                              {QStringLiteral("-c"), QStringLiteral("conf")}, plain);
    }
    void publish(const char* user, const QByteArray& payload) const {
        QProcess::execute(
            QStringLiteral("mosquitto_pub"),
            {QStringLiteral("-p"), QString::number(plain), QStringLiteral("-u"), QLatin1String(user),
             QStringLiteral("-P"), QLatin1String(user[0] == 'c' ? "secret" : "other"), QStringLiteral("-t"),
             kTopic + QStringLiteral("/set"), QStringLiteral("-m"), QString::fromUtf8(payload)});
    }
};

// mosquitto_sub as `other`: every message under the topic and the discovery prefix, a line each as it
// comes (into a pipe it would fill a block first).
struct Reader {
    QProcess process;
    QMultiMap<QString, QByteArray> seen;
    explicit Reader(quint16 port) {
        process.start(QStringLiteral("stdbuf"),
                      {QStringLiteral("-oL"), QStringLiteral("mosquitto_sub"), QStringLiteral("-p"),
                       QString::number(port), QStringLiteral("-u"), QStringLiteral("other"),
                       QStringLiteral("-P"), QStringLiteral("other"), QStringLiteral("-t"),
                       kTopic + QStringLiteral("/#"), QStringLiteral("-t"), QStringLiteral("homeassistant/#"),
                       QStringLiteral("-F"), QStringLiteral("%t %x")});
    }
    ~Reader() { process.kill(), process.waitForFinished(5000); }
    void read() {
        process.waitForReadyRead(0);
        while (process.canReadLine()) {
            const QByteArray line = process.readLine().trimmed();
            const qsizetype blank = line.contains(' ') ? line.indexOf(' ') : line.size(); // none: empty
            if (!line.isEmpty())
                seen.insert(QString::fromUtf8(line.left(blank)), QByteArray::fromHex(line.mid(blank + 1)));
        }
    }
    // The newest payload at leaf (under the topic, or a full topic) once pass holds for it; null if none.
    QByteArray waitFor(const QString& leaf, const std::function<bool(const QByteArray&)>& pass = {},
                       int ms = 20000) {
        const QString t = leaf.startsWith(QLatin1Char('/')) ? kTopic + leaf : leaf;
        for (QDeadlineTimer d(ms); !d.hasExpired(); QTest::qWait(100)) {
            read();
            for (const QByteArray& p : seen.values(t))
                if (!pass || pass(p))
                    return p.isNull() ? QByteArray("") : p;
        }
        return {};
    }
    qsizetype count(const QString& leaf) {
        read();
        return seen.count(kTopic + leaf);
    }
};

// `--headless` every second, a folder that takes the pictures and one that does not exist.
struct Program {
    ProgramHome home;
    QProcess process;
    QList<std::pair<qint64, QByteArray>> lines; // ms since start, line
    QElapsedTimer clock;
    explicit Program(const QByteArray& mqtt) {
        QDir(home.path()).mkpath(QStringLiteral("out"));
        QDir(home.path()).mkpath(QStringLiteral("creds"));
        QFile cred(home.path() + QStringLiteral("/creds/mqtt"));
        cred.open(QIODevice::WriteOnly), cred.write("secret\n"), cred.close();
        home.writeSettings(
            "[UPDATE]\nPARTI=1\nUNITI=3\n[ALERT]\nAFTER=1\n[FTP]\nUPLOAD=1\nSERVERS=2\nADDRESS00001=file://" +
            home.path().toUtf8() + "/out\nADDRESS00002=file://" + home.path().toUtf8() +
            "/missing\n[MQTT]\nLOGIN=cam\nPASSWORD=@cred:mqtt\nTOPIC=" + kTopic.toUtf8() + "\n" + mqtt);
        home.prepare(process);
        QProcessEnvironment e = process.processEnvironment();
        e.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        e.insert(QStringLiteral("CREDENTIALS_DIRECTORY"), home.path() + QStringLiteral("/creds"));
        process.setProcessEnvironment(e);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setArguments({QStringLiteral("--headless")});
        QObject::connect(&process, &QProcess::readyRead, [this] {
            while (process.canReadLine())
                lines.append({clock.elapsed(), process.readLine()});
        });
        clock.start();
        process.start();
    }
    ~Program() { process.kill(), process.waitForFinished(5000); }
    qsizetype said(const char* text) const {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const auto& l) { return l.second.contains(text); });
    }
    // When each job began: its first server's connection.
    QList<qint64> jobStarts() const {
        QList<qint64> out;
        for (const auto& [at, line] : lines)
            if (line.startsWith("Connecting... file://") && line.trimmed().endsWith("/out"))
                out.append(at);
        return out;
    }
};

QJsonObject json(const QByteArray& bytes) {
    return QJsonDocument::fromJson(bytes).object();
}

} // namespace

class TestMqtt : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // Over TLS with the CA file and the password from a credential: discovery, availability, state, alerts,
    // pictures and results; commands from the login only, each once; "offline" through the will.
    void publishesAndObeys() {
        Broker broker;
        Reader reader(broker.plain);
        Program program("URL=mqtts://localhost:" + QByteArray::number(broker.tls) +
                        "\nCAFILE=" + broker.ca.toUtf8() + "\nCOMMANDS=1\n");
        const auto config = [&](const char* path) {
            return json(reader.waitFor(QStringLiteral("homeassistant/%1/webcam-zantrel_test/%2/config")
                                           .arg(QString::fromLatin1(path).section(QLatin1Char('/'), 0, 0),
                                                QString::fromLatin1(path).section(QLatin1Char('/'), 1))));
        };
        QCOMPARE(config("image/picture").value(QStringLiteral("image_topic")).toString(),
                 kTopic + QStringLiteral("/image"));
        QCOMPARE(config("binary_sensor/problem").value(QStringLiteral("device_class")).toString(),
                 QStringLiteral("problem"));
        QCOMPARE(config("sensor/last_success").value(QStringLiteral("device_class")).toString(),
                 QStringLiteral("timestamp"));
        QCOMPARE(config("sensor/target_2").value(QStringLiteral("state_topic")).toString(),
                 kTopic + QStringLiteral("/target/2"));
        QCOMPARE(config("button/publish_now").value(QStringLiteral("payload_press")).toString(),
                 QStringLiteral("now"));
        QCOMPARE(config("switch/run").value(QStringLiteral("command_topic")).toString(),
                 kTopic + QStringLiteral("/set"));
        QCOMPARE(reader.waitFor(QStringLiteral("/availability")), QByteArray("online"));
        QVERIFY(reader.waitFor(QStringLiteral("/image")).startsWith("\xff\xd8\xff"));
        QCOMPARE(json(reader.waitFor(QStringLiteral("/target/1"))).value(QStringLiteral("result")).toString(),
                 QStringLiteral("ok"));
        QCOMPARE(json(reader.waitFor(QStringLiteral("/target/2"))).value(QStringLiteral("result")).toString(),
                 QStringLiteral("failed"));
        QVERIFY(QDateTime::fromString(QString::fromUtf8(reader.waitFor(QStringLiteral("/last_success"))),
                                      Qt::ISODate)
                    .isValid());
        QCOMPARE(json(reader.waitFor(QStringLiteral("/event"))).value(QStringLiteral("event")).toString(),
                 QStringLiteral("failing"));
        QVERIFY(!reader
                     .waitFor(QStringLiteral("/state"),
                              [](const QByteArray& s) {
                                  return json(s).value(QStringLiteral("events")).toArray().size() == 1;
                              })
                     .isNull());

        broker.publish("cam", "bogus");
        broker.publish("cam", "stop");
        QVERIFY(!reader
                     .waitFor(QStringLiteral("/state"),
                              [](const QByteArray& s) {
                                  return json(s).value(QStringLiteral("publishing")) == false;
                              })
                     .isNull());
        QTRY_VERIFY_WITH_TIMEOUT(program.said("MQTT command refused: \"bogus\" is not now, run or stop") == 1,
                                 5000);
        QTest::qWait(3000); // the last job of the schedule ends
        const qsizetype images = reader.count(QStringLiteral("/image"));
        broker.publish("other", "now"); // the ACL drops it
        QTest::qWait(3000);
        QCOMPARE(reader.count(QStringLiteral("/image")), images);
        broker.publish("cam", "now");
        QTRY_COMPARE_WITH_TIMEOUT(reader.count(QStringLiteral("/image")), images + 1, 10000);
        QTest::qWait(3000);
        QCOMPARE(reader.count(QStringLiteral("/image")), images + 1);

        ::kill(pid_t(program.process.processId()), SIGKILL);
        QVERIFY(
            !reader
                 .waitFor(QStringLiteral("/availability"), [](const QByteArray& p) { return p == "offline"; })
                 .isNull());
    }

    // A broker that lets anybody command is not obeyed. A broker that hangs, then dies and comes back:
    // every job keeps its second; the loss and the return are said once each, and publishing there goes on;
    // the settings removed, the entities go.
    void brokerOutageDelaysNoJob() {
        Broker broker(/*open=*/true);
        Program program("URL=mqtt://127.0.0.1:" + QByteArray::number(broker.plain) + "\nCOMMANDS=1\n");
        {
            Reader reader(broker.plain);
            QCOMPARE(reader.waitFor(QStringLiteral("/availability")), QByteArray("online"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            program.said("clients without the login can publish to webcam-zantrel/test/set"), 10000);
        broker.publish("cam", "stop");
        QTRY_VERIFY_WITH_TIMEOUT(program.said("MQTT command refused: clients without the login"), 5000);
        const qint64 from = program.clock.elapsed();
        ::kill(pid_t(broker.process.processId()), SIGSTOP);
        QTest::qWait(8000);
        ::kill(pid_t(broker.process.processId()), SIGCONT);
        broker.process.kill(), broker.process.waitForFinished(5000);
        QTest::qWait(3000);
        const qint64 to = program.clock.elapsed();
        QVERIFY(broker.start());
        Reader reader(broker.plain);
        QVERIFY(!reader.waitFor(QStringLiteral("/image"), {}, 30000).isNull());
        QList<qint64> starts = program.jobStarts();
        starts.removeIf([&](qint64 at) { return at < from || at > to; });
        QVERIFY2(starts.size() >= 5, qPrintable(QString::number(starts.size())));
        for (qsizetype i = 1; i < starts.size(); ++i)
            QVERIFY2(starts[i] - starts[i - 1] < 4000,
                     qPrintable(QString::number(starts[i] - starts[i - 1])));
        QTRY_COMPARE_WITH_TIMEOUT(program.said("Connected to the MQTT broker 127.0.0.1"), 1, 10000);
        QCOMPARE(program.said("Lost the MQTT broker 127.0.0.1"), 1);
        QCOMPARE(program.said("MQTT broker 127.0.0.1"), 2); // nothing at each try between

        const QString config = QStringLiteral("homeassistant/image/webcam-zantrel_test/picture/config");
        QVERIFY(!reader.waitFor(config).isEmpty());
        program.home.writeSettings("[UPDATE]\nPARTI=1\nUNITI=3\n");
        QVERIFY(!reader.waitFor(config, [](const QByteArray& p) { return p.isEmpty(); }).isNull());
        QCOMPARE(reader.waitFor(QStringLiteral("/availability"),
                                [](const QByteArray& p) { return p == "offline"; }),
                 QByteArray("offline"));
    }

    // Bad fields are refused on the page with the reason; "Send test" answers later, off the UI thread,
    // and only from a broker whose certificate checks out.
    void settingsPage() {
        Broker broker;
        Reader reader(broker.plain);
        TempStore store;
        MqttPage page;
        page.load();
        const auto set = [&](const char* name, const QString& text) {
            page.findChild<QLineEdit*>(QLatin1String(name))->setText(text);
        };
        for (const auto& [url, topic, problem] : {std::tuple{"http://h", "", "must be mqtt://"},
                                                  {"mqtt://u:p@h", "", "must not hold a login"},
                                                  {"mqtt://h:70000", "", "mqtt://"},
                                                  {"mqtt://h/x", "", "must end after the port"},
                                                  {"mqtt://h", "a/#", "wildcards"},
                                                  {"mqtt://h", "a/+/b", "wildcards"}}) {
            set("MqttUrl", QLatin1String(url));
            set("MqttTopic", QLatin1String(topic));
            QVERIFY2(page.problem().contains(QLatin1String(problem)), qPrintable(page.problem()));
        }
        set("MqttUrl", QStringLiteral("mqtts://localhost:%1").arg(broker.tls));
        set("MqttTopic", kTopic);
        set("MqttCaFile", broker.ca);
        set("MqttLogin", QStringLiteral("cam"));
        set("MqttPassword", QStringLiteral("secret"));
        QVERIFY(page.problem().isEmpty());
        QSignalSpy done(&page, &MqttPage::testFinished);
        const QLabel* outcome = page.findChild<QLabel*>(QStringLiteral("MqttOutcome"));
        set("MqttCaFile", {}); // the system's store does not know the broker's certificate
        page.findChild<QPushButton*>(QStringLiteral("MqttTest"))->click();
        QVERIFY(done.wait(15000));
        QVERIFY2(outcome->text().startsWith(QLatin1String("Not sent")), qPrintable(outcome->text()));
        set("MqttCaFile", broker.ca);
        ::kill(pid_t(broker.process.processId()), SIGSTOP); // a broker that does not answer
        QElapsedTimer click;
        click.start();
        page.findChild<QPushButton*>(QStringLiteral("MqttTest"))->click();
        QVERIFY2(click.elapsed() < 3000, qPrintable(QString::number(click.elapsed())));
        ::kill(pid_t(broker.process.processId()), SIGCONT);
        QVERIFY(done.wait(15000));
        QCOMPARE(outcome->text(), QStringLiteral("Test sent"));
        QCOMPARE(json(reader.waitFor(QStringLiteral("/event"))).value(QStringLiteral("event")).toString(),
                 QStringLiteral("test"));
    }
};

QTEST_MAIN(TestMqtt)
#include "test_mqtt.moc"
