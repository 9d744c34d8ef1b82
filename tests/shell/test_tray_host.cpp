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
#include <poll.h>
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

pid_t spawn(std::vector<std::string> args, int closeInChild = -1) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (closeInChild >= 0)
        posix_spawn_file_actions_addclose(&actions, closeInChild);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Starts Xvfb on a free display and returns its number, or an empty string.
std::string startXvfb(Child& server) {
    int fds[2];
    if (::pipe(fds) != 0)
        return {};
    server.pid = spawn(
        {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "640x480x24", "-nolisten", "tcp"},
        fds[0]);
    ::close(fds[1]);
    std::string display;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (server.pid > 0 && ::poll(&p, 1, 10000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n')
        display += c;
    ::close(fds[0]);
    return display;
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
        ::setenv("DISPLAY", (":" + display).c_str(), 1);
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
