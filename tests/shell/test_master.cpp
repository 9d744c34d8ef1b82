#include "capture/capture_view.h"
#include "capture/capture_window.h"
#include "capture/video_window.h"
#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "shell/caption_row.h"
#include "shell/master.h"
#include "shell/pictures.h"
#include "shell/quit_on_signal.h"
#include "shell/tray_icon.h"
#include "support/returns_at_once.h"
#include "support/temp_store.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <csignal>

using namespace zantrel;
using zantrel::test::ReturnsAtOnce;
using zantrel::test::TempStore;

class TestMaster : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() {
        // A camera to connect, so start-up shows no "no camera" message.
        qputenv("WEBCAM_ZANTREL_TEST_CAMERA", "videotestsrc pattern=red ! video/x-raw,width=320,height=240");
    }

    // The skin follows every resize: only the too-small dimension snaps back (stored twips included), the
    // caption buttons end where the container ends, the live picture fills the video area, every toolbar
    // button shows (captions beside their pictures where there is room); a maximized window is left alone.
    void layoutRule() {
        TempStore store;
        SaveSetting(keys::LoadWidth, QStringLiteral("6000"));
        SaveSetting(keys::LoadHeight, QStringLiteral("1500")); // 100 px: below the minimum
        Master m;
        m.load();
        QCOMPARE(m.size(), QSize(400, Master::kMinimumHeight));
        m.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m));
        QCOMPARE(m.statusLabel()->font().pointSizeF(), 8.25);
        for (const char* key : {"about", "gallery"}) { // a button without a tip shows none, not its caption
            QWidget* button = m.masterToolbar()->widgetForAction(m.masterToolbarAction(QLatin1String(key)));
            QHelpEvent ask(QEvent::ToolTip, QPoint(4, 4), button->mapToGlobal(QPoint(4, 4)));
            QApplication::sendEvent(button, &ask);
            QCOMPARE(QToolTip::text(), key == QLatin1String("about") ? "" : "Captured Image Gallery");
            QToolTip::hideText();
        }
        m.resize(100, 300);
        QCOMPARE(m.size(), QSize(Master::kMinimumWidth, 300));
        auto* controls = m.findChild<QWidget*>(QStringLiteral("MasterControls"));
        auto* video = m.findChild<VideoWindow*>(QStringLiteral("VideoWindow"));
        for (const QSize size : {QSize(250, 230), QSize(349, 319), QSize(900, 600)}) {
            m.resize(size);
            const QWidget* close = m.captionRow().button(QStringLiteral("close"));
            QCOMPARE(close->mapTo(&m, QPoint(close->width(), 0)).x(), size.width() - 18);
            QCOMPARE(controls->geometry(), QRect(10, 22, size.width() - 28, size.height() - 51));
            QCOMPARE(m.statusLabel()->y(), controls->geometry().bottom() + 3);
            QTRY_COMPARE(m.captureWindow().captureView()->size(), video->size());
            for (const QToolBar* bar : controls->findChildren<QToolBar*>()) { // no button folded away
                for (QAction* a : bar->actions())
                    QVERIFY2(!a->isVisible() || bar->widgetForAction(a)->isVisible(), qPrintable(a->text()));
                QVERIFY(size.width() < 900 || bar->toolButtonStyle() == Qt::ToolButtonTextBesideIcon);
            }
        }
        m.close(); // stores the size it has, in twips (ended by a signal: see the start-up test)
        QCOMPARE(GetSetting(keys::LoadWidth) + " " + GetSetting(keys::LoadHeight), "13500 9000");
        const QRect before = controls->geometry();
        m.showMaximized();
        QTRY_VERIFY(m.isMaximized() && m.width() != 900);
        QCOMPARE(controls->geometry(), before);
    }

    // With the password on, every command but "about" asks for it and runs only past the right one.
    void passwordGate_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("answer");
        QTest::newRow("run, refused") << "run" << int(Qt::Key_Escape);
        QTest::newRow("run, right") << "run" << int(Qt::Key_Return);
        QTest::newRow("gallery, right") << "gallery" << int(Qt::Key_Return);
        QTest::newRow("settings, refused") << "settings" << int(Qt::Key_Escape);
        QTest::newRow("about, no prompt") << "about" << 0;
    }
    void passwordGate() {
        QFETCH(QString, key);
        QFETCH(int, answer);
        TempStore store;
        SaveSetting(keys::PrefUsePassword, QStringLiteral("1"));
        SaveSetting(keys::PrefPassword, QStringLiteral("Gate7"));
        SaveSetting(keys::PrefAutoRun, QStringLiteral("2")); // only 1 starts the timer on loading
        Master m;
        m.load();
        QSignalSpy asked(&m, key == "gallery" ? &Master::galleryRequested : &Master::settingsRequested);
        const auto click = [&] { key == "run" ? m.otherToolbarClicked(key) : m.masterToolbarClicked(key); };
        QVERIFY(ReturnsAtOnce(click));
        QWidget* modal = QApplication::activeModalWidget(); // the prompt gets the password and the key
        QVERIFY(modal);
        QCOMPARE(modal->objectName(), key == "about" ? "frmAbout" : "frmPassword");
        if (auto* box = modal->findChild<QLineEdit*>(QStringLiteral("Passw"))) {
            QTest::keyClicks(box, QStringLiteral("Gate7"));
            QTest::keyClick(box, Qt::Key(answer));
            QCOMPARE(key == "run" ? m.runControl().buttons().stop : asked.size() == 1,
                     answer == Qt::Key_Return);
        } else {
            modal->close();
        }
        QTRY_VERIFY(!QApplication::activeModalWidget());
    }

    void onTopPairAndMinimize() {
        TempStore store;
        SysTray::setAvailableForTesting(true);
        Master m;
        m.load();
        m.show();
        QToolButton* onTop = m.captionRow().button(QStringLiteral("ontop"));
        QToolButton* notOnTop = m.captionRow().button(QStringLiteral("notontop"));
        QVERIFY(notOnTop->isChecked() && !onTop->isChecked());
        QCOMPARE(m.windowType(), Qt::Tool); // not in the task bar
        for (int i = 0; i < 2; ++i) {
            onTop->click();
            QVERIFY(m.windowFlags() & Qt::WindowStaysOnTopHint);
            QVERIFY(onTop->isChecked() && !notOnTop->isChecked() && m.isVisible());
        }
        notOnTop->click();
        QVERIFY(!(m.windowFlags() & Qt::WindowStaysOnTopHint));
        QVERIFY(notOnTop->isChecked() && !onTop->isChecked());

        QCOMPARE(m.tray().tip(), QStringLiteral("Webcam Zantrel 2.00,Ready"));
        Q_EMIT m.runControl().trayImageChanged(RunControl::NowIcon); // the blink while publishing
        QCOMPARE(m.tray().icon()->icon().pixmap(16).toImage(),
                 TrayIcon(QStringLiteral("now")).pixmap(16).toImage());
        m.captionRow().button(QStringLiteral("minimize"))->click();
        QVERIFY(!m.isVisible());
        QCOMPARE(m.tray().tip(), QStringLiteral("Webcam Zantrel 2.00,Minimized - Click to restore window"));
        { // a session ending while the window is in the tray still stores where it was
            QuitOnSignal quitOnSignal;
            ::raise(SIGTERM);
            QTRY_COMPARE(GetSetting(keys::LoadWidth), QString::number(m.width() * Master::kTwipsPerPixel));
        }

        // No notification area: the window has to stay reachable from the task bar.
        SysTray::setAvailableForTesting(false);
        Master plain;
        plain.load();
        plain.show();
        QCOMPARE(plain.windowType(), Qt::Window);
        plain.captionRow().button(QStringLiteral("minimize"))->click();
        QVERIFY(plain.isMinimized());
        SysTray::setAvailableForTesting({});
    }

    // Without a notification area the window itself tells what goes on. At the default size the status
    // line keeps the countdown's end. Each job says how it went for a few seconds; while a server fails,
    // a mark with the reason as its tip shows, and the reason stands on the status line between jobs.
    void statusLineTellsHowPublishingGoes() {
        TempStore store;
        QVERIFY(QDir(store.dir()).mkdir(QStringLiteral("up")));
        store.set("FTP", QStringLiteral("UPLOAD"), QStringLiteral("1"));
        store.set("FTP", QStringLiteral("SERVERS"), QStringLiteral("2"));
        store.set("FTP", serverEntryKey(keys::FtpEntryAddress, 1), "file://" + store.dir() + "/up");
        store.set("FTP", serverEntryKey(keys::FtpEntryAddress, 2), "file://" + store.dir() + "/missing");
        store.set("ALERT", QStringLiteral("AFTER"), QStringLiteral("1"));
        store.set("ALERT", QStringLiteral("DESKTOP"), QStringLiteral("0"));
        ManualClock clock(QDateTime(QDate(2026, 5, 12), QTime(18, 32, 11)));
        ScopedClock useClock(clock);
        SysTray::setAvailableForTesting(false);
        Master m;
        m.load();
        m.show();
        StatusLabel* line = m.statusLabel();

        m.runControl().reschedule();
        QVERIFY2(QRegularExpression(QStringLiteral("\\(in \\d\\d:\\d\\d:\\d\\d\\)$"))
                     .match(line->shownText())
                     .hasMatch(),
                 qPrintable(line->shownText()));
        QVERIFY(line->fontMetrics().horizontalAdvance(line->shownText()) <= line->contentsRect().width());
        m.runControl().FTPStop();

        QVERIFY(m.warningMark()->isHidden());
        m.runControl().FTPNow();
        QTRY_COMPARE_WITH_TIMEOUT(line->text(), QStringLiteral("Published 18:32:11 to 1 of 2 servers"),
                                  20000);
        QTRY_VERIFY_WITH_TIMEOUT(m.warningMark()->isVisible(), 10000);
        const QString reason = m.warningMark()->toolTip();
        QVERIFY2(reason.contains(QLatin1String("/missing failed")), qPrintable(reason));
        QVERIFY(m.rect().contains(m.warningMark()->geometry()));
        QVERIFY(!m.warningMark()->geometry().intersects(line->geometry()));
        QCOMPARE(line->text(), QStringLiteral("Published 18:32:11 to 1 of 2 servers")); // still

        clock.advance(StatusLineText::kSummaryMs);
        m.runControl().reschedule();
        QCOMPARE(line->text(), reason);
        m.runControl().FTPStop();
        SysTray::setAvailableForTesting({});
    }
};

QTEST_MAIN(TestMaster)
#include "test_master.moc"
