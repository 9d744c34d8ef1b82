// The settings dialog over a real capture window: loading, confirming, cancelling, the timer controls,
// the device page, the start-up entry, and the preview and the job following the unconfirmed stamps.
#include "capture/capture_window.h"
#include "capture/device_list.h"
#include "capture/network_camera.h"
#include "core/store.h"
#include "core/version.h"
#include "publish/live_values.h"
#include "publish/publish_job.h"
#include "secrets/lock_password.h"
#include "settings/alerts_page.h"
#include "settings/autostart.h"
#include "settings/preview_window.h"
#include "settings/settings_dialog.h"
#include "shell/browse_for_folder.h"
#include "support/camera_servers.h"
#include "support/message_recorder.h"
#include "support/returns_at_once.h"
#include "support/temp_store.h"

#include <QTcpServer>
#include <QtTest>
#include <QtWidgets>

using namespace zantrel;
using zantrel::test::ReturnsAtOnce;

namespace {

// A settings file, a capture window without a camera and the dialog.
struct Rig {
    Rig() {
        qunsetenv(DeviceList::testCameraVariable());
        capture = std::make_unique<CaptureWindow>(messages);
    }
    SettingsDialog& open() {
        dialog = std::make_unique<SettingsDialog>(*capture);
        dialog->show();
        return *dialog;
    }
    template <typename T = QWidget> T* find(const char* name) {
        return dialog->findChild<T*>(QLatin1String(name));
    }
    void click(const char* button) { QTest::mouseClick(find<QAbstractButton>(button), Qt::LeftButton); }
    // Walks "NAME=value;NAME.property=value;…" over the controls, setting them as the user would or
    // comparing what they show: a box's tick, a list's index (set) or text (shown), a label's or field's
    // text, or else the value.
    void walk(const QString& pairs, bool compare) {
        for (const QString& pair : pairs.split(QLatin1Char(';'))) {
            const QString name = pair.section(QLatin1Char('='), 0, 0),
                          value = pair.section(QLatin1Char('='), 1);
            QWidget* w = find(qPrintable(name.section(QLatin1Char('.'), 0, 0)));
            QVERIFY2(w, qPrintable(name));
            const QByteArray property =
                name.contains(QLatin1Char('.'))     ? name.section(QLatin1Char('.'), 1).toLatin1().constData()
                : qobject_cast<QComboBox*>(w)       ? (compare ? "currentText" : "currentIndex")
                : qobject_cast<QAbstractButton*>(w) ? "checked"
                : qobject_cast<QLineEdit*>(w) || qobject_cast<QLabel*>(w) ? "text"
                                                                          : "value";
            if (!compare) {
                QVERIFY2(w->setProperty(property, value), qPrintable(pair));
                continue;
            }
            const QString shown =
                property == "hidden" ? QVariant(w->isHidden()).toString() : w->property(property).toString();
            QVERIFY2(shown == value, qPrintable(name + QLatin1String(" shows ") + shown));
        }
    }
    void set(const QString& pairs) { walk(pairs, false); }
    void expectShown(const QString& pairs) { walk(pairs, true); }

    test::TempStore store;
    test::MessageRecorder messages;
    std::unique_ptr<CaptureWindow> capture;
    std::unique_ptr<SettingsDialog> dialog;
};

// Compares the store with "SECTION/KEY=text;…", where "<absent>" stands for a key never written.
void expectStored(const QString& expected) {
    for (const QString& pair : expected.split(QLatin1Char(';'))) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        const QString value = GetSetting(key.section(QLatin1Char('/'), 0, 0),
                                         key.section(QLatin1Char('/'), 1), QStringLiteral("<absent>"));
        QVERIFY2(value == pair.section(QLatin1Char('='), 1), qPrintable(key + QLatin1String(" is ") + value));
    }
}

// Presses OK on the next message box that opens and hands back its text.
void answerNextMessageBox(QString& text) {
    QTimer::singleShot(0, [&text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        text = box->text();
        box->accept();
    });
}

