// The FTP server list editor: every edit stored at once, in the entry the fields show.
#include "core/setting_keys.h"
#include "core/store.h"
#include "settings/server_editor.h"
#include "support/ftp_test_servers.h"
#include "support/temp_store.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>

using namespace zantrel;

namespace {

QString entry(const char* field, int n) {
    return GetSetting(QStringLiteral("FTP"),
                      QStringLiteral("%1%2").arg(QLatin1String(field)).arg(n, 5, 10, QLatin1Char('0')),
                      QStringLiteral("<absent>"));
}

// A settings file holding the servers given by address (each with login "user<n>") and the editor.
struct Rig {
    explicit Rig(const QStringList& addresses = {}) {
        for (int n = 1; n <= addresses.size(); ++n) {
            store.set("FTP", serverEntryKey(keys::FtpEntryAddress, n), addresses[n - 1]);
            store.set("FTP", serverEntryKey(keys::FtpEntryLogin, n), QStringLiteral("user%1").arg(n));
        }
        if (!addresses.isEmpty())
            store.set("FTP", QStringLiteral("SERVERS"), QString::number(addresses.size()));
        editor = std::make_unique<ServerEditor>();
        editor->show();
    }
    template <typename T> T* find(const char* name) { return editor->findChild<T*>(QLatin1String(name)); }
    QLineEdit* field(const char* name) { return find<QLineEdit>(name); }
    QTreeWidget* list() { return find<QTreeWidget>("FTPServerList"); }
    void pick(int row) { list()->setCurrentItem(list()->topLevelItem(row - 1)); }
    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }
    QStringList rows(int column = 0) {
        QStringList out;
        for (int i = 0; i < list()->topLevelItemCount(); ++i)
            out << list()->topLevelItem(i)->text(column);
        return out;
    }
    void type(const char* name, const QString& text) {
        field(name)->clear();
        QTest::keyClicks(field(name), text);
    }

    test::TempStore store;
    std::unique_ptr<ServerEditor> editor;
};

} // namespace

