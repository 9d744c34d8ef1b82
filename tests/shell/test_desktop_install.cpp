// `cmake --install` into a scratch prefix, then the desktop's own validators on what it put there.
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestDesktopInstall : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void installedAndValid() {
        QTemporaryDir prefix;
        QProcess install;
        install.start("cmake", {"--install", QFileInfo(QStringLiteral(ZANTREL_BINARY)).absolutePath(),
                                "--prefix", prefix.path()});
        QVERIFY(install.waitForFinished(60000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
        const QString share = prefix.path() + "/share/";
        for (const QString& file : {prefix.path() + "/bin/webcam-zantrel",
                                    share + "icons/hicolor/scalable/apps/org.zantrel.WebcamZantrel.svg"})
            QVERIFY2(QFileInfo(file).isFile(), qPrintable(file));
        const QList<QStringList> checks = {
            {"desktop-file-validate", share + "applications/org.zantrel.WebcamZantrel.desktop"},
            {"appstreamcli", "validate", "--no-net",
             share + "metainfo/org.zantrel.WebcamZantrel.metainfo.xml"}};
        for (QStringList check : checks) {
            QVERIFY2(QFileInfo(check.last()).isFile(), qPrintable(check.last()));
            if (QStandardPaths::findExecutable(check.first()).isEmpty())
                continue; // validator not installed
            QProcess validator;
            validator.start(check.takeFirst(), check);
            QVERIFY(validator.waitForFinished(60000));
            QVERIFY2(validator.exitCode() == 0, validator.readAllStandardOutput().constData());
        }
    }
};

QTEST_MAIN(TestDesktopInstall)
#include "test_desktop_install.moc"
