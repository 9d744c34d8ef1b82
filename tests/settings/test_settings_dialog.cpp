// The settings dialog over a real capture window: loading, confirming, cancelling, the timer controls,
// the device page and the start-up entry.
#include "capture/capture_window.h"
#include "capture/device_list.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"
#include "core/version.h"
#include "settings/autostart.h"
#include "settings/settings_dialog.h"
#include "shell/browse_for_folder.h"
#include "support/temp_store.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTabBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QtTest>

using namespace zantrel;

namespace {

struct NoMessages final : MessageSink {
    void showMessage(const QString&) override {}
};

// A settings file, a capture window (over the test camera when one is described) and the dialog.
struct Rig {
    explicit Rig(const QByteArray& camera = {}) {
        if (camera.isEmpty())
            qunsetenv(DeviceList::testCameraVariable());
        else
            qputenv(DeviceList::testCameraVariable(), camera);
        capture = std::make_unique<CaptureWindow>(messages);
    }
    SettingsDialog& open() {
        dialog = std::make_unique<SettingsDialog>(*capture);
        dialog->show();
        return *dialog;
    }
    template <typename T> T* find(const char* name) { return dialog->findChild<T*>(QLatin1String(name)); }
    void click(const char* button) { QTest::mouseClick(find<QAbstractButton>(button), Qt::LeftButton); }
    void setChecked(const char* box, bool on) { find<QCheckBox>(box)->setChecked(on); }

    test::TempStore store;
    NoMessages messages;
    std::unique_ptr<CaptureWindow> capture;
    std::unique_ptr<SettingsDialog> dialog;
};

QString stored(const char* section, const char* key) {
    return GetSetting(QLatin1String(section), QLatin1String(key), QStringLiteral("<absent>"));
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

} // namespace

class TestSettingsDialog : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void emptyStoreShowsTheDefaults() {
        Rig rig;
        SettingsDialog& d = rig.open();
        QCOMPARE(rig.find<QTabBar>("MasterFolder")->tabText(SettingsDialog::kReservedTab),
                 QStringLiteral("Reserved"));
        QCOMPARE(rig.find<QStackedWidget>("FolderPix")->currentIndex(), 1); // the Device page
        const SettingsForm f = d.form();
        QCOMPARE(f.timer.updateType, 1);
        QCOMPARE(rig.find<QSpinBox>("PartIControl")->value(), 30);
        QCOMPARE(rig.find<QComboBox>("PartIUnit")->currentText(), QStringLiteral("Seconds"));
        QVERIFY(rig.find<QComboBox>("PartIIUnit")->isHidden());
        QCOMPARE(f.image.fileName, QStringLiteral("webcam.jpg"));
        QCOMPARE(f.image.compression, 50);
        QCOMPARE(rig.find<QLabel>("ArchivePath")->text(), QDir::currentPath() + QLatin1Char('/'));
        const QPalette sample = rig.find<QLabel>("DateSample")->palette();
        QCOMPARE(sample.color(QPalette::WindowText), QColor(Qt::white));
        QCOMPARE(sample.color(QPalette::Window), QColor(Qt::black));
        QVERIFY(f.image.transparent);
        QCOMPARE(f.image.textString, applicationTitle());
        QCOMPARE(rig.find<QComboBox>("TextPosition")->currentText(), QStringLiteral("Top Left"));
        QVERIFY(f.upload);
        QCOMPARE(rig.find<QTreeWidget>("FTPServerList")->topLevelItemCount(), 0);
        QVERIFY(f.prefs.autoHangUp);
        QCOMPARE(f.device.previewRate, 12);
        // The modem feature's tab shows no page.
        rig.find<QTabBar>("MasterFolder")->setCurrentIndex(SettingsDialog::kReservedTab);
        QCOMPARE(rig.find<QStackedWidget>("FolderPix")->currentIndex(), 0);
    }

