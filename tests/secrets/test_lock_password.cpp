#include "core/setting_keys.h"
#include "core/store.h"
#include "secrets/lock_password.h"
#include "settings/settings_form.h"
#include "support/temp_store.h"

#include <QTest>

using namespace zantrel;
using zantrel::test::TempStore;

class TestLockPassword : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void hashOpensOnlyWithItsPassword() {
        const QString stored = HashLockPassword(QStringLiteral("Gate7"), 1000);
        QVERIFY(stored.startsWith(QStringLiteral("$pbkdf2-sha256$i=1000$")));
        QVERIFY(!stored.contains(QStringLiteral("Gate7")));
        QVERIFY(stored != HashLockPassword(QStringLiteral("Gate7"), 1000)); // salted
        QCOMPARE(CheckLockPassword(QStringLiteral("Gate7"), stored), LockCheck::Accepted);
        QCOMPARE(CheckLockPassword(QStringLiteral("gate7"), stored), LockCheck::Refused);
        QCOMPARE(CheckLockPassword(QString(), stored), LockCheck::Refused);
        QCOMPARE(CheckLockPassword(QStringLiteral("Gate7"), QStringLiteral("Gate7")), LockCheck::Accepted);
        QCOMPARE(CheckLockPassword(QStringLiteral("Gate"), QStringLiteral("Gate7")), LockCheck::Refused);

        // Cut short, edited or with absurd parameters: nothing opens it, and it says so.
        const QString hash = stored.section(QLatin1Char('$'), 4, 4);
        for (const QString& damaged :
             {stored.chopped(4), stored + QStringLiteral("$x"),
              QString(stored).replace(hash, QStringLiteral("AAAA")),
              QString(stored).replace(QStringLiteral("i=1000$"), QStringLiteral("i=999999999$")),
              QString(stored).replace(QStringLiteral("i=1000$"), QStringLiteral("i=0$"))})
            QCOMPARE(CheckLockPassword(QStringLiteral("Gate7"), damaged), LockCheck::Damaged);
        QVERIFY(DamagedLockPasswordText().contains(QStringLiteral("USEPASS=0")));
    }

    void plainValueOpensOnceAndIsReplaced() {
        TempStore store;
        SaveSetting(keys::PrefPassword, QStringLiteral("Gate7"));
        QCOMPARE(CheckStoredLockPassword(QStringLiteral("Gate8")), LockCheck::Refused);
        QCOMPARE(GetSetting(keys::PrefPassword), QStringLiteral("Gate7"));
        QCOMPARE(CheckStoredLockPassword(QStringLiteral("Gate7")), LockCheck::Accepted);
        const QString stored = GetSetting(keys::PrefPassword);
        QVERIFY(IsLockPasswordHash(stored));
        QCOMPARE(CheckStoredLockPassword(QStringLiteral("Gate7")), LockCheck::Accepted);
        QCOMPARE(CheckStoredLockPassword(QStringLiteral("Gate8")), LockCheck::Refused);
    }

    // The settings page stores a new password as its hash and leaves an untouched one as it is.
    void settingsStoreTheHash() {
        TempStore store;
        SettingsForm f = LoadSettingsForm();
        f.prefs.usePassword = true;
        f.prefs.password = QStringLiteral("Gate7");
        QCOMPARE(ConfirmSettingsForm(f), ConfirmOutcome::Stored);
        const QString stored = GetSetting(keys::PrefPassword);
        QVERIFY(IsLockPasswordHash(stored));
        QCOMPARE(CheckLockPassword(QStringLiteral("Gate7"), stored), LockCheck::Accepted);
        QCOMPARE(ConfirmSettingsForm(LoadSettingsForm()), ConfirmOutcome::Stored);
        QCOMPARE(GetSetting(keys::PrefPassword), stored);
    }
};

QTEST_MAIN(TestLockPassword)
#include "test_lock_password.moc"
