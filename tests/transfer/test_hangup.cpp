// Hanging up dial-up connections through a mock NetworkManager on a private bus.
#include "core/setting_keys.h"
#include "support/network_manager_mock.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"
#include "transfer/hangup.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace zantrel;
using namespace zantrel::test;

class TestHangUp : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    // Mobile broadband, PPPoE and Bluetooth dial-up go; Ethernet and a Bluetooth network link stay,
    // reached through the system bus as the program does, without waiting for NetworkManager. The beep
    // follows FTP/BEEP ("YES" exactly), also when nothing is left to hang up.
    void dialUpsGoOthersStay() {
        TempStore store;
        NetworkManagerMock nm;
        QVERIFY2(nm.isRunning(), qPrintable(nm.failure()));
        const char* const active[][3] = {{"802-3-ethernet", "Wired", ""},
                                         {"gsm", "Mobile", ""},
                                         {"pppoe", "DSL", ""},
                                         {"bluetooth", "Phone", "dun"},
                                         {"bluetooth", "PAN", "panu"}};
        for (const auto& a : active)
            QVERIFY(nm.addActive(QString::fromLatin1(a[0]), QString::fromLatin1(a[1]),
                                 QString::fromLatin1(a[2])));
        const QStringList kept{QStringLiteral("Wired"), QStringLiteral("PAN")};

        // QDBusConnection::systemBus() reads the address at its first use, which is here.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", nm.address().toUtf8());
        StatusRecorder status;
        QElapsedTimer clock;
        clock.start();
        HangUpAll(status);
        QVERIFY(clock.elapsed() < 3000);
        QTRY_COMPARE_WITH_TIMEOUT(nm.activeIds(), kept, 3000);
        store.set(keys::FtpBeep.section, QString::fromLatin1(keys::FtpBeep.key), QStringLiteral("yes"));
        HangUpAll(status, nm.bus());
        QCOMPARE(status.events(), QStringList{StatusRecorder::kBeep});
    }
};

QTEST_GUILESS_MAIN(TestHangUp)
#include "test_hangup.moc"
