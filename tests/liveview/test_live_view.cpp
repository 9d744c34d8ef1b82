// The live view of a running `--headless` with the test camera: every endpoint, bad requests, the
// stream, the client limit with stalled clients, the login, and the page in a real browser.
#include "core/store.h"
#include "settings/live_view_page.h"
#include "support/temp_store.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <arpa/inet.h>
#include <csignal>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zantrel::test;

namespace {

struct Reply {
    long code = 0;
    QByteArray headers;
    QByteArray body;
    qint64 ms = 0;
};

size_t collect(char* data, size_t size, size_t n, void* target) {
    auto* bytes = static_cast<QByteArray*>(target);
    bytes->append(data, qsizetype(size * n));
    // A stream is read until two frames' worth has come.
    return bytes->size() > 4'000'000 ? 0 : size * n;
}

// One request with libcurl; a stream is cut off after `maxMs`.
Reply fetch(quint16 port, const QByteArray& path, const QByteArray& method = "GET",
            const QByteArray& header = {}, const QByteArray& login = {}, long maxMs = 10000) {
    Reply r;
    CURL* curl = curl_easy_init();
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(port) + path;
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.constData());
    if (method == "HEAD")
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    curl_slist* headers = header.isEmpty() ? nullptr : curl_slist_append(nullptr, header.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (!login.isEmpty())
        curl_easy_setopt(curl, CURLOPT_USERPWD, login.constData());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, maxMs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &r.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &collect);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &r.headers);
    QElapsedTimer t;
    t.start();
    curl_easy_perform(curl);
    r.ms = t.elapsed();
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &r.code);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return r;
}

QByteArray headerValue(const Reply& r, const QByteArray& name) {
    for (const QByteArray& line : r.headers.split('\n'))
        if (line.toLower().startsWith(name.toLower() + ':'))
            return line.mid(name.size() + 1).trimmed();
    return {};
}

QJsonObject status(quint16 port) {
    return QJsonDocument::fromJson(fetch(port, "/status.json").body).object();
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A stream client that asks and then never reads: its receive buffer fills and the server's send stalls.
int stalledClient(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return -1;
    const QByteArray request = "GET /live.mjpg HTTP/1.1\r\nHost: x\r\n\r\n";
    if (::write(fd, request.constData(), size_t(request.size())) != request.size())
        return -1;
    return fd;
}

// The whole answer has come and the server closed the connection after it.
bool answeredAndClosed(int fd) {
    char rest[4096];
    ssize_t n = 0;
    while ((n = ::recv(fd, rest, sizeof rest, MSG_DONTWAIT)) > 0) {
    }
    return n == 0;
}

// `--headless` publishing every second with its live view on a free port.
struct LiveProgram {
    explicit LiveProgram(const QByteArray& extra = {})
        : home(QStringLiteral("videotestsrc is-live=true pattern=smpte ! video/x-raw,width=320,height=240")),
          port(freePort()) {
        home.writeSettings("[UPDATE]\nPARTI=1\nUNITI=3\n[HTTP]\nENABLE=1\nCLIENTS=2\nPORT=" +
                           QByteArray::number(port) + "\n" + extra);
        home.prepare(process);
        QProcessEnvironment e = process.processEnvironment();
        e.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path()); // its own instance lock
        process.setProcessEnvironment(e);
        process.setArguments({QStringLiteral("--headless")});
        process.start();
    }
    ~LiveProgram() {
        ::kill(pid_t(process.processId()), SIGTERM);
        if (!process.waitForFinished(5000))
            process.kill(), process.waitForFinished(5000);
    }
    // True once the first image is served.
    bool ready(const QByteArray& login = {}) {
        for (int i = 0; i < 100; ++i) {
            if (fetch(port, "/current.jpg", "GET", {}, login, 2000).code == 200)
                return true;
            QTest::qWait(100);
        }
        return false;
    }
    ProgramHome home;
    QProcess process;
    quint16 port;
};

} // namespace

class TestLiveView : public QObject {
    Q_OBJECT
    std::unique_ptr<LiveProgram> program_;
    quint16 port() const { return program_->port; }

  private Q_SLOTS:
    void initTestCase() {
        program_ = std::make_unique<LiveProgram>();
        QVERIFY(program_->ready());
    }
    void cleanupTestCase() { program_.reset(); }

