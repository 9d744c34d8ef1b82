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

namespace {

// Opens the prompt, types into it with real key events, and reports what the caller would see.
bool answer(MessageRecorder& messages, const std::function<void(QLineEdit*)>& typing) {
    bool result = true;
    QTimer::singleShot(0, [&] {
        auto* prompt = qobject_cast<frmPassword*>(QApplication::activeModalWidget());
        QVERIFY(prompt);
        auto* box = prompt->findChild<QLineEdit*>(QStringLiteral("Passw"));
        QVERIFY(box);
        QCOMPARE(box->echoMode(), QLineEdit::Password);
        typing(box);
    });
    result = frmPassword::Ask(messages, nullptr);
    return result;
}

} // namespace

class TestPasswordPrompt : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void rightPasswordIsAccepted() {
        TempStore store;
        SaveSetting(keys::PrefPassword, QStringLiteral("Gate7"));
        MessageRecorder messages;
        QVERIFY(answer(messages, [](QLineEdit* box) {
            QTest::keyClicks(box, QStringLiteral("Gate7"));
            QTest::keyClick(box, Qt::Key_Return);
        }));
        QVERIFY(messages.texts().isEmpty());
    }

    void wrongCaseOrExtraCharacterIsRefusedWithAMessage() {
        TempStore store;
        SaveSetting(keys::PrefPassword, QStringLiteral("Gate7"));
        for (const QString& typed : {QStringLiteral("gate7"), QStringLiteral("Gate7x")}) {
            MessageRecorder messages;
            QVERIFY(!answer(messages, [typed](QLineEdit* box) {
                QTest::keyClicks(box, typed);
                QTest::keyClick(box, Qt::Key_Return);
            }));
            QCOMPARE(messages.texts(), QStringList{QStringLiteral("Incorrect Password.")});
            QCOMPARE(messages.icons().value(0), MessageIcon::Critical);
        }
    }

    void escapeRefusesWithoutAMessage() {
        TempStore store;
        SaveSetting(keys::PrefPassword, QStringLiteral("Gate7"));
        MessageRecorder messages;
        QVERIFY(!answer(messages, [](QLineEdit* box) {
            QTest::keyClicks(box, QStringLiteral("Gate7"));
            QTest::keyClick(box, Qt::Key_Escape);
        }));
        QVERIFY(messages.texts().isEmpty());
    }

    void emptyPasswordNeedsAChange() {
        TempStore store; // no password stored
        MessageRecorder untouched;
        QVERIFY(!answer(untouched, [](QLineEdit* box) { QTest::keyClick(box, Qt::Key_Return); }));
        QCOMPARE(untouched.texts(), QStringList{QStringLiteral("Incorrect Password.")});

        MessageRecorder changed;
        QVERIFY(answer(changed, [](QLineEdit* box) {
            QTest::keyClicks(box, QStringLiteral("a"));
            QTest::keyClick(box, Qt::Key_Backspace);
            QTest::keyClick(box, Qt::Key_Return);
        }));
    }

    void onlyExactlyOneAsksForThePassword() {
        TempStore store;
        QVERIFY(!PasswordRequired());
        SaveSetting(keys::PrefUsePassword, QStringLiteral("2"));
        QVERIFY(!PasswordRequired());
        SaveSetting(keys::PrefUsePassword, QStringLiteral("1"));
        QVERIFY(PasswordRequired());
    }
};

QTEST_MAIN(TestPasswordPrompt)
#include "test_password_prompt.moc"