// The share of red pixels in a corner of the picture (a quarter of its width, a fifth of its height).
double redShare(const QImage& image, bool bottomRight) {
    const QSize size(image.width() / 4, image.height() / 5);
    const QImage corner = image.copy(QRect(
        bottomRight ? QPoint(image.width() - size.width(), image.height() - size.height()) : QPoint(), size));
    int red = 0;
    for (int y = 0; y < corner.height(); ++y)
        for (int x = 0; x < corner.width(); ++x)
            red += qRed(corner.pixel(x, y)) - qGreen(corner.pixel(x, y)) > 80; // grey frame, white text
    return double(red) / (size.width() * size.height());
}

// Runs one publishing job on a grey frame with fine detail and reads back the working file.
QImage publishOnce() {
    test::MessageRecorder messages;
    PublishServices s;
    s.grabFrame = [](QImage& target) {
        target = QImage(320, 240, QImage::Format_RGB32);
        for (int y = 0; y < target.height(); ++y)
            for (int x = 0; x < target.width(); ++x)
                target.setPixel(x, y, QColor::fromHsv(0, 0, ((x * 7) ^ (y * 5)) & 255).rgb());
    };
    s.messages = &messages;
    s.live = &LiveValues::instance();
    RunPublishJob(s);
    return QImage(QStringLiteral("webcam.jpg"));
}

} // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // Saved network cameras are listed between the local cameras and the test camera. Add and Remove
    // change NETCAM off the UI thread; Test shows a camera's first picture and its size, or why none came.
    // The editor shows a whole address and Return is OK there; Remove asks first; the camera in use is
    // marked.
    void networkCamerasOnTheDevicePage() {
        test::CameraServer http(test::CameraServer::Kind::Http);
        QVERIFY2(http.running(), qPrintable(http.failure()));
        Rig rig;
        SaveNetworkCameras({{QStringLiteral("Gate"), http.url(QStringLiteral("/page")), {}, {}}});
        qputenv(DeviceList::testCameraVariable(), "videotestsrc");
        rig.capture = std::make_unique<CaptureWindow>(rig.messages);
        qunsetenv(DeviceList::testCameraVariable());
        rig.open();
        auto* list = rig.find<QTreeWidget>("DeviceList");
        const QString snapshot = http.url(QStringLiteral("/snapshot"));
        const auto names = [list] {
            return list->topLevelItem(0)->text(0) + ',' + list->topLevelItem(1)->text(0);
        };
        rig.click("AddCamera");
        auto* editor = rig.dialog->findChild<QDialog*>(QStringLiteral("NetworkCameraEditor"));
        QVERIFY(editor && editor->isVisible());
        editor->findChild<QLineEdit*>(QStringLiteral("CameraUrl"))->setText(QStringLiteral("ftp://x/"));
        editor->accept();
        QVERIFY(editor->isVisible()); // an address that cannot be used is not taken
        auto* url = editor->findChild<QLineEdit*>(QStringLiteral("CameraUrl"));
        url->setText(snapshot + QStringLiteral("?size=320x240"));
        QVERIFY(url->width() > url->fontMetrics().horizontalAdvance(url->text()) + 8);
        url->setText(snapshot);
        QTest::keyClick(url, Qt::Key_Return);
        QVERIFY(!editor->isVisible());
        QTRY_COMPARE(list->topLevelItemCount(), 3);
        QCOMPARE(names() + ',' + list->topLevelItem(2)->text(0), "Gate," + snapshot + ",Test Camera");
        expectStored(QStringLiteral("NETCAM/COUNT=2;NETCAM/URL00002=") + snapshot);
        for (const auto& [row, shown] :
             {std::pair{0, "No picture: the camera answers text/html, not pictures"},
              std::pair{1, "320 x 240"}}) {
            list->setCurrentItem(list->topLevelItem(row));
            rig.click("TestCamera");
            QTRY_COMPARE_WITH_TIMEOUT(rig.find<QLabel>("TestResult")->text(), QString::fromLatin1(shown),
                                      15000);
        }
        const auto bold = [list] {
            QString marks;
            for (int row = 0; row < list->topLevelItemCount(); ++row)
                marks += list->topLevelItem(row)->font(0).bold() ? '*' : '-';
            return marks;
        };
        QCOMPARE(bold(), QStringLiteral("---"));
        list->setCurrentItem(list->topLevelItem(1));
        Q_EMIT list->itemDoubleClicked(list->currentItem(), 0);
        QVERIFY(rig.capture->connected());
        QCOMPARE(bold(), QStringLiteral("-*-"));

        list->setCurrentItem(list->topLevelItem(0));
        for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
            rig.click("RemoveCamera");
            auto* question = rig.dialog->findChild<QMessageBox*>(QStringLiteral("RemoveCameraQuestion"));
            QVERIFY(question && question->isVisible() && question->text().contains(QLatin1String("Gate")));
            question->button(answer)->click();
            QTRY_VERIFY(!rig.dialog->findChild<QMessageBox*>(QStringLiteral("RemoveCameraQuestion")));
            if (answer == QMessageBox::No)
                QCOMPARE(names(), "Gate," + snapshot);
        }
        QTRY_COMPARE(names(), snapshot + ",Test Camera");
        QCOMPARE(bold(), QStringLiteral("*-"));
        expectStored(QStringLiteral("NETCAM/COUNT=1;NETCAM/NAME00002=<absent>"));
    }

    // OK writes every page; an access password asked for but left empty is refused after the timer,
    // image, upload and modem values are stored and before the preferences are. Opened again, the dialog
    // shows what was confirmed; a stored archive folder gets its "/", the chosen one keeps it. The
    // start-up entry follows its box.
    void confirmedValuesComeBack() {
        Rig rig;
        QFile::remove(AutostartEntryPath());
        rig.store.set("MODEM", QStringLiteral("SPEED"), QStringLiteral("9")); // no such speed: no selection
        rig.store.set("IMAGE", QStringLiteral("PATH"), QStringLiteral("/srv/cam"));
        rig.open();
        rig.expectShown(QStringLiteral("ArchivePath=/srv/cam/;TextString=") + applicationTitle());
        rig.find<QButtonGroup>("UpdateType")->button(0)->setChecked(true);
        const QString edits =
            "FixedDate.dateTime=2031-02-03T04:05:06.000;PartIUnit.currentIndex=1;PartIControl=7;"
            "PartIIUnit.currentIndex=1;PartIIControl=9;FTPFilename=cam.jpg;Compression=20;SaveaCopy=true;"
            "InsertDate=true;Transparent=false;TextPosition.currentIndex=6;TextString=&time, yard;"
            "KeepDays=14;GalleryNewestFirst=true;UpFTP=false;UsePassword=true;AutoRun=true;PFR=25;"
            "WindowsStart=true";
        rig.set(edits);
        QString chosen = QStringLiteral("/media/cam"); // then a cancelled Browse, which keeps it
        SetFolderChooser([&chosen](QWidget*, const QString&) { return std::exchange(chosen, QString()); });
        rig.click("BrowseButton");
        rig.click("BrowseButton");
        SetFolderChooser({});
        QString message;
        answerNextMessageBox(message);
        rig.click("OK_Button");
        QCOMPARE(message, QStringLiteral("Please enter a valid password."));
        QVERIFY(rig.dialog->isVisible());
        expectStored("UPDATE/TYPE=0;UPDATE/YEAR=2031;UPDATE/MONTH=2;UPDATE/SECOND=6;UPDATE/PARTI=7;"
                     "UPDATE/UNITI=1;UPDATE/PARTII=9;UPDATE/UNITII=1;IMAGE/FILENAME=cam.jpg;"
                     "IMAGE/COMPRESSION=20;IMAGE/SAVEACOPY=1;IMAGE/DATE=1;IMAGE/TIME=0;IMAGE/TRANS=0;"
                     "IMAGE/TEXTPOS=6;IMAGE/TEXTSTRING=&time, yard;IMAGE/TIMECOLOR=16777215;IMAGE/BACK=0;"
                     "IMAGE/KEEPDAYS=14;IMAGE/KEEPMB=0;IMAGE/PATH=/media/cam/;GALLERY/NEWESTFIRST=1;"
                     "FTP/UPLOAD=0;MODEM/SPEED=-1;MODEM/COM=3;PREF/USEPASS=<absent>;PREF/ARUN=<absent>");

        rig.set("APassword=s3cret");
        rig.click("OK_Button");
        QCOMPARE(rig.dialog->result(), int(QDialog::Accepted));
        expectStored("PREF/USEPASS=1;PREF/ARUN=1;PREF/AHANGUP=1;PREF/WINDOWSSTART=1;PREF/PFR=25");
        const QString lock = GetSetting(keys::PrefPassword); // kept as its hash, shown (masked) as stored
        QCOMPARE(CheckLockPassword(QStringLiteral("s3cret"), lock), LockCheck::Accepted);
        QFile entry(AutostartEntryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly) && entry.readAll().contains(" /BOOT\n"));
        if (!QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
            QCOMPARE(QProcess::execute(QStringLiteral("desktop-file-validate"), {AutostartEntryPath()}), 0);
        rig.open();
        rig.expectShown(edits + ";APassword=" + lock + ";ArchivePath=/media/cam/");
        QCOMPARE(rig.find<QButtonGroup>("UpdateType")->checkedId(), 0);
        rig.set("WindowsStart=false");
        rig.click("OK_Button");
        QVERIFY(!QFile::exists(AutostartEntryPath()));
        // A program path with blanks, quotes, dollars and percent signs still starts that program.
        QVERIFY(AutostartEntryText(QStringLiteral("/opt/my cam/\"x\"$HOME%1"))
                    .contains(QStringLiteral(
                        "Exec=\"/opt/my cam/\\\\\"x\\\\\"\\\\$HOME%%1\" --pictures-folder /BOOT\n")));
    }

    // The switched-off feature's tab does not show. The dialog keeps one size on every page, small enough
    // for a 1280x720 screen with its title bar, OK and Cancel on it; a page is never squeezed below what
    // it needs (a taller one scrolls).
    void everyPageFitsALaptopScreen() {
        Rig rig;
        SettingsDialog& dialog = rig.open();
        auto* tabs = rig.find<QTabBar>("MasterFolder");
        QVERIFY(!tabs->isTabVisible(SettingsDialog::kReservedTab));
        const QSize size = dialog.size();
        QVERIFY2(size.width() <= 1280 && size.height() <= 720 - 40,
                 qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())));
        for (int i = 0; i < tabs->count(); ++i) {
            if (!tabs->isTabVisible(i))
                continue;
            tabs->setCurrentIndex(i);
            QCoreApplication::processEvents();
            QCOMPARE(dialog.size(), size);
            for (const char* name : {"OK_Button", "Cancel_Button"}) {
                auto* button = rig.find<QPushButton>(name);
                QVERIFY(button->isVisible() &&
                        dialog.rect().contains(QRect(button->mapTo(&dialog, QPoint()), button->size())));
            }
            auto* area = qobject_cast<QScrollArea*>(rig.find<QStackedWidget>("FolderPix")->currentWidget());
            QVERIFY(area);
            QWidget* page = area->widget()->layout()->itemAt(0)->widget();
            QVERIFY2(page->height() >= page->minimumSizeHint().height(), qPrintable(tabs->tabText(i)));
        }
    }

    // Uploading shows off without a server, whatever is stored; the first server added switches it
    // on, removing the last one off again. With a server the stored choice shows.
    void uploadNeedsAServer() {
        Rig rig;
        rig.store.set("FTP", QStringLiteral("UPLOAD"), QStringLiteral("1"));
        rig.open();
        rig.expectShown(QStringLiteral("UpFTP=false;UpFTP.enabled=false"));
        rig.click("AddServer");
        rig.expectShown(QStringLiteral("UpFTP=true;UpFTP.enabled=true"));
        rig.set(QStringLiteral("UpFTP=false"));
        rig.click("AddServer");
        rig.expectShown(QStringLiteral("UpFTP=false"));
        rig.click("RemoveServer");
        rig.click("RemoveServer");
        rig.expectShown(QStringLiteral("UpFTP=false;UpFTP.enabled=false"));
        rig.click("AddServer");
        rig.click("OK_Button");
        expectStored("FTP/UPLOAD=1");
        rig.store.set("FTP", QStringLiteral("UPLOAD"), QStringLiteral("0"));
        rig.open();
        rig.expectShown(QStringLiteral("UpFTP=false;UpFTP.enabled=true"));
    }

    // A stored value beyond its control's range shows clamped and goes back as it was, unless the user
    // changes the value or, for an interval count, its unit.
    void outOfRangeValuesStayUntilChanged_data() {
        QTest::addColumn<QString>("stored"); // SECTION/KEY=text;…, also what OK leaves unless "after" says
        QTest::addColumn<QString>("set");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("after");
        const QString hours = QStringLiteral("UPDATE/PARTI=30;UPDATE/UNITI=1");
        QTest::newRow("30 hours") << hours << QString() << "PartIControl=24" << QString();
        QTest::newRow("30 hours, count changed") << hours << "PartIControl=20"
                                                 << "PartIControl=20"
                                                 << "UPDATE/PARTI=20";
        QTest::newRow("30 hours, unit changed") << hours << "PartIUnit=0"
                                                << "PartIControl=24"
                                                << "UPDATE/PARTI=24;UPDATE/UNITI=0";
        QTest::newRow("finer part") << "UPDATE/UNITI=0;UPDATE/UNITII=0;UPDATE/PARTII=50" << QString()
                                    << "PartIIControl=23" << QString();
        QTest::newRow("sliders") << "IMAGE/COMPRESSION=150;PREF/PFR=45;MODEM/RINGS=0" << QString()
                                 << "Compression=100;PFR=30" << QString();
        // Pixels written by hand show in whole megapixels.
        QTest::newRow("largest picture")
            << "VFW/MAXPIXELS=45500000" << QString() << "MaxPixels=46" << QString();
        QTest::newRow("largest picture changed") << "VFW/MAXPIXELS=45500000"
                                                 << "MaxPixels=12"
                                                 << "MaxPixels=12"
                                                 << "VFW/MAXPIXELS=12000000";
    }
    void outOfRangeValuesStayUntilChanged() {
        QFETCH(QString, stored);
        QFETCH(QString, set);
        QFETCH(QString, shown);
        QFETCH(QString, after);
        Rig rig;
        for (const QString& pair : stored.split(QLatin1Char(';')))
            rig.store.set(qPrintable(pair.section(QLatin1Char('/'), 0, 0)),
                          pair.section(QLatin1Char('/'), 1).section(QLatin1Char('='), 0, 0),
                          pair.section(QLatin1Char('='), 1));
        rig.open();
        if (!set.isEmpty())
            rig.set(set);
        rig.expectShown(shown);
        rig.click("OK_Button");
        expectStored(after.isEmpty() ? stored : after);
    }

    // Controls that follow others: the interval units, the value labels, the archive folder's controls.
    void controlsFollowEachOther_data() {
        QTest::addColumn<QString>("set");
        QTest::addColumn<QString>("shown");
        QTest::newRow("days offer three, hours first")
            << "PartIUnit=0"
            << "PartIUnit=Days;PartIControl=30;PartIIUnit=Hours;PartIIUnit.count=3;"
               "PartIIControl.maximum=23;PartIIUnit.hidden=false;DoisPontos.hidden=false";
        QTest::newRow("0 days are 24 hours") << "PartIUnit=0;PartIControl=1;PartIControl=0"
                                             << "PartIUnit=Hours;PartIControl=24;PartIIUnit=Minutes;"
                                                "PartIIUnit.count=2;PartIIControl.maximum=59";
        QTest::newRow("0 seconds are 59 seconds")
            << "PartIUnit=3;PartIControl=1;PartIControl=0"
            << "PartIUnit=Seconds;PartIControl=59;PartIIUnit.hidden=true";
        QTest::newRow("labels, no copy") << "PFR=7;Compression=5;SaveaCopy=true;SaveaCopy=false"
                                         << "PFRDISP=Preview Frame Rate (07 FPS);"
                                            "CompressionLabel=JPEG Compression (5%);"
                                            "ArchivePath.enabled=false;BrowseButton.enabled=false";
    }
    void controlsFollowEachOther() {
        Rig rig;
        rig.open();
        QFETCH(QString, set);
        QFETCH(QString, shown);
        rig.set(set);
        rig.expectShown(shown);
    }

    // The preview and the published file show the stamp's background exactly when the dialog or the
    // settings say so: unconfirmed dialog values apply while it is open, the stored ones before it and
    // after Cancel, which writes nothing but leaves the server list's edits. The preview writes no file,
    // and any key closes it.
    // A hook that is not http or https keeps the dialog open on the Alerts page and stores nothing; a
    // test is sent off the UI thread and its outcome shows on the page.
    void alertsPageRefusesAndTests() {
        Rig rig;
        rig.open();
        rig.set(QStringLiteral("AlertUrl=file:///etc/passwd;AlertAfter=5"));
        rig.click("OK_Button");
        QVERIFY(rig.dialog->isVisible());
        QCOMPARE(
            rig.find<QTabBar>("MasterFolder")->tabText(rig.find<QTabBar>("MasterFolder")->currentIndex()),
            QStringLiteral("Alerts"));
        QVERIFY(!rig.find<QLabel>("AlertOutcome")->text().isEmpty());
        expectStored(QStringLiteral("ALERT/URL=<absent>;ALERT/AFTER=<absent>"));

        QTcpServer hook; // takes the connection and never answers
        QVERIFY(hook.listen(QHostAddress::LocalHost));
        const QString url = QStringLiteral("http://127.0.0.1:%1/x").arg(hook.serverPort());
        rig.set(QStringLiteral("AlertUrl=") + url);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(ReturnsAtOnce([&] { rig.click("AlertTestHook"); }));
        QVERIFY(clock.elapsed() < 5000); // the hook's ten seconds are not waited for
        rig.expectShown(QStringLiteral("AlertOutcome=Sending...;AlertTestHook.enabled=false"));
        QSignalSpy finished(rig.find<AlertsPage>("AlertsPage"), &AlertsPage::testFinished);
        hook.close();
        QVERIFY(finished.wait(15000));
        QVERIFY(rig.find<QLabel>("AlertOutcome")->text().startsWith(QLatin1String("Not sent: ")));
        rig.click("OK_Button");
        expectStored(QStringLiteral("ALERT/URL=") + url + QStringLiteral(";ALERT/AFTER=5"));
    }

    void previewAndJobFollowTheDialog() {
        Rig rig;
        rig.store.set("IMAGE", QStringLiteral("TIME"), QStringLiteral("1"));
        rig.store.set("IMAGE", QStringLiteral("BACK"), QStringLiteral("255")); // red
        rig.store.set("IMAGE", QStringLiteral("TRANS"), QStringLiteral("1"));
        rig.store.set("FTP", QStringLiteral("UPLOAD"), QStringLiteral("0"));
        QVERIFY(redShare(publishOnce(), false) < 0.01);
        const qint64 sizeAtStored = QFileInfo(QStringLiteral("webcam.jpg")).size();

        QPointer<SettingsDialog> opened;
        QVERIFY(ReturnsAtOnce([&] { opened = ShowSettingsDialog(*rig.capture); }));
        QVERIFY(opened && opened->isVisible());
        opened->reject();
        QTRY_VERIFY(!opened); // gone once closed

        rig.open();
        rig.set("Transparent=false;TimePosition=6;Compression=100;AutoRun=true");
        const QStringList before = QDir().entryList(QDir::AllEntries | QDir::Hidden); // the current folder
        QVERIFY(ReturnsAtOnce([&] { rig.click("Preview_button"); }));
        auto* preview = qobject_cast<PreviewWindow*>(QApplication::activeModalWidget());
        QVERIFY(preview);
        const QImage shown = preview->picture()->pixmap().toImage();
        QTest::keyClick(preview, Qt::Key_Space);
        QVERIFY(!preview->isVisible());
        QVERIFY(redShare(shown, true) > 0.05); // the time on its red box, bottom right
        QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::Hidden), before);
        QVERIFY(redShare(publishOnce(), true) > 0.05);
        const qint64 sizeAtEdited = QFileInfo(QStringLiteral("webcam.jpg")).size();
        QVERIFY(sizeAtEdited < sizeAtStored / 2);

        rig.click("AddServer");
        rig.set("FTPAddress=ftp.example.org");
        rig.click("Cancel_Button");
        expectStored("IMAGE/COMPRESSION=<absent>;PREF/ARUN=<absent>;FTP/ADDRESS00001=ftp.example.org");
        QVERIFY(redShare(publishOnce(), true) < 0.01);
        QVERIFY(QFileInfo(QStringLiteral("webcam.jpg")).size() > sizeAtEdited * 2);
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "test_settings_dialog.moc"
