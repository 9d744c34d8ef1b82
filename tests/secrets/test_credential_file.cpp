#include "core/secret_value.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "secrets/credential_file.h"
#include "secrets/secret_resolver.h"
#include "support/temp_store.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace zantrel;
using zantrel::test::TempStore;

class TestCredentialFile : public QObject {
    Q_OBJECT

    QTemporaryDir folder_;

    void write(const QString& name, const QByteArray& bytes) {
        QFile f(folder_.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

  private Q_SLOTS:
    void initTestCase() {
        InstallSecrets();
        qputenv("CREDENTIALS_DIRECTORY", QFile::encodeName(folder_.path()));
    }

    void readsTheFileRefusesTheRest() {
        write(QStringLiteral("ftp"), "Sesame-41\n");
        const SecretLookup good = ReadCredential(QStringLiteral("@cred:ftp"));
        QCOMPARE(good.value, QStringLiteral("Sesame-41"));
        QVERIFY(good.refusal.isEmpty());

        write(QStringLiteral("empty"), "");
        write(QStringLiteral("large"), QByteArray(kMaxCredentialBytes + 1, 'x'));
        QVERIFY(
            QFile::link(folder_.filePath(QStringLiteral("ftp")), folder_.filePath(QStringLiteral("link"))));
        write(QStringLiteral("theirs"), "Sesame-41");
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::chown(QFile::encodeName(folder_.filePath(QStringLiteral("theirs"))).constData(), 65534,
                             65534),
                     0);
        const std::pair<const char*, const char*> cases[] = {{"@cred:empty", "is empty"},
                                                             {"@cred:large", "larger than 64 KB"},
                                                             {"@cred:link", "is a link"},
                                                             {"@cred:missing", "cannot be read"},
                                                             {"@cred:../ftp", "not a plain file name"},
                                                             {"@cred:", "not a plain file name"},
                                                             {"@cred:theirs", root ? "another user" : ""}};
        for (const auto& [stored, why] : cases) {
            if (!*why)
                continue; // another user's file needs root to make
            const SecretLookup r = ReadCredential(QString::fromLatin1(stored));
            QVERIFY2(r.value.isEmpty() && r.refusal.contains(QString::fromLatin1(why)), stored);
            QVERIFY(r.refusal.startsWith(QStringLiteral("the credential ")));
        }
    }

    // Through the settings: a server's password resolves; a refusal names the server and the credential
    // and never holds a password.
    void serverEntriesResolve() {
        TempStore store;
        store.set("FTP", QStringLiteral("ADDRESS00001"), QStringLiteral("ftp.example.org"));
        store.set("FTP", QStringLiteral("PASSWORD00001"), QStringLiteral("@cred:ftp"));
        store.set("FTP", QStringLiteral("ADDRESS00002"), QStringLiteral("joe:Sesame-41@other.example.org"));
        store.set("FTP", QStringLiteral("PASSWORD00002"), QStringLiteral("@cred:gone"));
        QCOMPARE(ReadServerEntry(1).password, QStringLiteral("Sesame-41"));
        QVERIFY(ResolveServerPassword(1).refusal.isEmpty());
        QCOMPARE(ReadServerEntry(2).password, QString());
        QCOMPARE(ResolveServerPassword(2).refusal,
                 QStringLiteral("no password for other.example.org: the credential gone cannot be read: "
                                "No such file or directory"));

        qunsetenv("CREDENTIALS_DIRECTORY");
        const QString refusal = ResolveServerPassword(1).refusal;
        qputenv("CREDENTIALS_DIRECTORY", QFile::encodeName(folder_.path()));
        QVERIFY(refusal.contains(QStringLiteral("the credential ftp cannot be read: CREDENTIALS_DIRECTORY")));
    }
};

QTEST_MAIN(TestCredentialFile)
#include "test_credential_file.moc"
