#include "capture/capture_view.h"
#include "capture/capture_window.h"
#include "capture/video_window.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "shell/caption_row.h"
#include "shell/close_application.h"
#include "shell/master.h"
#include "shell/tray_icon.h"
#include "support/temp_store.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <csignal>

using namespace zantrel;
using zantrel::test::TempStore;

namespace {

bool enabled(Master& m, const char* key) {
    return m.otherToolbarAction(QString::fromLatin1(key))->isEnabled();
}

// Answers the next modal password prompt by typing text and pressing a key, and confirms any message box.
void answerPrompt(const QString& text, Qt::Key key) {
    QTimer::singleShot(0, [text, key] {
        QWidget* prompt = QApplication::activeModalWidget();
        QVERIFY(prompt);
        auto* box = prompt->findChild<QLineEdit*>(QStringLiteral("Passw"));
        QVERIFY(box);
        QTimer::singleShot(0, [] {
            if (auto* message = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                message->accept();
        });
        QTest::keyClicks(box, text);
        QTest::keyClick(box, key);
    });
}

} // namespace

class TestMaster : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() {
        // A camera to connect, so start-up shows no "no camera" message.
        qputenv("WEBCAM_ZANTREL_TEST_CAMERA", "videotestsrc pattern=red ! video/x-raw,width=320,height=240");
    }

    void livePictureFillsTheVideoArea() {
        TempStore store;
        Master m;
        m.load();
        m.show();
        auto* video = m.findChild<VideoWindow*>(QStringLiteral("VideoWindow"));
        QVERIFY(video);
        for (const QSize size : {QSize(300, 260), QSize(420, 380)}) {
            m.resize(size);
            QVERIFY(m.captureWindow().captureView());
            QTRY_COMPARE(m.captureWindow().captureView()->size(), video->size());
        }
    }

    void storedGeometryIsInTwipsAndTheMinimumHolds() {
        TempStore store;
        SaveSetting(keys::LoadWidth, QStringLiteral("6000"));
        SaveSetting(keys::LoadHeight, QStringLiteral("1500")); // 100 px: below the minimum
        Master m;
        m.load();
        QCOMPARE(m.width(), 400);
        QCOMPARE(m.height(), Master::kMinimumHeight);
    }

    void autoRunOnlyForExactlyOne() {
        TempStore store;
        SaveSetting(keys::PrefAutoRun, QStringLiteral("2"));
        {
            Master m;
            m.load();
            QVERIFY(!m.runControl().timerActive());
        }
        SaveSetting(keys::PrefAutoRun, QStringLiteral("1"));
        Master m;
        m.load();
        QVERIFY(m.runControl().timerActive());
        QVERIFY(!enabled(m, "run"));
        QVERIFY(enabled(m, "stop"));
        QVERIFY(!m.masterToolbar()->isEnabled());
    }

    // With the password on, every command but "about" waits for the right password.
    void passwordGate_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("pressed");
        QTest::addColumn<bool>("runs");
        QTest::newRow("run, wrong") << "run"
                                    << "wrong" << int(Qt::Key_Return) << false;
        QTest::newRow("run, escape") << "run"
                                     << "Gate7" << int(Qt::Key_Escape) << false;
        QTest::newRow("run, right") << "run"
                                    << "Gate7" << int(Qt::Key_Return) << true;
        QTest::newRow("gallery, wrong") << "gallery"
                                        << "gate7" << int(Qt::Key_Return) << false;
        QTest::newRow("gallery, right") << "gallery"
                                        << "Gate7" << int(Qt::Key_Return) << true;
        QTest::newRow("settings, escape") << "settings"
                                          << "Gate7" << int(Qt::Key_Escape) << false;
        QTest::newRow("settings, right") << "settings"
                                         << "Gate7" << int(Qt::Key_Return) << true;
        QTest::newRow("about, no prompt") << "about"
                                          << "" << 0 << true;
    }
    void passwordGate() {
        QFETCH(QString, key);
        QFETCH(QString, typed);
        QFETCH(int, pressed);
        QFETCH(bool, runs);
        TempStore store;
        SaveSetting(keys::PrefUsePassword, QStringLiteral("1"));
        SaveSetting(keys::PrefPassword, QStringLiteral("Gate7"));
        Master m;
        m.load();
        QSignalSpy gallery(&m, &Master::galleryRequested);
        QSignalSpy settings(&m, &Master::settingsRequested);
        QString opened;
        if (pressed)
            answerPrompt(typed, Qt::Key(pressed));
        else
            QTimer::singleShot(0, [&opened] {
                QWidget* w = QApplication::activeModalWidget();
                opened = w ? w->objectName() : QString();
                if (w)
                    w->close();
            });
        if (key == QLatin1String("run"))
            m.otherToolbarClicked(key);
        else
            m.masterToolbarClicked(key);
        const bool ran = key == QLatin1String("run")     ? m.runControl().timerActive()
                         : key == QLatin1String("about") ? opened == QLatin1String("frmAbout")
                                                         : gallery.size() + settings.size() == 1;
        QCOMPARE(ran, runs);
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
            QVERIFY(onTop->isChecked() && !notOnTop->isChecked());
            QVERIFY(m.isVisible());
        }
        notOnTop->click();
        QVERIFY(!(m.windowFlags() & Qt::WindowStaysOnTopHint));
        QVERIFY(notOnTop->isChecked() && !onTop->isChecked());

        QCOMPARE(m.tray().tip(), QStringLiteral("Webcam Zantrel 2.00,Ready"));
        m.captionRow().button(QStringLiteral("minimize"))->click();
        QVERIFY(!m.isVisible());
        QCOMPARE(m.tray().tip(), QStringLiteral("Webcam Zantrel 2.00,Minimized - Click to restore window"));
        m.tray().activated(QSystemTrayIcon::Trigger);
        QVERIFY(m.isVisible());

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

    // The main window stores its state however the program is ended: SIGTERM to the running program.
    void windowStateIsSavedOnSigterm() {
        TempStore store;
        QTemporaryDir home;
        const QString ini = home.path() + QStringLiteral("/KALDOR/KALDOR.ini");
        {
            QSettings settings(ini, QSettings::IniFormat);
            settings.setValue(QStringLiteral("FT/FIRSTTIME"), QStringLiteral("NO"));
            settings.setValue(QStringLiteral("LOAD/WIDTH"), QStringLiteral("6000"));
            settings.setValue(QStringLiteral("LOAD/HEIGHT"), QStringLiteral("1500"));
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ZANTREL_BINARY), {});
        QVERIFY(p.waitForStarted());
        // The camera's index is written once the window is being loaded.
        QTRY_VERIFY_WITH_TIMEOUT(QSettings(ini, QSettings::IniFormat).contains(QStringLiteral("VFW/INDEX")),
                                 20000);
        QTest::qWait(500);
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QSettings saved(ini, QSettings::IniFormat);
        QCOMPARE(saved.value(QStringLiteral("LOAD/WIDTH")).toString(), QStringLiteral("6000"));
        QCOMPARE(saved.value(QStringLiteral("LOAD/HEIGHT")).toString(), QStringLiteral("3450"));
    }
};

QTEST_MAIN(TestMaster)
#include "test_master.moc"
