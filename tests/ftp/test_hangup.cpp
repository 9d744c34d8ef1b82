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
        const QString device = nm.addEthernetDevice();
        QVERIFY(!device.isEmpty());
        const struct {
            const char* type;
            const char* id;
            const char* bluetooth;
        } connections[] = {{"802-3-ethernet", "Wired", ""},
                           {"gsm", "Mobile", ""},
                           {"pppoe", "DSL", ""},
                           {"bluetooth", "Phone", "dun"},
                           {"bluetooth", "PAN", "panu"}};
        for (const auto& c : connections) {
            const QString path = nm.addConnection(QString::fromLatin1(c.type), QString::fromLatin1(c.id),
                                                  QString::fromLatin1(c.bluetooth));
            QVERIFY(!path.isEmpty());
            QVERIFY(!nm.activate(path, device).isEmpty());
        }
        QCOMPARE(nm.activeIds().size(), 5);

        // QDBusConnection::systemBus() reads the address at its first use, which is here.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", nm.address().toUtf8());
        StatusRecorder status;
        QElapsedTimer clock;
        clock.start();
        HangUpAll(status);
        QVERIFY(clock.elapsed() < 3000);
        QTRY_COMPARE_WITH_TIMEOUT(nm.activeIds(),
                                  (QStringList{QStringLiteral("Wired"), QStringLiteral("PAN")}), 3000);
        QCOMPARE(status.events(), QStringList{StatusRecorder::kBeep});

        // Nothing left to hang up: nothing changes, the beep follows the setting.
        setBeep(QStringLiteral("NO"));
        HangUpAll(status, nm.bus());
        QTest::qWait(200);
        QCOMPARE(nm.activeIds(), (QStringList{QStringLiteral("Wired"), QStringLiteral("PAN")}));
        QCOMPARE(status.events(), QStringList{StatusRecorder::kBeep});
    }

    // No NetworkManager on the bus, or no bus at all: no message, no delay, the beep as set.
    void withoutNetworkManager() {
        NetworkManagerMock emptyBus(false);
        QVERIFY2(emptyBus.isRunning(), qPrintable(emptyBus.failure()));
        StatusRecorder status;
        QElapsedTimer clock;
        clock.start();
        HangUpAll(status, emptyBus.bus());
        const QDBusConnection nowhere = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("nowhere"));
        QVERIFY(!nowhere.isConnected());
        HangUpAll(status, nowhere);
        setBeep(QStringLiteral("no"));
        HangUpAll(status, nowhere);
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(status.events(), (QStringList{StatusRecorder::kBeep, StatusRecorder::kBeep}));
        QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
    }
};

QTEST_GUILESS_MAIN(TestHangUp)
#include "test_hangup.moc"
