#include "core/setting_keys.h"
#include "core/store.h"
#include "support/temp_store.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <sys/stat.h>

using namespace zantrel;
using zantrel::test::TempStore;

namespace {

QString pythonRead(const QString& path, const QString& section, const QString& key) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import configparser,sys\n"
                            "c=configparser.RawConfigParser(); c.optionxform=str\n"
                            "c.read(sys.argv[1]); print(c[sys.argv[2]][sys.argv[3]], end='')"),
             path, section, key});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestStore : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void roundTripsTextAsStored() {
        TempStore store;
        const QStringList values = {QStringLiteral("plain"),
                                    QStringLiteral(""),
                                    QStringLiteral("with, comma"),
                                    QStringLiteral("@at start"),
                                    QStringLiteral("Grüße \"quoted\" ; # = [x]"),
                                    QStringLiteral("C:\\cam\\"),
                                    QStringLiteral("  padded  ")};
        for (int i = 0; i < values.size(); ++i)
            QVERIFY(SaveSetting(QStringLiteral("IMAGE"), QStringLiteral("K%1").arg(i), values[i]));
        SettingsStore::instance().open(store.storePath()); // read back from disk, not from memory
        for (int i = 0; i < values.size(); ++i)
            QCOMPARE(
                GetSetting(QStringLiteral("IMAGE"), QStringLiteral("K%1").arg(i), QStringLiteral("absent")),
                values[i]);
    }

    void absentKeysReadAsTheReadersDefault() {
        TempStore store;
        QCOMPARE(GetSetting(QStringLiteral("FTP"), QStringLiteral("NOPE")), QString());
        QCOMPARE(GetSetting(keys::ImageFileName), QStringLiteral("webcam.jpg"));
        QCOMPARE(ReadInt16(keys::PrefPreviewRate), std::int16_t(12));
        QVERIFY(ReadFlag(keys::PrefAutoHangUp));
        QVERIFY(!ReadFlag(keys::FtpUploadAtJob));
        QVERIFY(ReadFlag(keys::FtpUploadAtDialog));
        QCOMPARE(ReadInt32(keys::ImageTimeColor), 16777215);
        QCOMPARE(GetSetting(keys::FirstTime), QStringLiteral("YES"));
        // Reading never writes.
        QVERIFY(readFile(store.storePath()).trimmed().isEmpty());
    }

    void overflowingValuesFallBackToTheDefault() {
        TempStore store;
        SaveSetting(keys::PrefPreviewRate, QStringLiteral("40000"));
        QCOMPARE(ReadInt16(keys::PrefPreviewRate), std::int16_t(12));
        SaveSetting(keys::FtpServers, QStringLiteral("1e400"));
        QCOMPARE(ReadInt32(keys::FtpServers), 0);
        SaveSetting(keys::VfwIndex, QStringLiteral("&HFFFFFFFF"));
        QCOMPARE(ReadInt32(keys::VfwIndex), -1);
        SaveSetting(keys::PrefPreviewRate, QStringLiteral("7.5"));
        QCOMPARE(ReadInt16(keys::PrefPreviewRate), std::int16_t(8));
    }

    void serverEntryKeysAndFields() {
        TempStore store;
        QCOMPARE(serverEntryKey(keys::FtpEntryAddress, 1), QStringLiteral("ADDRESS00001"));
        QCOMPARE(serverEntryKey(keys::FtpEntryPort, 12), QStringLiteral("PORT00012"));
        QCOMPARE(serverEntryKey(keys::FtpEntryPort, 100000), QStringLiteral("PORT100000"));

        store.set("FTP", QStringLiteral("ADDRESS00002"), QStringLiteral("ftp.example.org"));
        store.set("FTP", QStringLiteral("PORT00002"), QStringLiteral("40000"));
        store.set("FTP", QStringLiteral("LOGIN00002"), QStringLiteral("cam"));
        store.set("FTP", QStringLiteral("PASSWORD00002"), QStringLiteral("s3cret"));
        store.set("FTP", QStringLiteral("URL00002"), QStringLiteral("/pub/cam"));
        store.set("FTP", QStringLiteral("PASSIVE00002"), QStringLiteral("1"));
        const FtpServerEntry e = ReadServerEntry(2);
        QCOMPARE(e.address, QStringLiteral("ftp.example.org"));
        QCOMPARE(e.port, 40000);
        QCOMPARE(e.login, QStringLiteral("cam"));
        QCOMPARE(e.password, QStringLiteral("s3cret"));
        QCOMPARE(e.directory, QStringLiteral("/pub/cam"));
        QVERIFY(e.passive);

        const FtpServerEntry empty = ReadServerEntry(1);
        QCOMPARE(empty.port, 21);
        QVERIFY(!empty.passive);
        store.set("FTP", QStringLiteral("PORT00001"), QStringLiteral("port"));
        QCOMPARE(ReadServerEntry(1).port, 21);
        store.set("FTP", QStringLiteral("PORT00001"), QStringLiteral("70000"));
        QCOMPARE(ReadServerEntry(1).port, 21);
    }

    void fileIsOwnerOnlyAndWrittenThrough() {
        TempStore store;
        QVERIFY(SaveSetting(keys::PrefPassword, QStringLiteral("hunter2")));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(store.storePath()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0600));
        // Another process sees the value as soon as SaveSetting has returned...
        QCOMPARE(pythonRead(store.storePath(), QStringLiteral("PREF"), QStringLiteral("PASSWORD")),
                 QStringLiteral("hunter2"));
        // ...and a change made by another process is seen by the next read.
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral("-c"),
                 QStringLiteral("import sys\nopen(sys.argv[1],'a').write('\\n[UPDATE]\\nPARTI=45\\n')"),
                 store.storePath()});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(ReadInt16(keys::UpdatePartI), std::int16_t(45));
        QCOMPARE(GetSetting(keys::PrefPassword), QStringLiteral("hunter2"));
    }

    void corruptFileIsKeptAsideAndDefaultsApply() {
        TempStore store;
        const QString path = store.storePath();
        const QByteArray garbage("[PREF\nARUN=1\n\x01\x02 not an ini file ]]]\n[=\n");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(garbage);
        }
        SettingsStore::instance().open(path);
        QCOMPARE(GetSetting(keys::PrefAutoRun), QStringLiteral("0"));
        QVERIFY(SaveSetting(keys::PrefAutoRun, QStringLiteral("1")));
        const QStringList aside =
            QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral("KALDOR.ini.unreadable-*")});
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readFile(QFileInfo(path).absolutePath() + QLatin1Char('/') + aside.first()), garbage);
    }

    void unreadableFileDoesNotStopTheProgram() {
        TempStore store;
        const QString path = store.storePath();
        // A folder where the file should be: unreadable as a file even for root.
        QFile::remove(path);
        QVERIFY(QDir().mkpath(path));
        SettingsStore::instance().open(path);
        QCOMPARE(GetSetting(keys::ImageFileName), QStringLiteral("webcam.jpg"));
        SaveSetting(keys::ImageFileName, QStringLiteral("x.jpg")); // must not crash, whatever it returns
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
