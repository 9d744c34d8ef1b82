// The program's log without a window: progress on standard output, failures on standard error, and under
// the journal every line with its priority, so that `journalctl -p warning` lists the failures alone.
#include "support/temp_store.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <csignal>

using zantrel::test::ProgramHome;

namespace {

// A loopback port nobody listens on.
quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}

// An FTP server that cannot be reached (tried three times, some seconds), or a folder that is not there
// (at once).
QByteArray failingServerIni(const QByteArray& address) {
    return "[FT]\nFIRSTTIME=NO\n[PREF]\nAHANGUP=0\n[FTP]\nUPLOAD=1\nSERVERS=1\nADDRESS00001=" + address +
           "\nPORT00001=" + QByteArray::number(closedPort()) + "\n";
}

const QByteArray kMissingFolder = "file:///no/such/folder";

// The program with JOURNAL_STREAM naming its output, as systemd does for a service whose standard output
// and error both go to the journal.
void startUnderJournal(QProcess& p, const QStringList& args) {
    p.setProcessChannelMode(QProcess::MergedChannels);
    const QString program = p.program();
    p.setProgram(QStringLiteral("/bin/sh"));
    p.setArguments(QStringList{QStringLiteral("-c"),
                               QStringLiteral("export JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2); "
                                              "exec \"$0\" \"$@\""),
                               program} +
                   args);
    p.start();
}

QStringList lines(const QByteArray& text) {
    return QString::fromLocal8Bit(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

class TestLogPriorities : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void onceSplitsProgressFromFailures() {
        ProgramHome home{QString()};
        home.writeSettings(failingServerIni(kMissingFolder));
        QProcess p;
        home.prepare(p);
        p.setArguments({QStringLiteral("--once")});
        p.start();
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 1);
        const QStringList out = lines(p.readAllStandardOutput()), err = lines(p.readAllStandardError());
        QVERIFY2(out.contains(QStringLiteral("Connecting... file:///no/such/folder")),
                 qPrintable(out.join('\n')));
        QVERIFY2(err.contains(QStringLiteral("Error:/no/such/folder does not exist: make the folder first")) &&
                     err.contains(QStringLiteral("No camera: publishing the test card")),
                 qPrintable(err.join('\n')));
        for (const QString& line : out)
            QVERIFY2(!line.startsWith(QLatin1String("Error:")) && !line.startsWith(QLatin1Char('<')),
                     qPrintable(line));
    }

    void journalLinesCarryTheirPriority() {
        ProgramHome home{QString()};
        home.writeSettings(failingServerIni("127.0.0.1"));
        QProcess p;
        home.prepare(p);
        startUnderJournal(p, {QStringLiteral("--once")});
        QVERIFY(p.waitForFinished(30000));
        const QStringList all = lines(p.readAll());
        const QRegularExpression prefixed(QStringLiteral("^<([346])>(.*)$"));
        for (const QString& line : all) {
            const auto m = prefixed.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            const bool failure = m.captured(2).startsWith(QLatin1String("Error:")) ||
                                 m.captured(2) == QLatin1String("Cannot connect to FTP Server");
            QVERIFY2(failure == (m.captured(1) == QLatin1String("3")), qPrintable(line));
        }
        QVERIFY2(all.contains(QStringLiteral("<6>Connecting... 127.0.0.1")) &&
                     all.contains(QStringLiteral("<4>No camera: publishing the test card")),
                 qPrintable(all.join('\n')));
    }

    // A server failing begins an alert, its leaving the list ends it: a warning, then information.
    void healthEventsAreLogged() {
        ProgramHome home{QString()};
        home.writeSettings(failingServerIni(kMissingFolder) +
                           "[UPDATE]\nTYPE=1\nPARTI=1\nUNITI=3\n[ALERT]\nAFTER=1\nDESKTOP=0\n");
        QProcess p;
        home.prepare(p);
        startUnderJournal(p, {QStringLiteral("--headless")});
        QByteArray said;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (said += p.readAll(), said.contains("\n<4>Alert failing: Uploads to file:///no/such/folder ")),
            said.constData(), 15000);
        home.writeSettings("[FTP]\nUPLOAD=1\nSERVERS=0\n[UPDATE]\nTYPE=1\nPARTI=1\nUNITI=3\n");
        QTRY_VERIFY2_WITH_TIMEOUT(
            (said += p.readAll(), said.contains("\n<6>Alert recovered: file:///no/such/folder left")),
            said.constData(), 15000);
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestLogPriorities)
#include "test_log_priorities.moc"
