// The main window, its sinks as the job's thread uses them, and the shell's small windows and helpers:
// about box, splash, icons, closing, tray, password prompt, folder chooser, dragging and sizing.
#include "capture/capture_view.h"
#include "capture/capture_window.h"
#include "capture/video_window.h"
#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "core/version.h"
#include "secrets/lock_password.h"
#include "shell/about_box.h"
#include "shell/browse_for_folder.h"
#include "shell/caption_row.h"
#include "shell/close_application.h"
#include "shell/drag_window.h"
#include "shell/master.h"
#include "shell/password_prompt.h"
#include "shell/pictures.h"
#include "shell/quit_on_signal.h"
#include "shell/splash.h"
#include "shell/tray_icon.h"
#include "shell/window_sinks.h"
#include "support/returns_at_once.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"
#include "support/worker.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QWindow>
#include <csignal>
#include <deque>

using namespace zantrel;
using namespace zantrel::test;
using zantrel::test::ReturnsAtOnce;
using zantrel::test::TempStore;

namespace {

void sendMouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint globalPos) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, w->mapFromGlobal(globalPos), globalPos,
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

QList<QMessageBox*> boxesOn(const QWidget& window) {
    QList<QMessageBox*> boxes = window.findChildren<QMessageBox*>();
    boxes.removeIf([](const QMessageBox* box) { return !box->isVisible(); });
    return boxes;
}

} // namespace

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

    // What is typed (\b is a backspace) and the key that ends the prompt, against the stored password.
    void answers_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("refusedWithMessage");
        const QString gate = QStringLiteral("Gate7");
        QTest::newRow("right") << gate << gate << int(Qt::Key_Return) << true << false;
        QTest::newRow("right, hashed")
            << HashLockPassword(gate, 1000) << gate << int(Qt::Key_Return) << true << false;
        QTest::newRow("damaged hash")
            << QStringLiteral("$pbkdf2-sha256$i=1000$cut") << gate << int(Qt::Key_Return) << false << true;
        QTest::newRow("wrong case") << gate << gate.toLower() << int(Qt::Key_Return) << false << true;
        QTest::newRow("escape") << gate << gate << int(Qt::Key_Escape) << false << false;
        QTest::newRow("empty, untouched") << QString() << QString() << int(Qt::Key_Return) << false << true;
        QTest::newRow("empty, changed")
            << QString() << QStringLiteral("a\b") << int(Qt::Key_Return) << true << false;
    }
    void answers() {
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(int, key);
        QFETCH(bool, accepted);
        QFETCH(bool, refusedWithMessage);
        TempStore store;
        SaveSetting(keys::PrefPassword, stored);
        QWidget owner;
        owner.show();
        for (int attempt = 0; attempt < 2; ++attempt) { // every refusal says so in a box of its own
            int accepts = 0;
            QVERIFY(ReturnsAtOnce([&] { frmPassword::Ask(&owner, [&] { ++accepts; }); }));
            // Real key events into the prompt's box, which never shows the text.
            QWidget* prompt = QApplication::activeModalWidget();
            auto* box = prompt ? prompt->findChild<QLineEdit*>(QStringLiteral("Passw")) : nullptr;
            QVERIFY(box && box->echoMode() == QLineEdit::Password);
            for (QChar c : typed)
                c == u'\b' ? QTest::keyClick(box, Qt::Key_Backspace) : QTest::keyClicks(box, QString(c));
            QTest::keyClick(box, Qt::Key(key));
            QCOMPARE(accepts, accepted ? 1 : 0);
            auto* said = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QCOMPARE(said != nullptr, refusedWithMessage);
            if (said) {
                QCOMPARE(said->text(), IsLockPasswordHash(stored) ? DamagedLockPasswordText()
                                                                  : QStringLiteral("Incorrect Password."));
                QCOMPARE(said->icon(), QMessageBox::Critical);
                said->accept();
            }
            QTRY_VERIFY(!QApplication::activeModalWidget());
        }
    }

    void onlyExactlyOneAsksForThePassword() { // 1 asks: see the main window's test
        TempStore store;
        SaveSetting(keys::PrefUsePassword, QStringLiteral("2"));
        QVERIFY(!PasswordRequired());
    }

    // The chooser's folder comes back with exactly one trailing "/" and whole; a cancel as "!CANCEL!".
    void browseForFolder() {
        const QString deep =
            QStringLiteral("/srv/") + QString(300, QLatin1Char('d')); // past a 260-char buffer
        const QStringList chosen = {"/home/ann/pictures", "/home/ann/pictures//", "/", deep, ""};
        const QStringList expected = {"/home/ann/pictures/", "/home/ann/pictures/", "/", deep + "/",
                                      "!CANCEL!"};
        QWidget owner;
        for (qsizetype i = 0; i < chosen.size(); ++i) {
            QString seen;
            SetFolderChooser([&](QWidget* o, const QString& title) {
                seen = o == &owner ? title : QString();
                return chosen[i];
            });
            QCOMPARE(BrowseForFolder(&owner), expected[i]);
            QCOMPARE(seen, QStringLiteral("Click On a directory and it's path will be saved image files."));
        }
        SetFolderChooser({});
    }

    // Where the platform refuses to move or size the window (offscreen, a bare X server) it follows the
    // mouse: dragged by its handles with their buttons, sized from its edges; the release ends both.
    void windowFollowsTheMouse_data() {
        QTest::addColumn<QPoint>("pressAt");
        QTest::addColumn<int>("button");
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("left-only handle, right button")
            << QPoint(45, 45) << int(Qt::RightButton) << QPoint(30, -20) << QRect(100, 100, 200, 150);
        QTest::newRow("any-button handle")
            << QPoint(115, 45) << int(Qt::RightButton) << QPoint(30, -20) << QRect(130, 80, 200, 150);
        QTest::newRow("bottom left corner")
            << QPoint(1, 148) << int(Qt::LeftButton) << QPoint(-20, 30) << QRect(80, 100, 220, 180);
        QTest::newRow("top edge, held at the minimum")
            << QPoint(90, 0) << int(Qt::LeftButton) << QPoint(0, 120) << QRect(100, 150, 200, 100);
    }
    void windowFollowsTheMouse() {
        QFETCH(QPoint, pressAt);
        QFETCH(int, button);
        QFETCH(QPoint, delta);
        QFETCH(QRect, expected);
        QWidget window;
        window.setMinimumSize(120, 100);
        window.setGeometry(100, 100, 200, 150);
        auto* leftOnly = new QWidget(&window);
        auto* anyButton = new QWidget(&window);
        leftOnly->setGeometry(40, 40, 50, 50);
        anyButton->setGeometry(110, 40, 50, 50);
        WindowDrag::attach(leftOnly);
        WindowDrag::attach(anyButton, &window, Qt::AllButtons);
        FrameResizer::attach(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QWidget* target = window.childAt(pressAt) ? window.childAt(pressAt) : &window;
        const QPoint start = window.mapToGlobal(pressAt);
        const auto b = Qt::MouseButton(button);
        sendMouse(target, QEvent::MouseButtonPress, b, start);
        sendMouse(target, QEvent::MouseMove, b, start + delta);
        sendMouse(target, QEvent::MouseButtonRelease, b, start + delta);
        sendMouse(target, QEvent::MouseMove, b, start + 3 * delta);
        QCOMPARE(window.geometry(), expected);
    }

    // An unattended machine: the job goes on at once, and a message that keeps coming back is shown
    // once and counted in the status line.
    void jobMessagesNeitherWaitNorPileUp() {
        QWidget window;
        window.show();
        StatusRecorder status;
        WindowMessageSink sink(&window, status);
        const QString full = QStringLiteral("Error writing /srv/cam/x.JPGJPEG File.");
        onWorker([&] {
            for (int i = 0; i < 3; ++i)
                sink.showMessage(full);
            sink.showMessage(QStringLiteral("Failed to save to JPG"), MessageIcon::Critical);
        });
        QTRY_COMPARE(boxesOn(window).size(), 2);
        QCOMPARE(status.texts(), (QStringList{full + QStringLiteral(" (repeated once)"),
                                              full + QStringLiteral(" (repeated 2 times)")}));
        QVERIFY(!boxesOn(window).first()->isModal());

        // Once confirmed, the same text gets a box again.
        const QString again = boxesOn(window).first()->text();
        boxesOn(window).first()->button(QMessageBox::Ok)->click();
        QTRY_COMPARE(boxesOn(window).size(), 1);
        onWorker([&] { sink.showMessage(again); });
        QTRY_COMPARE(boxesOn(window).size(), 2);
        QCOMPARE(status.texts().size(), 2);
    }

    // A message while the window is still being set up opens once the window shows, on top of it; a
    // window hidden after it showed (in the tray) gets its box at once.
    void aBoxWaitsForItsWindowToShow() {
        QWidget window;
        StatusRecorder status;
        WindowMessageSink sink(&window, status);
        sink.showMessage(QStringLiteral("Lanthor: Cannot set preview mode."), MessageIcon::Critical);
        QTest::qWait(50);
        QVERIFY(boxesOn(window).isEmpty());
        window.show();
        QTRY_COMPARE(boxesOn(window).size(), 1);
        QCOMPARE(boxesOn(window).first()->windowHandle()->transientParent(), window.windowHandle());
        window.hide();
        sink.showMessage(QStringLiteral("Failed to save to JPG"));
        const QList<QMessageBox*> boxes = boxesOn(window);
        QVERIFY(std::any_of(boxes.cbegin(), boxes.cend(), [](const QMessageBox* box) {
            return box->text() == QLatin1String("Failed to save to JPG");
        }));
    }

    void statusTextsReachTheLabelAsOneLine() {
        QLabel label;
        LabelStatusSink sink(&label);
        onWorker([&] { sink.setStatus(QStringLiteral("Error:550 no\r\nsuch\tfile\x1b[2J\u2028end")); });
        QTRY_COMPARE(label.text(), QStringLiteral("Error:550 no  such file [2J end"));
    }

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

QTEST_MAIN(TestSmallWindows)
#include "test_small_windows.moc"
