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
    // What is typed (\b is a backspace) and the key that ends the prompt, against the stored password.
    void answers_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("refusedWithMessage");
        QTest::newRow("right") << "Gate7"
                               << "Gate7" << int(Qt::Key_Return) << true << false;
        QTest::newRow("wrong case") << "Gate7"
                                    << "gate7" << int(Qt::Key_Return) << false << true;
        QTest::newRow("escape") << "Gate7"
                                << "Gate7" << int(Qt::Key_Escape) << false << false;
        QTest::newRow("empty, untouched") << ""
                                          << "" << int(Qt::Key_Return) << false << true;
        QTest::newRow("empty, changed") << ""
                                        << "a\b" << int(Qt::Key_Return) << true << false;
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
        QCOMPARE(answer(messages,
                        [&](QLineEdit* box) {
                            for (QChar c : typed)
                                if (c == u'\b')
                                    QTest::keyClick(box, Qt::Key_Backspace);
                                else
                                    QTest::keyClicks(box, QString(c));
                            QTest::keyClick(box, Qt::Key(key));
                        }),
                 accepted);
        QCOMPARE(messages.texts(),
                 refusedWithMessage ? QStringList{QStringLiteral("Incorrect Password.")} : QStringList());
        if (refusedWithMessage)
            QCOMPARE(messages.icons().first(), MessageIcon::Critical);
    }

    void onlyExactlyOneAsksForThePassword() {
        TempStore store;
        for (const char* use : {"2", "1"}) {
            SaveSetting(keys::PrefUsePassword, QString::fromLatin1(use));
            QCOMPARE(PasswordRequired(), use[0] == '1');
        }
    }
};

QTEST_MAIN(TestPasswordPrompt)
#include "test_password_prompt.moc"
