// The tray icon against a real notification area: an X server of its own (Xvfb) with the trayer tray
// host. Skipped where either program is missing.
#include "shell/caption_row.h"
#include "shell/master.h"
#include "shell/tray_icon.h"
#include "support/temp_store.h"

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace zantrel;

namespace {

struct Child {
    pid_t pid = -1;
    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

pid_t spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    return posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// Starts Xvfb on a display number of its own and returns it once the server takes connections.
std::string startXvfb(Child& server) {
    const std::string display = ":" + std::to_string(100 + ::getpid() % 800);
    server.pid = spawn({"Xvfb", display, "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    const std::string socket = "/tmp/.X11-unix/X" + display.substr(1);
    for (int i = 0; server.pid > 0 && i < 100; ++i, ::usleep(100000))
        if (::access(socket.c_str(), F_OK) == 0)
            return display;
    return {};
}

// The tray host's panel, as "x y width height"; it is as wide as the icons it holds.
QRect panelGeometry() {
    QProcess p;
    p.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                        QStringLiteral("^panel$"), QStringLiteral("getwindowgeometry")});
    p.waitForFinished(5000);
    const auto m = QRegularExpression(QStringLiteral("Position: (\\d+),(\\d+).*\\n.*Geometry: (\\d+)x(\\d+)"))
                       .match(QString::fromLocal8Bit(p.readAllStandardOutput()));
    return m.hasMatch() ? QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                                m.captured(4).toInt())
                        : QRect();
}

bool hostReady = false;

} // namespace

class TestTrayHost : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void iconAppearsAnswersAClickAndGoesAwayWithTheWindow() {
        if (!hostReady || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs Xvfb, trayer and xdotool");
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        const int emptyWidth = panelGeometry().width();
        qputenv("WEBCAM_ZANTREL_TEST_CAMERA", "videotestsrc ! video/x-raw,width=320,height=240");
        zantrel::test::TempStore store;
        auto master = std::make_unique<Master>();
        master->load();
        master->show();
        QTRY_VERIFY_WITH_TIMEOUT(panelGeometry().width() > emptyWidth, 10000);

        master->captionRow().button(QStringLiteral("minimize"))->click();
        QVERIFY(!master->isVisible());
        const QPoint icon = panelGeometry().center();
        QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(icon.x()),
                                                      QString::number(icon.y())});
        QTest::qWait(300); // the pointer has to have entered the icon before the click counts
        QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("1")});
        QTRY_VERIFY_WITH_TIMEOUT(master->isVisible(), 10000);
        QCOMPARE(master->tray().tip(), QStringLiteral("Webcam Zantrel 2.00,Ready"));

        master->close();
        QTRY_COMPARE_WITH_TIMEOUT(panelGeometry().width(), emptyWidth, 10000);
    }
};

int main(int argc, char** argv) {
    Child server;
    Child trayHost;
    const std::string display = startXvfb(server);
    if (!display.empty()) {
        ::setenv("DISPLAY", display.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        trayHost.pid = spawn(
            {"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"});
        hostReady = trayHost.pid > 0;
    }
    QApplication app(argc, argv);
    TestTrayHost test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_tray_host.moc"
