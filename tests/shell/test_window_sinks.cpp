// The main window's sinks as the publishing job's thread uses them.
#include "shell/window_sinks.h"
#include "support/status_recorder.h"
#include "support/worker.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QWindow>

using namespace zantrel;
using namespace zantrel::test;

namespace {

QList<QMessageBox*> boxesOn(const QWidget& window) {
    QList<QMessageBox*> boxes = window.findChildren<QMessageBox*>();
    boxes.removeIf([](const QMessageBox* box) { return !box->isVisible(); });
    return boxes;
}

} // namespace

class TestWindowSinks : public QObject {
    Q_OBJECT
  private Q_SLOTS:
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
};

QTEST_MAIN(TestWindowSinks)
#include "test_window_sinks.moc"