    // OK writes every page; an access password asked for but left empty is refused after the timer,
    // image, upload and modem values are stored and before the preferences are.
    void confirmingWritesEveryKeyInOrder() {
        Rig rig;
        rig.store.set("MODEM", QStringLiteral("SPEED"), QStringLiteral("9")); // no such speed: no selection
        rig.open();
        rig.find<QButtonGroup>("UpdateType")->button(0)->setChecked(true);
        rig.find<QDateTimeEdit>("FixedDate")->setDateTime(QDateTime(QDate(2031, 2, 3), QTime(4, 5, 6)));
        rig.find<QComboBox>("PartIUnit")->setCurrentIndex(1);
        rig.find<QSpinBox>("PartIControl")->setValue(7);
        rig.find<QComboBox>("PartIIUnit")->setCurrentIndex(1);
        rig.find<QSpinBox>("PartIIControl")->setValue(9);
        rig.find<QLineEdit>("FTPFilename")->setText(QStringLiteral("cam.jpg"));
        rig.find<QSlider>("Compression")->setValue(20);
        rig.setChecked("SaveaCopy", true);
        rig.setChecked("InsertDate", true);
        rig.setChecked("Transparent", false);
        rig.find<QComboBox>("TextPosition")->setCurrentIndex(6);
        rig.find<QLineEdit>("TextString")->setText(QStringLiteral("&time, yard"));
        rig.find<QSpinBox>("KeepDays")->setValue(14);
        rig.setChecked("UpFTP", false);
        rig.setChecked("UsePassword", true);
        rig.setChecked("AutoRun", true);
        rig.find<QSlider>("PFR")->setValue(25);

        QString message;
        answerNextMessageBox(message);
        rig.click("OK_Button");
        QCOMPARE(message, QStringLiteral("Please enter a valid password."));
        QVERIFY(rig.dialog->isVisible());
        const QList<std::pair<const char*, const char*>> writtenFirst = {
            {"TYPE", "0"},  {"YEAR", "2031"}, {"MONTH", "2"},  {"SECOND", "6"},
            {"PARTI", "7"}, {"UNITI", "1"},   {"PARTII", "9"}, {"UNITII", "1"}};
        for (const auto& [key, text] : writtenFirst)
            QCOMPARE(stored("UPDATE", key), QLatin1String(text));
        const QList<std::pair<const char*, const char*>> imageKeys = {{"FILENAME", "cam.jpg"},
                                                                      {"COMPRESSION", "20"},
                                                                      {"SAVEACOPY", "1"},
                                                                      {"DATE", "1"},
                                                                      {"TIME", "0"},
                                                                      {"TRANS", "0"},
                                                                      {"TEXTPOS", "6"},
                                                                      {"TEXTSTRING", "&time, yard"},
                                                                      {"TIMECOLOR", "16777215"},
                                                                      {"BACK", "0"},
                                                                      {"KEEPDAYS", "14"},
                                                                      {"KEEPMB", "0"}};
        for (const auto& [key, text] : imageKeys)
            QCOMPARE(stored("IMAGE", key), QLatin1String(text));
        QCOMPARE(stored("FTP", "UPLOAD"), QStringLiteral("0"));
        QCOMPARE(stored("MODEM", "SPEED"), QStringLiteral("-1"));
        QCOMPARE(stored("MODEM", "COM"), QStringLiteral("3"));
        QCOMPARE(stored("PREF", "USEPASS"), QStringLiteral("<absent>"));
        QCOMPARE(stored("PREF", "ARUN"), QStringLiteral("<absent>"));

        rig.find<QLineEdit>("APassword")->setText(QStringLiteral("s3cret"));
        rig.click("OK_Button");
        QCOMPARE(rig.dialog->result(), int(QDialog::Accepted));
        const QList<std::pair<const char*, const char*>> prefs = {
            {"USEPASS", "1"},       {"ARUN", "1"},         {"AHANGUP", "1"},
            {"PASSWORD", "s3cret"}, {"WINDOWSSTART", "0"}, {"PFR", "25"}};
        for (const auto& [key, text] : prefs)
            QCOMPARE(stored("PREF", key), QLatin1String(text));
    }

