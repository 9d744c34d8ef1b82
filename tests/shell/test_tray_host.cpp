// The tray icon against a real notification area, and the windows under a real window manager: the test
// runs itself again under an X server of its own (xvfb-run) and starts trayer or openbox there. Skipped where
// a program is missing.
#include "settings/settings_dialog.h"
#include "shell/caption_row.h"
#include "shell/master.h"
#include "shell/tray_icon.h"
#include "support/temp_store.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTabBar>
#include <QTest>
#include <QToolButton>
#include <unistd.h>

using namespace zantrel;

namespace {

void xdotool(const QStringList& args) {
    QProcess::execute(QStringLiteral("xdotool"), args);
}

// The tray host's panel; it is as wide as the icons it holds.
QRect panelGeometry() {
    QProcess p;
    p.start(QStringLiteral("xdotool"), {"search", "--name", "^panel$", "getwindowgeometry"});
    p.waitForFinished(5000);
    const auto m = QRegularExpression(QStringLiteral("Position: (\\d+),(\\d+).*\\n.*Geometry: (\\d+)x(\\d+)"))
                       .match(QString::fromLocal8Bit(p.readAllStandardOutput()));
    return m.hasMatch() ? QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                                m.captured(4).toInt())
                        : QRect();
}

// Where the X server has a window, in root coordinates.
QRect windowGeometry(WId id) {
    QProcess p;
    p.start(QStringLiteral("xwininfo"), {"-id", QString::number(id)});
    p.waitForFinished(5000);
    const auto m =
        QRegularExpression(QStringLiteral("Absolute upper-left X: +(-?\\d+)\\n +Absolute upper-left Y: "
                                          "+(-?\\d+)\\n(?:.*\\n){2} +Width: (\\d+)\\n +Height: (\\d+)"))
            .match(QString::fromLocal8Bit(p.readAllStandardOutput()));
    return m.hasMatch() ? QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(),
                                m.captured(4).toInt())
                        : QRect();
}

} // namespace

class TestTrayHost : public QObject {
    Q_OBJECT
    QProcess trayHost_;

