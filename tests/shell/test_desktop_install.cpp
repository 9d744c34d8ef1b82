// `cmake --install` into a scratch prefix, then the desktop's own validators on what it put there.
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestDesktopInstall : public QObject {
    Q_OBJECT
    QTemporaryDir prefix_;

  private Q_SLOTS:
    void initTestCase() {
        QProcess install;
        install.start(QStringLiteral("cmake"),
                      {QStringLiteral("--install"), QFileInfo(QStringLiteral(ZANTREL_BINARY)).absolutePath(),
                       QStringLiteral("--prefix"), prefix_.path()});
        QVERIFY(install.waitForFinished(60000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
    }

    void installedAndValid_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("validator");
        QTest::newRow("program") << "bin/webcam-zantrel" << QStringList();
        QTest::newRow("icon") << "share/icons/hicolor/scalable/apps/org.zantrel.WebcamZantrel.svg"
                              << QStringList();
        QTest::newRow("menu entry") << "share/applications/org.zantrel.WebcamZantrel.desktop"
                                    << QStringList{QStringLiteral("desktop-file-validate")};
        QTest::newRow("metainfo") << "share/metainfo/org.zantrel.WebcamZantrel.metainfo.xml"
                                  << QStringList{QStringLiteral("appstreamcli"), QStringLiteral("validate"),
                                                 QStringLiteral("--no-net")};
    }
    void installedAndValid() {
        QFETCH(QString, file);
        QFETCH(QStringList, validator);
        const QString path = prefix_.path() + QLatin1Char('/') + file;
        QVERIFY2(QFileInfo(path).isFile(), qPrintable(path));
        if (validator.isEmpty())
            return;
        if (QStandardPaths::findExecutable(validator.first()).isEmpty())
            QSKIP("validator not installed");
        QProcess check;
        check.start(validator.takeFirst(), validator << path);
        QVERIFY(check.waitForFinished(60000));
        QVERIFY2(check.exitCode() == 0, check.readAllStandardOutput().constData());
    }
};

QTEST_MAIN(TestDesktopInstall)
#include "test_desktop_install.moc"
