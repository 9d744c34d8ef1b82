#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"
#include "shell/password_prompt.h"
#include "support/message_recorder.h"
#include "support/temp_store.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

using namespace zantrel;
using zantrel::test::MessageRecorder;
using zantrel::test::TempStore;

class TestPasswordPrompt : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // What is typed (\b is a backspace) and the key that ends the prompt, against the stored password.
    void answers_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("refusedWithMessage");
        const QString gate = QStringLiteral("Gate7");
        QTest::newRow("right") << gate << gate << int(Qt::Key_Return) << true << false;
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
        MessageRecorder messages;
        QTimer::singleShot(0, [&] { // real key events into the prompt's box, which never shows the text
            QWidget* prompt = QApplication::activeModalWidget();
            auto* box = prompt ? prompt->findChild<QLineEdit*>(QStringLiteral("Passw")) : nullptr;
            QVERIFY(box && box->echoMode() == QLineEdit::Password);
            for (QChar c : typed)
                c == u'\b' ? QTest::keyClick(box, Qt::Key_Backspace) : QTest::keyClicks(box, QString(c));
            QTest::keyClick(box, Qt::Key(key));
        });
        QCOMPARE(frmPassword::Ask(messages, nullptr), accepted);
        QCOMPARE(messages.texts(),
                 refusedWithMessage ? QStringList{QStringLiteral("Incorrect Password.")} : QStringList());
        if (refusedWithMessage)
            QCOMPARE(messages.icons().first(), MessageIcon::Critical);
    }

    void onlyExactlyOneAsksForThePassword() { // 1 asks: see the main window's test
        TempStore store;
        SaveSetting(keys::PrefUsePassword, QStringLiteral("2"));
        QVERIFY(!PasswordRequired());
    }
};

QTEST_MAIN(TestPasswordPrompt)
#include "test_password_prompt.moc"
