#include "core/version.h"
#include "shell/about_box.h"
#include "shell/close_application.h"
#include "shell/pictures.h"
#include "shell/splash.h"
#include "shell/tray_icon.h"
#include "support/returns_at_once.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <deque>

using namespace zantrel;
using zantrel::test::ReturnsAtOnce;

class TestSmallWindows : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void aboutVersionLine() {
        QCOMPARE(AboutVersionLine(1, 5, 0), QStringLiteral("Version: 1.05 Build:")); // build 0 shows nothing
        frmAbout about; // shows the revision it was built from
        QVERIFY(BuildRevision() > 0);
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("AppVersion"))->text(),
                 AboutVersionLine(kVersionMajor, kVersionMinor, BuildRevision()));
    }

    void splashClosesItselfAndShowsOnlyItsEllipse() {
        QElapsedTimer clock;
        clock.start();
        Splash* splash = nullptr;
        QVERIFY(ReturnsAtOnce([&] { splash = Splash::Show(200); }));
        QVERIFY(splash->isVisible() && splash->mask().contains(QPoint(150, 150)));
        QVERIFY(!splash->mask().contains(QPoint(22, 26)));
        QSignalSpy closed(splash, &QDialog::finished);
        QVERIFY(closed.wait(5000));
        QVERIFY(clock.elapsed() >= 150);
        QVERIFY(!Splash::wanted({QStringLiteral("--once")}));
    }

    void everyKeyHasAPicture() {
        for (const QString& key : IconBankKeys())
            QVERIFY2(!IconBank(key).pixmap(24, 22).isNull(), qPrintable(key));
        for (const QString& key : Bank16x16Keys())
            QVERIFY2(!Bank16x16(key).pixmap(12, 10).isNull(), qPrintable(key));
        for (const QString& key : TrayIconKeys())
            QVERIFY2(!TrayIcon(key).pixmap(32, 32).isNull(), qPrintable(key));
        QVERIFY(!ApplicationIcon().pixmap(64, 64).isNull());
    }

    void closeApplicationClosesInOrder() {
        struct Recorder : QObject {
            QStringList order;
            bool eventFilter(QObject* watched, QEvent* event) override {
                if (event->type() == QEvent::Close)
                    order << watched->objectName();
                return false;
            }
        } recorder;
        std::deque<QWidget> windows; // opened in the reverse order, with one the program does not close
        QStringList names = CloseOrder();
        std::reverse(names.begin(), names.end());
        for (const QString& name : names + QStringList{QStringLiteral("Unrelated")}) {
            QWidget& window = windows.emplace_back();
            window.setObjectName(name);
            window.installEventFilter(&recorder);
            window.show();
        }
        CloseApplication();
        QCOMPARE(recorder.order, CloseOrder());
    }

    // The tray is driven through its owner: only the left click restores, the menu offers About and Exit.
    void trayClicksAndMenu() {
        QWidget window;
        window.setWindowIcon(TrayIcon(QStringLiteral("mastericon")));
        SysTray tray;
        tray.AddTrayIcon(&window);
        tray.SetTrayTip(QString(70, QLatin1Char('x')));
        QCOMPARE(tray.tip(), QString(63, QLatin1Char('x'))); // the platform's field keeps 63 and an end mark
        for (auto reason :
             {QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick})
            tray.activated(reason);
        QVERIFY(!window.isVisible());
        tray.activated(QSystemTrayIcon::Trigger);
        QVERIFY(window.isVisible());
        QCOMPARE(tray.tip(), QStringLiteral("Webcam Zantrel 2.00,Ready"));

        const QList<QAction*> items = tray.menu()->actions();
        QSignalSpy about(&tray, &SysTray::aboutRequested);
        QSignalSpy exit(&tray, &SysTray::exitRequested);
        items[0]->trigger();
        QVERIFY(about.size() == 1 && exit.isEmpty());
        items[2]->trigger();
        QVERIFY(about.size() == 1 && exit.size() == 1);
        tray.RemoveTrayIcon();
        QVERIFY(!tray.icon());
    }
};

QTEST_MAIN(TestSmallWindows)
#include "test_small_windows.moc"
