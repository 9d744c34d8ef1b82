#include "core/setting_keys.h"
#include "core/store.h"
#include "secrets/lock_password.h"
#include "shell/password_prompt.h"
#include "support/returns_at_once.h"
#include "support/temp_store.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

using namespace zantrel;
using zantrel::test::ReturnsAtOnce;
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
};

QTEST_MAIN(TestPasswordPrompt)
#include "test_password_prompt.moc"
