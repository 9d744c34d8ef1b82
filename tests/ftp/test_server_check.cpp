// The settings dialog's server test against a real server: plain words, nothing uploaded.
#include "ftp/server_check.h"
#include "support/ftp_test_servers.h"

#include <QDir>
#include <QtTest>

using namespace zantrel;
using namespace zantrel::test;

class TestServerCheck : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void check_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("words");
        QTest::addRow("good login") << "127.0.0.1"
                                    << "secret"
                                    << "/cam" << true << "Connected, folder /cam is listed (1 entries)";
        QTest::addRow("bad login") << "ftp://127.0.0.1/"
                                   << "wrong"
                                   << "" << false << "Cannot connect: Login denied";
        QTest::addRow("missing folder") << "127.0.0.1"
                                        << "secret"
                                        << "nowhere" << false << "Connected, but cannot open folder nowhere:";
        QTest::addRow("line break in address")
            << "127.0.0.1\r\nDELE x"
            << "secret"
            << "" << false << "The server address holds a control character";
    }
    void check() {
        QFETCH(QString, address);
        QFETCH(QString, password);
        QFETCH(QString, folder);
        QFETCH(bool, ok);
        QFETCH(QString, words);
        PyFtpServer server;
        VERIFY_FTP_SERVER(server);
        QVERIFY(QDir(server.root()).mkpath(QStringLiteral("cam/old")));
        FtpServerEntry entry;
        entry.address = address;
        entry.port = server.port();
        entry.login = server.user();
        entry.password = password;
        entry.directory = folder;
        const ServerCheckResult result = CheckServer(entry);
        QCOMPARE(result.ok, ok);
        QVERIFY2(result.message.startsWith(words), qPrintable(result.message));
        QVERIFY(!result.message.contains(password));
        if (!ok && !address.contains(QLatin1Char('\r')))
            QVERIFY2(result.message.contains(QStringLiteral("server said: 5")), qPrintable(result.message));
        for (const QString& verb : {QStringLiteral("STOR"), QStringLiteral("MKD"), QStringLiteral("DELE")})
            QCOMPARE(server.count(verb), 0);
    }
};

QTEST_GUILESS_MAIN(TestServerCheck)
#include "test_server_check.moc"
