#include "capture/capture_view.h"
#include "capture/capture_window.h"
#include "capture/video_window.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "shell/master.h"
#include "support/temp_store.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QToolBar>

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

    void startsIdleWithTheCallButtonHidden() {
        TempStore store;
        Master m;
        m.load();
        QVERIFY(enabled(m, "run"));
        QVERIFY(enabled(m, "now"));
        QVERIFY(!enabled(m, "stop"));
        QVERIFY(!m.otherToolbarAction(QStringLiteral("call"))->isVisible());
        QVERIFY(m.masterToolbar()->isEnabled());
        QCOMPARE(m.windowTitle(), QStringLiteral("Webcam Zantrel 2.00"));
        QVERIFY(!m.runControl().timerActive());
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
        m.resize(100, 500);
        QCOMPARE(m.width(), Master::kMinimumWidth);
        QCOMPARE(m.height(), 500);
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

    void runAndStopThroughTheToolbar() {
        TempStore store;
        Master m;
        m.load();
        m.otherToolbarAction(QStringLiteral("run"))->trigger();
        QVERIFY(m.runControl().timerActive());
        m.otherToolbarAction(QStringLiteral("stop"))->trigger();
        QVERIFY(!m.runControl().timerActive());
        QTRY_COMPARE(m.statusLabel()->text(), QStringLiteral("End Transfering"));
    }

    void passwordGuardsEveryCommand() {
        TempStore store;
        SaveSetting(keys::PrefUsePassword, QStringLiteral("1"));
        SaveSetting(keys::PrefPassword, QStringLiteral("Gate7"));
        Master m;
        m.load();

        answerPrompt(QStringLiteral("wrong"), Qt::Key_Return);
        m.otherToolbarClicked(QStringLiteral("run"));
        QVERIFY(!m.runControl().timerActive());

        answerPrompt(QStringLiteral("Gate7"), Qt::Key_Escape);
        m.otherToolbarClicked(QStringLiteral("run"));
        QVERIFY(!m.runControl().timerActive());

        answerPrompt(QStringLiteral("Gate7"), Qt::Key_Return);
        m.otherToolbarClicked(QStringLiteral("run"));
        QVERIFY(m.runControl().timerActive());

        // Stop is guarded too.
        answerPrompt(QStringLiteral(""), Qt::Key_Escape);
        m.otherToolbarClicked(QStringLiteral("stop"));
        QVERIFY(m.runControl().timerActive());
        answerPrompt(QStringLiteral("Gate7"), Qt::Key_Return);
        m.otherToolbarClicked(QStringLiteral("stop"));
        QVERIFY(!m.runControl().timerActive());
    }
};

QTEST_MAIN(TestMaster)
#include "test_master.moc"