  private Q_SLOTS:
    void iconAppearsAnswersAClickAndGoesAwayWithTheWindow() {
        if (qgetenv("ZANTREL_UNDER_XVFB").isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty() ||
            QStandardPaths::findExecutable("trayer").isEmpty())
            QSKIP("needs xvfb-run, trayer and xdotool");
        trayHost_.start("trayer",
                        {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"});
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
        const int emptyWidth = panelGeometry().width();
        qputenv("WEBCAM_ZANTREL_TEST_CAMERA", "videotestsrc ! video/x-raw,width=320,height=240");
        zantrel::test::TempStore store;
        Master master;
        master.load();
        master.show();
        QTRY_VERIFY_WITH_TIMEOUT(panelGeometry().width() > emptyWidth, 10000);

        master.captionRow().button(QStringLiteral("minimize"))->click();
        QVERIFY(!master.isVisible());
        const QPoint icon = panelGeometry().center();
        xdotool({"mousemove", QString::number(icon.x()), QString::number(icon.y())});
        QTest::qWait(300); // the pointer has to have entered the icon before the click counts
        xdotool({"click", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(master.isVisible(), 10000);

        master.close();
        QTRY_COMPARE_WITH_TIMEOUT(panelGeometry().width(), emptyWidth, 10000);
        trayHost_.terminate();
        trayHost_.waitForFinished();
    }

    // Under openbox, beside a tray: the settings dialog has a title bar, its lists and calendar open at
    // their controls, and the
    // main window's edges do not size it below its minimum.
    void underAWindowManager() {
        if (qgetenv("ZANTREL_UNDER_XVFB").isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty() ||
            QStandardPaths::findExecutable("openbox").isEmpty() ||
            QStandardPaths::findExecutable("xwininfo").isEmpty())
            QSKIP("needs xvfb-run, openbox, xdotool and xwininfo");
        QProcess wm;
        wm.start("openbox", {});
        QVERIFY(wm.waitForStarted());
        QTest::qWait(1000);
        qputenv("WEBCAM_ZANTREL_TEST_CAMERA", "videotestsrc ! video/x-raw,width=320,height=240");
        zantrel::test::TempStore store;
        SysTray::setAvailableForTesting(true); // the main window as it is beside a tray
        Master master;
        master.load();
        master.show();
        QVERIFY(QTest::qWaitForWindowExposed(&master));
        {
            SettingsDialog dialog(master.captureWindow(), &master);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QTRY_VERIFY(dialog.frameGeometry().top() < dialog.geometry().top() - 10); // a title bar
            QTest::qWait(500);
            dialog.findChild<QTabBar*>()->setCurrentIndex(1); // the timer page
            auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("PartIUnit"));
            QTRY_VERIFY(combo->isVisible());
            const QPoint at = windowGeometry(dialog.winId()).topLeft() + combo->mapTo(&dialog, QPoint(0, 0));
            QCOMPARE(combo->mapToGlobal(QPoint(0, 0)), at);
            combo->showPopup();
            QWidget* popup = combo->view()->window();
            QTRY_VERIFY(popup->isVisible());
            QCOMPARE(windowGeometry(popup->winId()).x(), at.x());
            combo->hidePopup();
            auto* date = dialog.findChild<QDateTimeEdit*>(QStringLiteral("FixedDate"));
            date->setEnabled(true);
            QTest::mouseClick(date, Qt::LeftButton, {}, QPoint(date->width() - 5, date->height() / 2));
            QWidget* calendar = nullptr;
            QTRY_VERIFY((calendar = QApplication::activePopupWidget()));
            const QPoint dateAt =
                windowGeometry(dialog.winId()).topLeft() + date->mapTo(&dialog, QPoint(0, 0));
            const QRect opened = windowGeometry(calendar->winId());
            QVERIFY2(opened.x() == dateAt.x() && std::abs(opened.y() - dateAt.y() - date->height()) <= 2,
                     qPrintable(QStringLiteral("%1,%2 for %3,%4")
                                    .arg(opened.x())
                                    .arg(opened.y())
                                    .arg(dateAt.x())
                                    .arg(dateAt.y())));
            calendar->close();
        }
        master.resize(400, 300);
        QTRY_COMPARE(master.size(), QSize(400, 300));
        const QPoint corner = master.mapToGlobal(QPoint(master.width() - 2, master.height() - 2));
        xdotool({"mousemove", QString::number(corner.x()), QString::number(corner.y())});
        QTest::qWait(300);
        xdotool({"mousedown", "1"});
        QTest::qWait(300);
        xdotool({"mousemove", "5", "5"});
        QTest::qWait(300);
        const QRect during = windowGeometry(master.winId()); // as the X server has it, mid-drag
        xdotool({"mouseup", "1"});
        QTest::qWait(500);
        QVERIFY2(during.width() >= Master::kMinimumWidth && during.height() >= Master::kMinimumHeight,
                 qPrintable(QStringLiteral("%1x%2").arg(during.width()).arg(during.height())));
        QCOMPARE(windowGeometry(master.winId()).size(), master.size());
        SysTray::setAvailableForTesting({});
        wm.terminate();
        wm.waitForFinished();
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("ZANTREL_UNDER_XVFB")) {
        // xvfb-run picks a free display and ends its server with the test; without it the test skips.
        ::setenv("ZANTREL_UNDER_XVFB", "1", 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        std::vector<char*> args{const_cast<char*>("xvfb-run"), const_cast<char*>("-a"),
                                const_cast<char*>("-s"),
                                const_cast<char*>("-screen 0 640x480x24 -nolisten tcp")};
        args.insert(args.end(), argv, argv + argc + 1);
        ::execvp(args[0], args.data());
        ::unsetenv("ZANTREL_UNDER_XVFB");
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    TestTrayHost test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_tray_host.moc"