class TestServerEditor : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void emptyListStoresNothing() {
        Rig rig;
        QCOMPARE(rig.list()->topLevelItemCount(), 0);
        QCOMPARE(rig.field("FTPAddress")->text(), QStringLiteral("ftp."));
        QCOMPARE(rig.field("FTPPort")->text(), QStringLiteral("21"));
        rig.type("FTPAddress", QStringLiteral("ftp.example.org"));
        QCOMPARE(entry("ADDRESS", 1), QStringLiteral("<absent>"));
        QCOMPARE(GetSetting(keys::FtpServers, QStringLiteral("<absent>")), QStringLiteral("<absent>"));
    }

    void addOnEmptyMakesEntryOne() {
        Rig rig;
        rig.click("AddServer");
        QCOMPARE(GetSetting(keys::FtpServers), QStringLiteral("1"));
        QCOMPARE(entry("PORT", 1), QStringLiteral("21"));
        QCOMPARE(entry("ATOMIC", 1), QStringLiteral("1"));
        QCOMPARE(rig.rows(0), QStringList{QString()});
        QCOMPARE(rig.rows(1), QStringList{QStringLiteral("21")});
        QCOMPARE(rig.field("FTPAddress")->text(), QString());
    }

    // Every field of the later entries moves up, the new keys too.
    void removeTheMiddleOfThree() {
        Rig rig({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        rig.store.set("FTP", serverEntryKey(keys::FtpEntryPassive, 3), QStringLiteral("1"));
        rig.store.set("FTP", serverEntryKey(keys::FtpEntryPinned, 3), QStringLiteral("sha256//pin"));
        rig.pick(2);
        rig.click("RemoveServer");
        QCOMPARE(GetSetting(keys::FtpServers), QStringLiteral("2"));
        QCOMPARE(rig.rows(), (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
        QCOMPARE(entry("LOGIN", 2), QStringLiteral("user3"));
        QCOMPARE(entry("PASSIVE", 2), QStringLiteral("1"));
        QCOMPARE(entry("PINNED", 2), QStringLiteral("sha256//pin"));
        QVERIFY(rig.find<QCheckBox>("FTPPassive")->isChecked());
    }

    void typingUpdatesRowAndKey() {
        Rig rig({QStringLiteral("old")});
        rig.field("FTPAddress")->clear();
        QString typed;
        for (const QChar c : QStringLiteral("ftps://cam.example.org")) {
            QTest::keyClick(rig.field("FTPAddress"), c.toLatin1());
            typed += c;
            QCOMPARE(rig.rows(), QStringList{typed});
        }
        QCOMPARE(entry("ADDRESS", 1), typed);
        QCOMPARE(rig.find<QLabel>("ServerProtocol")->text(), QStringLiteral("FTPS (FTP over TLS)"));
        rig.type("URL", QStringLiteral("/htdocs/cam"));
        QCOMPARE(rig.rows(3), QStringList{QStringLiteral("/htdocs/cam")});
        rig.find<QCheckBox>("FTPAtomic")->setChecked(false);
        QCOMPARE(entry("ATOMIC", 1), QStringLiteral("0"));
    }

    void missingPortShows21() {
        Rig rig({QStringLiteral("a"), QStringLiteral("b")});
        rig.pick(2);
        QCOMPARE(rig.field("FTPPort")->text(), QStringLiteral("21"));
        QCOMPARE(rig.field("FTPLogin")->text(), QStringLiteral("user2"));
    }

    // After Add and Remove the fields show the entry that edits go to, never another one.
    void editsAfterAddAndRemoveStayInTheShownEntry() {
        Rig rig({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        rig.pick(1);
        rig.click("AddServer");
        QCOMPARE(rig.field("FTPLogin")->text(), QString());
        rig.type("FTPAddress", QStringLiteral("new"));
        QCOMPARE(entry("ADDRESS", 4), QStringLiteral("new"));
        QCOMPARE(entry("ADDRESS", 1), QStringLiteral("a"));

        rig.pick(2);
        rig.click("RemoveServer");
        QCOMPARE(rig.field("FTPAddress")->text(), QStringLiteral("c"));
        QTest::keyClicks(rig.field("FTPAddress"), QStringLiteral("x"));
        QCOMPARE(entry("ADDRESS", 2), QStringLiteral("cx"));
        QCOMPARE(rig.rows(), (QStringList{QStringLiteral("a"), QStringLiteral("cx"), QStringLiteral("new")}));

        rig.pick(3);
        rig.click("RemoveServer"); // the last one: the new last entry is shown
        QCOMPARE(rig.field("FTPAddress")->text(), QStringLiteral("cx"));
        for (int i = 0; i < 2; ++i)
            rig.click("RemoveServer");
        QCOMPARE(rig.field("FTPAddress")->text(), QStringLiteral("ftp."));
        rig.type("FTPLogin", QStringLiteral("nobody"));
        QCOMPARE(entry("LOGIN", 1), QStringLiteral("user1"));
    }

    // Off the UI thread against a real server: the outcome in plain words beside the button, nothing
    // uploaded.
    void testButtonChecksTheShownEntry_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("words");
        QTest::newRow("good login") << "secret"
                                    << "/cam"
                                    << "Connected, folder /cam is listed";
        QTest::newRow("bad login") << "wrong"
                                   << ""
                                   << "Cannot connect: Login denied";
        QTest::newRow("missing folder") << "secret"
                                        << "nowhere"
                                        << "Connected, but cannot open folder nowhere";
    }
    void testButtonChecksTheShownEntry() {
        QFETCH(QString, password);
        QFETCH(QString, folder);
        test::PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        QVERIFY(QDir(server.root()).mkpath(QStringLiteral("cam")));
        Rig rig({QStringLiteral("127.0.0.1")});
        rig.type("FTPPort", QString::number(server.port()));
        rig.type("FTPLogin", server.user());
        rig.type("FTPPassword", password);
        rig.type("URL", folder);
        QSignalSpy finished(rig.editor.get(), &ServerEditor::checkFinished);
        rig.click("TestServer");
        QVERIFY(!rig.find<QPushButton>("TestServer")->isEnabled()); // the UI thread is free meanwhile
        QVERIFY(finished.wait(30000));
        const QString outcome = rig.find<QLabel>("TestOutcome")->text();
        QFETCH(QString, words);
        QVERIFY2(outcome.startsWith(words), qPrintable(outcome));
        QCOMPARE(server.count(QStringLiteral("STOR")), 0);
    }
};

QTEST_MAIN(TestServerEditor)
#include "test_server_editor.moc"
