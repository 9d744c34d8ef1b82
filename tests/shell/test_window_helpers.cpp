#include "shell/browse_for_folder.h"
#include "shell/drag_window.h"

#include <QMouseEvent>
#include <QTest>

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
};

QTEST_MAIN(TestWindowHelpers)
#include "test_window_helpers.moc"
