// The FTP server list editor: every edit stored at once, in the entry the fields show; the stamped-image
// preview, the picture the JPEG writer would publish, fitted to the screen.
#include "core/setting_keys.h"
#include "core/store.h"
#include "imaging/jpeg_writer.h"
#include "settings/preview_window.h"
#include "settings/server_editor.h"
#include "support/ftp_test_servers.h"
#include "support/message_recorder.h"
#include "support/temp_store.h"

#include <QtTest>
#include <QtWidgets>

using namespace zantrel;

namespace {

QString entry(const keys::SettingKey& field, int n) {
    return GetSetting(QLatin1String(field.section), serverEntryKey(field, n), QStringLiteral("<absent>"));
}

// A settings file holding the servers given by address, "a,b,c" (each with login "user<n>"), counted
// by `servers` when given, and the editor.
struct Rig {
    explicit Rig(const QString& addresses = {}, const QString& servers = {}) {
        const QStringList list = addresses.split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (int n = 1; n <= list.size(); ++n) {
            store.set("FTP", serverEntryKey(keys::FtpEntryAddress, n), list[n - 1]);
            store.set("FTP", serverEntryKey(keys::FtpEntryLogin, n), QStringLiteral("user%1").arg(n));
        }
        if (!list.isEmpty())
            store.set("FTP", QStringLiteral("SERVERS"),
                      servers.isEmpty() ? QString::number(list.size()) : servers);
        editor = std::make_unique<ServerEditor>();
        editor->show();
    }
    template <typename T = QWidget> T* find(const char* name) {
        return editor->findChild<T*>(QLatin1String(name));
    }
    QString field(const char* name) { return find<QLineEdit>(name)->text(); }
    QTreeWidget* list() { return find<QTreeWidget>("FTPServerList"); }
    void pick(int row) { list()->setCurrentItem(list()->topLevelItem(row - 1)); }
    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }
    // The texts of one column of the list, joined by commas.
    QString rows(int column = 0) {
        QStringList out;
        for (int i = 0; i < list()->topLevelItemCount(); ++i)
            out << list()->topLevelItem(i)->text(column);
        return out.join(QLatin1Char(','));
    }
    void type(const char* name, const QString& text, bool clear = true) {
        if (clear)
            find<QLineEdit>(name)->clear();
        QTest::keyClicks(find<QLineEdit>(name), text);
    }

    test::TempStore store;
    std::unique_ptr<ServerEditor> editor; // made once the settings hold the servers
};

} // namespace