    void endpoints_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<long>("code");
        QTest::addColumn<QByteArray>("type");
        QTest::newRow("page") << QByteArray("/") << QByteArray("GET") << QByteArray() << 200L
                              << QByteArray("text/html");
        QTest::newRow("image") << QByteArray("/current.jpg") << QByteArray("GET") << QByteArray() << 200L
                               << QByteArray("image/jpeg");
        QTest::newRow("image, HEAD") << QByteArray("/current.jpg") << QByteArray("HEAD") << QByteArray()
                                     << 200L << QByteArray("image/jpeg");
        QTest::newRow("state") << QByteArray("/status.json") << QByteArray("GET") << QByteArray() << 200L
                               << QByteArray("application/json");
        QTest::newRow("dot dot") << QByteArray("/../current.jpg") << QByteArray("GET") << QByteArray() << 400L
                                 << QByteArray();
        QTest::newRow("encoded NUL") << QByteArray("/current.jpg%00.html") << QByteArray("GET")
                                     << QByteArray() << 400L << QByteArray();
        QTest::newRow("unknown path")
            << QByteArray("/etc/passwd") << QByteArray("GET") << QByteArray() << 404L << QByteArray();
        QTest::newRow("unknown method")
            << QByteArray("/current.jpg") << QByteArray("BREW") << QByteArray() << 405L << QByteArray();
        QTest::newRow("huge header") << QByteArray("/") << QByteArray("GET")
                                     << "X-Big: " + QByteArray(200'000, 'a') << 431L << QByteArray();
    }
    void endpoints() {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, header);
        QFETCH(long, code);
        QFETCH(QByteArray, type);
        const Reply r = fetch(port(), path, method, header);
        QCOMPARE(r.code, code);
        QVERIFY2(headerValue(r, "Content-Type").startsWith(type), r.headers.constData());
    }

    void imageAndState() {
        const Reply r = fetch(port(), "/current.jpg");
        QCOMPARE(QImage::fromData(r.body, "JPEG").size(), QSize(320, 240));
        const QByteArray etag = headerValue(r, "ETag");
        QVERIFY(!etag.isEmpty() && !headerValue(r, "Last-Modified").isEmpty());
        QCOMPARE(headerValue(r, "Cache-Control"), QByteArray("no-cache"));
        // The same picture is not sent again; the state names it until the next one.
        const QJsonObject s = status(port());
        const Reply again = fetch(port(), "/current.jpg", "GET", "If-None-Match: " + etag);
        if (s.value(QStringLiteral("image"))[QStringLiteral("etag")].toString().toLatin1() == etag)
            QCOMPARE(again.code, 304L);
        QCOMPARE(s.value(QStringLiteral("camera"))[QStringLiteral("state")].toString(),
                 QStringLiteral("connected"));
        QVERIFY(s.value(QStringLiteral("events")).isArray());
        QVERIFY(!s.value(QStringLiteral("nextUpdate")).toString().isEmpty());
    }

    void stream() {
        const Reply r = fetch(port(), "/live.mjpg", "GET", {}, {}, 1500);
        QCOMPARE(r.code, 200L);
        QVERIFY(headerValue(r, "Content-Type").startsWith("multipart/x-mixed-replace; boundary="));
        // At least two whole frames came, each a picture of the camera's size.
        const qsizetype first = r.body.indexOf("\r\n\r\n") + 4;
        const qsizetype length =
            r.body.mid(r.body.indexOf("Content-Length:") + 15, 10).trimmed().split('\r')[0].toLongLong();
        QCOMPARE(QImage::fromData(r.body.mid(first, length), "JPEG").size(), QSize(320, 240));
        QVERIFY(r.body.count("Content-Type: image/jpeg") >= 2);
    }

    // 100 viewers at once, none of them reading: two are streaming (and stall), the others are refused,
    // and publishing and the picture go on.
    void hundredStalledViewers() {
        QTest::qWait(1000); // a viewer of an earlier test has been noticed gone
        std::vector<int> viewers;
        for (int i = 0; i < 100; ++i)
            viewers.push_back(stalledClient(port()));
        QTest::qWait(2000);
        int streaming = 0, refused = 0;
        for (const int fd : viewers) {
            char peek[16] = {};
            ::recv(fd, peek, 15, MSG_PEEK | MSG_DONTWAIT);
            streaming += QByteArray(peek) == "HTTP/1.1 200 OK";
            refused += QByteArray(peek) == "HTTP/1.1 503 Se" && answeredAndClosed(fd); // its place is free
        }
        QCOMPARE(streaming, 2);
        QCOMPARE(refused, 98);
        const QString before =
            status(port()).value(QStringLiteral("image"))[QStringLiteral("time")].toString();
        QTRY_VERIFY_WITH_TIMEOUT(
            status(port()).value(QStringLiteral("image"))[QStringLiteral("time")].toString() != before, 6000);
        QCOMPARE(fetch(port(), "/current.jpg", "GET", {}, {}, 3000).code, 200L);
        for (const int fd : viewers)
            ::close(fd);
        QTRY_COMPARE_WITH_TIMEOUT(fetch(port(), "/live.mjpg", "GET", {}, {}, 500).code, 200L, 5000);
    }

    // The page shows the published picture in a real browser: the camera's colour bars are on screen.
    void pageInBrowser() {
        const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (chromium.isEmpty())
            QSKIP("chromium is not installed");
        QTemporaryDir dir;
        const QString shot = dir.filePath(QStringLiteral("page.png"));
        QProcess browser;
        browser.start(chromium,
                      {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                       QStringLiteral("--disable-gpu"), QStringLiteral("--user-data-dir=") + dir.path(),
                       QStringLiteral("--screenshot=") + shot, QStringLiteral("--window-size=800,600"),
                       QStringLiteral("http://127.0.0.1:%1/").arg(port())});
        QVERIFY(browser.waitForFinished(60000));
        const QImage page(shot);
        QVERIFY2(!page.isNull(), browser.readAllStandardError().constData());
        int yellow = 0;
        for (int y = 0; y < page.height(); y += 2)
            for (int x = 0; x < page.width(); x += 2) {
                const QColor c = page.pixelColor(x, y);
                yellow += c.red() > 160 && c.green() > 160 && c.blue() < 80;
            }
        QVERIFY2(yellow > 1000, QByteArray::number(yellow).constData());
    }

    // The page shows where to look, warns when the network can watch without a login, and stores.
    void settingsPage_data() {
        QTest::addColumn<QString>("bind");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("warned");
        QTest::newRow("loopback") << "127.0.0.1"
                                  << ""
                                  << "http://127.0.0.1:8080/" << false;
        QTest::newRow("one address, no login") << "192.168.1.20"
                                               << ""
                                               << "http://192.168.1.20:8080/" << true;
        QTest::newRow("every address, login") << "0.0.0.0"
                                              << "cam"
                                              << "http://127.0.0.1:8080/" << false;
        QTest::newRow("every address, no login") << "0.0.0.0"
                                                 << ""
                                                 << "http://127.0.0.1:8080/" << true;
    }
    void settingsPage() {
        QFETCH(QString, bind);
        QFETCH(QString, user);
        QFETCH(QString, shown);
        QFETCH(bool, warned);
        TempStore store;
        store.set("HTTP", QStringLiteral("ENABLE"), QStringLiteral("1"));
        zantrel::LiveViewPage page;
        page.load();
        page.findChild<QLineEdit*>(QStringLiteral("HttpBind"))->setText(bind);
        page.findChild<QLineEdit*>(QStringLiteral("HttpUser"))->setText(user);
        QVERIFY(page.findChild<QLabel*>(QStringLiteral("HttpAddresses"))->text().contains(shown));
        QCOMPARE(!page.findChild<QLabel*>(QStringLiteral("HttpOpenWarning"))->isHidden(), warned);
        page.store();
        QCOMPARE(zantrel::GetSetting(zantrel::keys::HttpBind), bind);
        QCOMPARE(zantrel::GetSetting(zantrel::keys::HttpPort), QStringLiteral("8080"));
    }

    void login_data() {
        QTest::addColumn<QByteArray>("login");
        QTest::addColumn<long>("code");
        QTest::addColumn<bool>("delayed");
        QTest::newRow("none") << QByteArray() << 401L << false;
        QTest::newRow("wrong password") << QByteArray("cam:secreT") << 401L << true;
        QTest::newRow("wrong user") << QByteArray("cap:secret") << 401L << true;
        QTest::newRow("right") << QByteArray("cam:secret") << 200L << false;
    }
    void login() {
        QFETCH(QByteArray, login);
        QFETCH(long, code);
        QFETCH(bool, delayed);
        static LiveProgram* guarded = nullptr;
        static std::unique_ptr<LiveProgram> keep;
        if (!guarded) {
            program_.reset(); // one program at a time on this loaded machine
            keep = std::make_unique<LiveProgram>("USER=cam\nPASSWORD=secret\n");
            guarded = keep.get();
            QVERIFY(guarded->ready("cam:secret"));
        }
        const Reply r = fetch(guarded->port, "/status.json", "GET", {}, login);
        QCOMPARE(r.code, code);
        QCOMPARE(r.ms >= 900, delayed);
        if (QByteArray(QTest::currentDataTag()) == "right")
            keep.reset();
    }

    // HTTPS asked for with a file that cannot be read: nothing is served, least of all plain HTTP.
    void unreadableCertificate() {
        LiveProgram tls("CERT=/nonexistent/cert.pem\nKEY=/nonexistent/key.pem\n");
        QTest::qWait(3000);
        QCOMPARE(tls.process.state(), QProcess::Running);
        QCOMPARE(fetch(tls.port, "/current.jpg", "GET", {}, {}, 2000).code, 0L);
    }
};

QTEST_MAIN(TestLiveView)
#include "test_live_view.moc"
