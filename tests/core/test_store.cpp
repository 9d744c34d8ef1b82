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

// Runs a Python script on the store file from another process; returns what it printed.
QString python(const QString& script, const QString& path) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"), "import configparser,sys\n" + script, path});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size());
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 07777;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestStore : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // Text comes back as stored, and a value typed by hand with a comma and no quotes as it was typed.
    void roundTripsTextAsStored() {
        TempStore store;
        writeFile(store.storePath(), "[IMAGE]\nTEXTSTRING=Garden, north side\nFILENAME=a,b.jpg\n");
        QCOMPARE(GetSetting(keys::ImageTextString, QString()), QStringLiteral("Garden, north side"));
        QCOMPARE(GetSetting(keys::ImageFileName), QStringLiteral("a,b.jpg"));
        const QStringList values = {"",          "with, comma", "@at start", "Grüße \"quoted\" ; # = [x]",
                                    "C:\\cam\\", "  padded  "};
        for (int i = 0; i < values.size(); ++i)
            QVERIFY(SaveSetting(QStringLiteral("IMAGE"), QStringLiteral("K%1").arg(i), values[i]));
        SettingsStore::instance().open(store.storePath()); // read back from disk, not from memory
        for (int i = 0; i < values.size(); ++i)
            QCOMPARE(GetSetting(QStringLiteral("IMAGE"), QStringLiteral("K%1").arg(i), "absent"), values[i]);
    }

    // The count of servers stops at the last entry that has any key, and at 1000.
    void serverCountIsBounded_data() {
        QTest::addColumn<QString>("servers");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<int>("count");
        const QStringList two{QStringLiteral("ADDRESS00001"), QStringLiteral("PORT00002")};
        QTest::newRow("largest count, two entries") << "2147483647" << two << 2;
        QTest::newRow("beyond 32 bits") << "1e400" << two << 0;
        QTest::newRow("count below the entries") << "1" << two << 1;
        QTest::newRow("a gap is still walked") << "5" << QStringList{"URL00001", "KEYFILE00003"} << 3;
        QTest::newRow("no entries") << "3" << QStringList{} << 0;
        QTest::newRow("negative") << "-1" << two << 0;
        QTest::newRow("unpadded keys are no entry") << "9" << QStringList{"ADDRESS1", "PORT0002"} << 0;
        QTest::newRow("far keys") << "2147483647"
                                  << QStringList{"ADDRESS01000", "PASSWORD01001", "ADDRESS2000000000"}
                                  << 1000;
    }
    void serverCountIsBounded() {
        QFETCH(QString, servers);
        QFETCH(QStringList, keys);
        QFETCH(int, count);
        TempStore store;
        SaveSetting(keys::FtpServers, servers);
        for (const QString& key : keys)
            store.set("FTP", key, QStringLiteral("x"));
        QCOMPARE(ServerEntryCount(), count);
    }

    // Overflow at a reader's width gives the key's default, never a wrapped number. An entry's fields
    // under their five-digit keys; a port that is no TCP port falls back to 21.
    void readersOfNumbersAndEntries() {
        TempStore store;
        SaveSetting(keys::PrefPreviewRate, QStringLiteral("40000"));
        QCOMPARE(ReadInt16(keys::PrefPreviewRate), std::int16_t(12));
        SaveSetting(keys::VfwIndex, QStringLiteral("&HFFFFFFFF"));
        QCOMPARE(ReadInt32(keys::VfwIndex), -1);
        const QStringList fields{"ADDRESS=ftp.example.org", "PORT=40000",   "LOGIN=cam",
                                 "PASSWORD=s3cret",         "URL=/pub/cam", "PASSIVE=1"};
        for (const QString& field : fields)
            store.set("FTP", field.section('=', 0, 0) + "00002", field.section('=', 1));
        const ServerEntry e = ReadServerEntry(2);
        QCOMPARE((QStringList{e.address, e.login, e.password, e.directory}),
                 (QStringList{"ftp.example.org", "cam", "s3cret", "/pub/cam"}));
        QVERIFY(e.port == 40000 && e.passive);
        QVERIFY(ReadServerEntry(1).port == 21 && !ReadServerEntry(1).passive);
        for (const QString& port : {QStringLiteral("port"), QStringLiteral("70000")}) {
            store.set("FTP", QStringLiteral("PORT00001"), port);
            QCOMPARE(ReadServerEntry(1).port, 21);
        }
    }

    void fileIsOwnerOnlyAndWrittenThrough() {
        TempStore store;
        QVERIFY(SaveSetting(keys::PrefPassword, QStringLiteral("hunter2")));
        QCOMPARE(modeOf(store.storePath()), mode_t(0600));
        // Another process sees the value as soon as SaveSetting has returned...
        QCOMPARE(python("c=configparser.RawConfigParser(); c.optionxform=str; c.read(sys.argv[1])\n"
                        "print(c['PREF']['PASSWORD'], end='')",
                        store.storePath()),
                 QStringLiteral("hunter2"));
        // ...and a change made by another process is seen by the next read.
        python("open(sys.argv[1],'a').write('\\n[UPDATE]\\nPARTI=45\\n')", store.storePath());
        QCOMPARE(ReadInt16(keys::UpdatePartI), std::int16_t(45));
        QCOMPARE(GetSetting(keys::PrefPassword), QStringLiteral("hunter2"));
    }

    void corruptFileIsKeptAsideAndDefaultsApply() {
        TempStore store;
        const QString path = store.storePath();
        const QByteArray garbage("[PREF\nARUN=1\n\x01\x02 not an ini file ]]]\n[=\n");
        writeFile(path, garbage);
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadOther);
        SettingsStore::instance().open(path);
        QCOMPARE(GetSetting(keys::PrefAutoRun), QStringLiteral("0"));
        QVERIFY(SaveSetting(keys::PrefAutoRun, QStringLiteral("1")));
        const QStringList aside =
            QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral("KALDOR.ini.unreadable-*")});
        QCOMPARE(aside.size(), 1);
        const QString asidePath = QFileInfo(path).absolutePath() + QLatin1Char('/') + aside.first();
        QCOMPARE(readFile(asidePath), garbage);
        QCOMPARE(modeOf(asidePath), mode_t(0600));
    }

    // A new settings folder is the owner's alone whatever the umask. A folder where the file should be
    // (unreadable as a file even for root) leaves the defaults.
    void newFolderIsOwnerOnlyAndAnUnreadableFileGivesDefaults() {
        TempStore store;
        const QString path = store.dir() + QStringLiteral("/fresh/KALDOR/KALDOR.ini");
        const mode_t previous = ::umask(0);
        SettingsStore::instance().open(path);
        ::umask(previous);
        QVERIFY(modeOf(store.dir() + "/fresh") == 0700 && modeOf(store.dir() + "/fresh/KALDOR") == 0700);
        QVERIFY(QFile::remove(path) && QDir().mkpath(path));
        SettingsStore::instance().open(path);
        QCOMPARE(GetSetting(keys::ImageFileName), QStringLiteral("webcam.jpg"));
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