class TestServerEditor : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // With no servers the fields take nothing until Add makes entry 1, which then takes every edit.
    void emptyListThenAdd() {
        Rig rig;
        QVERIFY(!rig.find("FTPAddress")->isEnabled() && !rig.find("FTPAtomic")->isEnabled());
        rig.type("FTPAddress", QStringLiteral("ftp.example.org"));
        QCOMPARE(entry(keys::FtpEntryAddress, 1) + GetSetting(keys::FtpServers, QStringLiteral("<absent>")),
                 QStringLiteral("<absent><absent>"));
        rig.click("AddServer");
        QVERIFY(rig.find("FTPAddress")->isEnabled());
        QCOMPARE(GetSetting(keys::FtpServers), QStringLiteral("1"));
        QCOMPARE(entry(keys::FtpEntryPort, 1) + entry(keys::FtpEntryAtomic, 1), QStringLiteral("211"));
        QCOMPARE(rig.rows(0) + rig.rows(1), QStringLiteral("21"));
        QCOMPARE(rig.field("FTPAddress"), QString());
        // Typing reaches the key and the row at once.
        rig.type("FTPAddress", QStringLiteral("ftps://cam.example.org"));
        QCOMPARE(rig.rows() + entry(keys::FtpEntryAddress, 1),
                 QStringLiteral("ftps://cam.example.org").repeated(2));
        QCOMPARE(rig.find<QLabel>("ServerProtocol")->text(), QStringLiteral("FTPS (FTP over TLS)"));
        QVERIFY(rig.find("FTPPinned")->isEnabled() && !rig.find("FTPKeyFile")->isEnabled());
        // FTPS is always passive: said where PASSIVE is, which keeps its meaning for plain FTP only.
        QVERIFY(rig.find("PassiveHint")->isVisible() && !rig.find("FTPPassive")->isEnabled());
        rig.type("URL", QStringLiteral("/htdocs/cam"));
        QCOMPARE(rig.rows(3), QStringLiteral("/htdocs/cam"));
        rig.find<QCheckBox>("FTPAtomic")->setChecked(false);
        QCOMPARE(entry(keys::FtpEntryAtomic, 1), QStringLiteral("0"));
        // Only the fields the kind of target uses take input.
        const auto enabled = [&rig] {
            QString out;
            for (const char* name : {"FTPPort", "FTPLogin", "FTPPassive", "FTPRegion", "FTPPinned"})
                out += rig.find(name)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
            return out;
        };
        QCOMPARE(enabled(), QStringLiteral("11001"));
        rig.type("FTPAddress", QStringLiteral("cam.example.org"));
        QVERIFY(!rig.find("PassiveHint")->isVisible() && rig.find("FTPPassive")->isEnabled());
        rig.type("FTPAddress", QStringLiteral("file:///var/www"));
        QCOMPARE(rig.find<QLabel>("ServerProtocol")->text() + enabled(),
                 QStringLiteral("Folder on this computer00000"));
        // The port the kind of address uses, shown and stored, unless the user chose one.
        rig.type("FTPAddress", QStringLiteral("s3://s3.example.com/cam"));
        QCOMPARE(enabled() + rig.field("FTPPort") + entry(keys::FtpEntryPort, 1) + rig.rows(1),
                 QStringLiteral("11011443443443"));
        rig.type("FTPAddress", QStringLiteral("sftp://cam"));
        QCOMPARE(rig.field("FTPPort") + entry(keys::FtpEntryPort, 1), QStringLiteral("2222"));
        rig.type("FTPPort", QStringLiteral("8022"));
        rig.type("FTPAddress", QStringLiteral("s3://s3.example.com/cam"));
        QCOMPARE(rig.field("FTPPort") + entry(keys::FtpEntryPort, 1), QStringLiteral("80228022"));
        rig.type("FTPRegion", QStringLiteral("auto"));
        QCOMPARE(entry(keys::FtpEntryRegion, 1), QStringLiteral("auto"));
        rig.type("FTPAddress", QStringLiteral("gopher://cam"));
        QCOMPARE(rig.find<QLabel>("ServerProtocol")->text(), QStringLiteral("Unknown kind of address"));
    }

    // After Add and Remove the fields show the entry that edits go to, never another one; every field of
    // the later entries moves up with what the program remembered for them, and no key of a removed
    // place stays behind. A damaged count lists the entries the file holds.
    void editsAfterAddAndRemoveStayInTheShownEntry() {
        Rig rig("a,b,c", QStringLiteral("2147483647"));
        for (const auto& [field, value] : {std::pair{keys::FtpEntryPassive, "1"},
                                           {keys::FtpEntryPinned, "sha256//pin"},
                                           {keys::FtpEntryKeyFile, "/k/id"},
                                           {keys::FtpEntryNoRename, "c:21:user3"}})
            rig.store.set("FTP", serverEntryKey(field, 3), QString::fromLatin1(value));
        rig.pick(1);
        QCOMPARE(rig.field("FTPPort") + rig.field("FTPLogin"), QStringLiteral("21user1")); // no port stored
        rig.click("AddServer");
        QCOMPARE(rig.field("FTPLogin"), QString());
        rig.type("FTPAddress", QStringLiteral("new"));
        QCOMPARE(entry(keys::FtpEntryAddress, 1) + entry(keys::FtpEntryAddress, 4), QStringLiteral("anew"));

        rig.pick(2);
        rig.click("RemoveServer");
        QCOMPARE(GetSetting(keys::FtpServers), QStringLiteral("3"));
        QCOMPARE(rig.field("FTPAddress") + rig.field("FTPLogin") + rig.field("FTPPinned") +
                     rig.field("FTPKeyFile"),
                 QStringLiteral("cuser3sha256//pin/k/id"));
        QCOMPARE(entry(keys::FtpEntryPassive, 2) + entry(keys::FtpEntryKeyFile, 2) +
                     entry(keys::FtpEntryNoRename, 2),
                 QStringLiteral("1/k/idc:21:user3"));
        QVERIFY(rig.find<QCheckBox>("FTPPassive")->isChecked());
        rig.type("FTPAddress", QStringLiteral("x"), false);
        QCOMPARE(entry(keys::FtpEntryAddress, 2), QStringLiteral("cx"));
        QCOMPARE(rig.rows(), QStringLiteral("a,cx,new"));

        rig.pick(3);
        rig.click("RemoveServer"); // the last one: the new last entry is shown
        QCOMPARE(rig.field("FTPAddress"), QStringLiteral("cx"));
        rig.click("RemoveServer");
        rig.click("RemoveServer");
        QCOMPARE(rig.field("FTPAddress"), QStringLiteral("ftp."));
        QVERIFY(!rig.find("FTPLogin")->isEnabled());
        rig.type("FTPLogin", QStringLiteral("nobody"));
        QCOMPARE(SettingsStore::instance().keys(QStringLiteral("FTP")),
                 QStringList{QStringLiteral("SERVERS")});
    }

    // An entry stored with FTP's port 21 and another kind of address: the list and the fields show the
    // port that kind uses, and showing it stores it.
    void storedPortOfAnotherKind() {
        Rig rig("a,davs://d/cam");
        QCOMPARE(rig.rows(1), QStringLiteral("21,443"));
        rig.pick(2);
        QCOMPARE(rig.field("FTPPort") + entry(keys::FtpEntryPort, 2), QStringLiteral("443443"));
    }

    // Off the UI thread against a real server: the outcome in plain words beside the button, nothing
    // uploaded.
    void testButtonChecksTheShownEntry_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("words");
        for (const auto& [tag, password, folder, words] :
             {std::tuple{"good login", "secret", "/cam", "Connected, folder /cam is listed"},
              std::tuple{"bad login", "wrong", "", "Cannot connect: Login denied"},
              std::tuple{"missing folder", "secret", "nowhere", "Connected, but cannot open folder nowhere"}})
            QTest::newRow(tag) << QString(password) << QString(folder) << QString(words);
    }
    void testButtonChecksTheShownEntry() {
        QFETCH(QString, words);
        QFETCH(QString, password);
        QFETCH(QString, folder);
        test::PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        QVERIFY(QDir(server.root()).mkpath(QStringLiteral("cam")));
        Rig rig("127.0.0.1");
        rig.type("FTPPort", QString::number(server.port()));
        rig.type("FTPLogin", server.user());
        rig.type("FTPPassword", password);
        rig.type("URL", folder);
        QSignalSpy finished(rig.editor.get(), &ServerEditor::checkFinished);
        rig.click("TestServer");
        QVERIFY(!rig.find("TestServer")->isEnabled()); // the UI thread is free meanwhile
        QVERIFY(finished.wait(30000));
        const QString outcome = rig.find<QLabel>("TestOutcome")->text();
        QVERIFY2(outcome.startsWith(words), qPrintable(outcome));
        QCOMPARE(server.count(QStringLiteral("STOR")), 0);
    }

    // The preview decodes what the JPEG writer writes at quality 100 − compression, in memory.
    void previewQualityFollowsCompression() {
        test::TempStore store;
        QImage frame(320, 240, QImage::Format_RGB32); // fine detail everywhere, so that quality shows
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                frame.setPixel(x, y, qRgb((x * 7) % 256, (y * 5) % 256, ((x ^ y) * 3) % 256));
        for (const int compression : {1, 100}) {
            test::MessageRecorder messages;
            QVERIFY(SavePictureAsJpeg(frame, QStringLiteral("written.jpg"), 100 - compression, messages));
            QCOMPARE(PreparePreview(frame, StampParams{}, compression),
                     QImage(QStringLiteral("written.jpg")).convertToFormat(QImage::Format_RGB32));
        }
    }

    void largePictureIsScaledToTheScreen_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("available");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("fits") << QSize(640, 480) << QSize(1024, 768) << QSize(640, 480);
        QTest::newRow("too wide") << QSize(2000, 500) << QSize(1040, 760) << QSize(1000, 250);
        QTest::newRow("too high") << QSize(800, 1600) << QSize(1040, 760) << QSize(350, 700);
        QTest::newRow("margins count") << QSize(1000, 700) << QSize(1020, 760) << QSize(980, 686);
    }
    void largePictureIsScaledToTheScreen() {
        QFETCH(QSize, picture);
        QFETCH(QSize, available);
        QTEST(PreviewPictureSize(picture, available), "shown");
    }
};

QTEST_MAIN(TestServerEditor)
#include "test_server_editor.moc"
