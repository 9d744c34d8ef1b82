// Hanging up dial-up connections through a mock NetworkManager on a private bus.
#include "core/setting_keys.h"
#include "ftp/hangup.h"
#include "support/network_manager_mock.h"
#include "support/status_recorder.h"
#include "support/temp_store.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QtTest>

using namespace zantrel;
using namespace zantrel::test;

class TestHangUp : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempStore> store_;
    const QStringList beep_{StatusRecorder::kBeep};

    void setBeep(const QString& value) {
        store_->set(keys::FtpBeep.section, QString::fromLatin1(keys::FtpBeep.key), value);
    }

  private Q_SLOTS:
    void init() { store_ = std::make_unique<TempStore>(); }
    void cleanup() { store_.reset(); }

    // Mobile broadband, PPPoE and Bluetooth dial-up go; Ethernet and a Bluetooth network link stay.
    // The first run reaches the mock through the system bus, as the program does.
    void dialUpsGoOthersStay() {
        NetworkManagerMock nm;
        QVERIFY2(nm.isRunning(), qPrintable(nm.failure()));
        QVERIFY(nm.addActive(QStringLiteral("802-3-ethernet"), QStringLiteral("Wired")));
        QVERIFY(nm.addActive(QStringLiteral("gsm"), QStringLiteral("Mobile")));
        QVERIFY(nm.addActive(QStringLiteral("pppoe"), QStringLiteral("DSL")));
        QVERIFY(nm.addActive(QStringLiteral("bluetooth"), QStringLiteral("Phone"), QStringLiteral("dun")));
        QVERIFY(nm.addActive(QStringLiteral("bluetooth"), QStringLiteral("PAN"), QStringLiteral("panu")));
        QCOMPARE(nm.activeIds().size(), 5);
        const QStringList kept{QStringLiteral("Wired"), QStringLiteral("PAN")};

        // QDBusConnection::systemBus() reads the address at its first use, which is here.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", nm.address().toUtf8());
        StatusRecorder status;
        QElapsedTimer clock;
        clock.start();
        HangUpAll(status);
        QVERIFY(clock.elapsed() < 3000);
        QTRY_COMPARE_WITH_TIMEOUT(nm.activeIds(), kept, 3000);
        QCOMPARE(status.events(), beep_);

        // Nothing left to hang up: nothing changes, the beep follows the setting.
        setBeep(QStringLiteral("NO"));
        HangUpAll(status, nm.bus());
        QTest::qWait(200);
        QCOMPARE(nm.activeIds(), kept);
        QCOMPARE(status.events(), beep_);
    }

    // No NetworkManager on the bus, or no bus at all: no message, no delay, the beep as set.
    void withoutNetworkManager() {
        NetworkManagerMock emptyBus(false);
        QVERIFY2(emptyBus.isRunning(), qPrintable(emptyBus.failure()));
        const QDBusConnection nowhere = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("nowhere"));
        QVERIFY(!nowhere.isConnected());
        StatusRecorder status;
        QElapsedTimer clock;
        clock.start();
        HangUpAll(status, emptyBus.bus());
        HangUpAll(status, nowhere);
        setBeep(QStringLiteral("no"));
        HangUpAll(status, nowhere);
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(status.events(), beep_ + beep_);
        QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
    }
};

QTEST_GUILESS_MAIN(TestHangUp)
#include "test_hangup.moc"