    void cancelWritesNothingButServerEditsStay() {
        Rig rig;
        rig.open();
        rig.find<QSlider>("Compression")->setValue(80);
        rig.setChecked("AutoRun", true);
        rig.click("AddServer");
        rig.find<QLineEdit>("FTPAddress")->setText(QStringLiteral("ftp.example.org"));
        rig.click("Cancel_Button");
        QCOMPARE(stored("IMAGE", "COMPRESSION"), QStringLiteral("<absent>"));
        QCOMPARE(stored("PREF", "ARUN"), QStringLiteral("<absent>"));
        QCOMPARE(stored("FTP", "ADDRESS00001"), QStringLiteral("ftp.example.org"));
    }

    void intervalUnits_data() {
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("stepTo"); // -1: choose the unit only
        QTest::addColumn<QString>("unitAfter");
        QTest::addColumn<int>("countAfter");
        QTest::addColumn<QStringList>("secondUnits");
        QTest::addColumn<int>("secondMaximum");
        const QStringList hms{"Hours", "Minutes", "Seconds"};
        QTest::newRow("seconds hide the second unit")
            << 3 << 30 << -1 << "Seconds" << 30 << QStringList{} << -1;
        QTest::newRow("days offer three, hours first") << 0 << 30 << -1 << "Days" << 30 << hms << 23;
        QTest::newRow("minutes offer seconds")
            << 2 << 30 << -1 << "Minutes" << 30 << QStringList{"Seconds"} << 59;
        QTest::newRow("0 days are 24 hours")
            << 0 << 1 << 0 << "Hours" << 24 << QStringList{"Minutes", "Seconds"} << 59;
        QTest::newRow("0 seconds are 59 seconds") << 3 << 1 << 0 << "Seconds" << 59 << QStringList{} << -1;
    }
    void intervalUnits() {
        QFETCH(int, unit);
        QFETCH(int, count);
        QFETCH(int, stepTo);
        Rig rig;
        rig.open();
        auto* unitI = rig.find<QComboBox>("PartIUnit");
        auto* partI = rig.find<QSpinBox>("PartIControl");
        auto* unitII = rig.find<QComboBox>("PartIIUnit");
        unitI->setCurrentIndex(unit);
        partI->setValue(count);
        if (stepTo >= 0)
            partI->setValue(stepTo);
        QTEST(unitI->currentText(), "unitAfter");
        QTEST(partI->value(), "countAfter");
        QStringList offered;
        for (int i = 0; i < unitII->count(); ++i)
            offered << unitII->itemText(i);
        QTEST(offered, "secondUnits");
        QCOMPARE(unitII->isHidden(), offered.isEmpty());
        QCOMPARE(rig.find<QLabel>("DoisPontos")->isHidden(), offered.isEmpty());
        if (!offered.isEmpty()) {
            QCOMPARE(unitII->currentIndex(), 0);
            QTEST(rig.find<QSpinBox>("PartIIControl")->maximum(), "secondMaximum");
        }
    }

    void valueLabels_data() {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("rate 0") << "PFR"
                                << "PFRDISP" << 0 << "Preview Frame Rate (00 FPS)";
        QTest::newRow("rate 7") << "PFR"
                                << "PFRDISP" << 7 << "Preview Frame Rate (07 FPS)";
        QTest::newRow("rate 30") << "PFR"
                                 << "PFRDISP" << 30 << "Preview Frame Rate (30 FPS)";
        QTest::newRow("compression 5") << "Compression"
                                       << "CompressionLabel" << 5 << "JPEG Compression (5%)";
        QTest::newRow("compression 100") << "Compression"
                                         << "CompressionLabel" << 100 << "JPEG Compression (100%)";
    }
    void valueLabels() {
        QFETCH(QString, slider);
        QFETCH(QString, label);
        QFETCH(int, value);
        Rig rig;
        rig.open();
        rig.find<QSlider>(qPrintable(slider))->setValue(value);
        QTEST(rig.find<QLabel>(qPrintable(label))->text(), "text");
    }

