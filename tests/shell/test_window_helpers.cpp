#include "shell/browse_for_folder.h"
#include "shell/drag_window.h"

#include <QLabel>
#include <QMouseEvent>
#include <QTest>
#include <QToolButton>

using namespace zantrel;

namespace {

void sendMouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint globalPos) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, w->mapFromGlobal(globalPos), globalPos,
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

} // namespace

class TestWindowHelpers : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void browseForFolder_data() {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("expected");
        QTest::newRow("folder") << "/home/ann/pictures"
                                << "/home/ann/pictures/";
        QTest::newRow("trailing slashes") << "/home/ann/pictures//"
                                          << "/home/ann/pictures/";
        QTest::newRow("root") << "/"
                              << "/";
        // Longer than the 260 characters a fixed path buffer would hold: returned whole.
        const QString deep = QStringLiteral("/srv/") + QString(300, QLatin1Char('d'));
        QTest::newRow("long path") << deep << deep + QLatin1Char('/');
        QTest::newRow("cancel") << ""
                                << "!CANCEL!";
    }
    void browseForFolder() {
        QFETCH(QString, chosen);
        QFETCH(QString, expected);
        QWidget owner;
        QWidget* seenOwner = nullptr;
        QString seenTitle;
        SetFolderChooser([&](QWidget* o, const QString& title) {
            seenOwner = o;
            seenTitle = title;
            return chosen;
        });
        QCOMPARE(BrowseForFolder(&owner), expected);
        SetFolderChooser({});
        QCOMPARE(seenOwner, &owner);
        QCOMPARE(seenTitle, QStringLiteral("Click On a directory and it's path will be saved image files."));
    }

    // Where the platform refuses to move the window (offscreen, a bare X server) it follows the mouse.
    void dragFollowsTheMouseWithTheRightButtons() {
        QWidget window;
        window.setGeometry(100, 100, 200, 150);
        auto* leftOnly = new QWidget(&window);
        auto* anyButton = new QWidget(&window);
        WindowDrag::attach(leftOnly);
        WindowDrag::attach(anyButton, &window, Qt::AllButtons);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        struct Case {
            QWidget* handle;
            Qt::MouseButton button;
            QPoint moved;
        };
        for (const Case& c :
             {Case{leftOnly, Qt::RightButton, {0, 0}}, Case{leftOnly, Qt::LeftButton, {30, -20}},
              Case{anyButton, Qt::RightButton, {30, -20}}}) {
            const QPoint before = window.pos();
            const QPoint start = c.handle->mapToGlobal(QPoint(5, 5));
            sendMouse(c.handle, QEvent::MouseButtonPress, c.button, start);
            sendMouse(c.handle, QEvent::MouseMove, c.button, start + QPoint(30, -20));
            sendMouse(c.handle, QEvent::MouseButtonRelease, c.button, start + QPoint(30, -20));
            sendMouse(c.handle, QEvent::MouseMove, c.button, start + QPoint(90, 90));
            QCOMPARE(window.pos(), before + c.moved);
        }
    }

    void frameEdgesResize_data() {
        QTest::addColumn<QPoint>("pressAt");
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QRect>("expected");
        QTest::newRow("right edge") << QPoint(198, 70) << QPoint(40, 10) << QRect(100, 100, 240, 150);
        QTest::newRow("bottom left corner") << QPoint(1, 148) << QPoint(-20, 30) << QRect(80, 100, 220, 180);
        QTest::newRow("top edge, held at the minimum")
            << QPoint(90, 0) << QPoint(0, 120) << QRect(100, 150, 200, 100);
    }
    void frameEdgesResize() {
        QFETCH(QPoint, pressAt);
        QFETCH(QPoint, delta);
        QFETCH(QRect, expected);
        QWidget window;
        window.setMinimumSize(120, 100);
        window.setGeometry(100, 100, 200, 150);
        FrameResizer::attach(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint start = window.mapToGlobal(pressAt);
        sendMouse(&window, QEvent::MouseButtonPress, Qt::LeftButton, start);
        sendMouse(&window, QEvent::MouseMove, Qt::LeftButton, start + delta);
        sendMouse(&window, QEvent::MouseButtonRelease, Qt::LeftButton, start + delta);
        QCOMPARE(window.geometry(), expected);
    }
};

QTEST_MAIN(TestWindowHelpers)
#include "test_window_helpers.moc"