    void archiveControlsFollowSaveaCopy() {
        Rig rig;
        rig.store.set("IMAGE", QStringLiteral("PATH"), QStringLiteral("/srv/cam"));
        rig.open();
        QCOMPARE(rig.find<QLabel>("ArchivePath")->text(), QStringLiteral("/srv/cam/"));
        QVERIFY(!rig.find<QPushButton>("BrowseButton")->isEnabled());
        rig.setChecked("SaveaCopy", true);
        QVERIFY(rig.find<QLabel>("ArchivePath")->isEnabled());
        QString chosen = QStringLiteral("/media/cam");
        SetFolderChooser([&chosen](QWidget*, const QString&) { return chosen; });
        rig.click("BrowseButton");
        QCOMPARE(rig.find<QLabel>("ArchivePath")->text(), QStringLiteral("/media/cam/"));
        chosen.clear(); // cancelled: the folder stays
        rig.click("BrowseButton");
        SetFolderChooser({});
        QCOMPARE(rig.find<QLabel>("ArchivePath")->text(), QStringLiteral("/media/cam/"));
    }

    // The picker starts from the sample's colour; the background goes behind all three samples and the
    // stamp colour to its own.
    void colourPickersPaintTheSamples() {
        Rig rig;
        rig.open();
        const auto pick = [&rig](const char* button, const QColor& colour) {
            QTimer::singleShot(0, [colour] {
                auto* picker = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
                QVERIFY(picker);
                QCOMPARE(picker->currentColor(), colour == Qt::red ? QColor(Qt::black) : QColor(Qt::white));
                picker->setCurrentColor(colour);
                picker->accept();
            });
            rig.click(button);
        };
        pick("BackColor", Qt::red);
        pick("DateForecolor", Qt::blue);
        for (const char* sample : {"TimeSample", "DateSample", "TextSample"})
            QCOMPARE(rig.find<QLabel>(sample)->palette().color(QPalette::Window), QColor(Qt::red));
        QCOMPARE(rig.find<QLabel>("DateSample")->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QCOMPARE(rig.find<QLabel>("TimeSample")->palette().color(QPalette::WindowText), QColor(Qt::white));
        QCOMPARE(rig.dialog->form().image.backColor, 0x0000FF);
    }

    // The camera list, connecting by double click, and the buttons following what the camera offers.
    void devicePageConnectsTheCamera() {
        Rig rig("videotestsrc ! video/x-raw,width=320,height=240");
        rig.open();
        auto* list = rig.find<QTreeWidget>("DeviceList");
        const int last = list->topLevelItemCount() - 1;
        QCOMPARE(list->topLevelItem(last)->text(0), QStringLiteral("Test Camera"));
        auto* format =
            rig.find<QToolBar>("VideoSettings")->findChild<QAction*>(QStringLiteral("videoformat"));
        QVERIFY(!format->isEnabled());
        list->setCurrentItem(list->topLevelItem(last));
        Q_EMIT list->itemDoubleClicked(list->topLevelItem(last), 0);
        QVERIFY(rig.capture->connected());
        QVERIFY(format->isEnabled());
        QCOMPARE(stored("VFW", "INDEX"), QString::number(last));
        rig.capture->setOverlayMode(true);
        rig.find<QToolBar>("ViewMode")->findChild<QAction*>(QStringLiteral("preview"))->trigger();
        QVERIFY(!rig.capture->overlayMode());
    }

    void startAtLoginEntryFollowsTheBox() {
        Rig rig;
        QFile::remove(AutostartEntryPath());
        rig.open();
        rig.setChecked("WindowsStart", true);
        rig.click("OK_Button");
        QFile entry(AutostartEntryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains(" /BOOT\n"));
        if (!QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
            QCOMPARE(QProcess::execute(QStringLiteral("desktop-file-validate"), {AutostartEntryPath()}), 0);
        rig.open();
        QVERIFY(rig.find<QCheckBox>("WindowsStart")->isChecked());
        rig.setChecked("WindowsStart", false);
        rig.click("OK_Button");
        QVERIFY(!QFile::exists(AutostartEntryPath()));
    }

    // A program path with blanks, quotes, dollars and percent signs still starts that program.
    void autostartExecLineQuotesThePath() {
        const QString text = AutostartEntryText(QStringLiteral("/opt/my cam/\"x\"$HOME%1"));
        QVERIFY(text.contains(QStringLiteral("Exec=\"/opt/my cam/\\\\\"x\\\\\"\\\\$HOME%%1\" /BOOT\n")));
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "test_settings_dialog.moc"
