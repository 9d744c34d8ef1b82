#include "settings/small_pages.h"

#include "settings/page_widgets.h"
#include "settings/server_editor.h"

#include <QFormLayout>
#include <QVBoxLayout>

namespace zantrel {

PreferencesPage::PreferencesPage(QWidget* parent)
    : QWidget(parent),
      windowsStart_(page::check(this, "WindowsStart",
                                QStringLiteral("Load Webcam Zantrel when the desktop session starts"))),
      autoHangUp_(page::check(this, "AutoHangUp",
                              QStringLiteral("Auto HangUp after update (for Dial-Up Networking only)."))),
      autoRun_(page::check(this, "AutoRun", QStringLiteral("Auto Run when application start"))),
      usePassword_(page::check(this, "UsePassword",
                               QStringLiteral("Do not allow to change settings without a Password."))),
      password_(page::field(this, "APassword", QStringLiteral("Password:"))) {
    password_->setEchoMode(QLineEdit::Password);
    auto* layout = new QVBoxLayout(this);
    for (QWidget* w : {windowsStart_, autoHangUp_, autoRun_, usePassword_})
        layout->addWidget(w);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Password:"), password_);
    layout->addLayout(form);
    layout->addWidget(
        page::label(this, "Label16",
                    QStringLiteral("If you want to protect all this settings enable a password, Hang-Up "
                                   "the phone after Upload a image is only if you use a phone line to "
                                   "connect to internet."),
                    true));
    layout->addStretch();
}

void PreferencesPage::load(const PreferenceValues& v) {
    usePassword_->setChecked(v.usePassword);
    autoRun_->setChecked(v.autoRun);
    autoHangUp_->setChecked(v.autoHangUp);
    password_->setText(v.password);
    windowsStart_->setChecked(v.windowsStart);
}

PreferenceValues PreferencesPage::values() const {
    return {usePassword_->isChecked(), autoRun_->isChecked(), autoHangUp_->isChecked(), password_->text(),
            windowsStart_->isChecked()};
}

InternetPage::InternetPage(QWidget* parent)
    : QWidget(parent),
      upload_(page::check(this, "UpFTP", QStringLiteral("Upload each image to a FTP Server"))),
      servers_(new ServerEditor(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(upload_);
    layout->addWidget(servers_);
    // Uploading needs a server: the first one added switches it on, removing the last one off.
    connect(servers_, &ServerEditor::countChanged, this, [this](int count) {
        if (count == 0 || !upload_->isEnabledTo(this))
            upload_->setChecked(count > 0);
        upload_->setEnabled(count > 0);
    });
}

void InternetPage::load(bool upload) {
    upload_->setChecked(upload && servers_->count() > 0);
    upload_->setEnabled(servers_->count() > 0);
}

bool InternetPage::upload() const {
    return upload_->isChecked();
}

ModemControls::ModemControls(QWidget* parent)
    : QWidget(parent), com_(page::list(this, "ComPort", QStringLiteral("Com Port:"),
                                       {QStringLiteral("COM1:"), QStringLiteral("COM2:"),
                                        QStringLiteral("COM3:"), QStringLiteral("COM4:")})),
      speed_(page::list(this, "ModemSpeed", QStringLiteral("Speed:"), {})),
      parity_(page::list(this, "Parity", QStringLiteral("Parity:"),
                         {QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even")})),
      stopBits_(page::list(this, "StopBits", QStringLiteral("Stop Bits:"),
                           {QStringLiteral("1"), QStringLiteral("2")})),
      dataBits_(page::list(this, "DataBits", QStringLiteral("Data Bits:"),
                           {QStringLiteral("7"), QStringLiteral("8")})),
      dialMode_(page::list(this, "DialMode", QStringLiteral("Dial Mode:"),
                           {QStringLiteral("Pulse"), QStringLiteral("Tone")})),
      autoAnswer_(page::check(this, "AutoAnswer", QStringLiteral("Auto Answer Phone:"))),
      rings_(page::slider(this, "NoRings", QStringLiteral("Number of Rings"), 1, 10)),
      askForPassword_(
          page::check(this, "AskForPassword", QStringLiteral("Prompt a Password for incoming calls"))) {
    for (int bps : {4800, 9600, 19200, 38400, 57600, 115200})
        speed_->addItem(QStringLiteral("%1 bps").arg(bps));
    page::label(this, "Ring_Label", QStringLiteral("Number of Rings"));
    setVisible(false);
}

void ModemControls::load(const ModemValues& v) {
    com_->setCurrentIndex(v.com);
    speed_->setCurrentIndex(v.speed);
    parity_->setCurrentIndex(v.parity);
    stopBits_->setCurrentIndex(v.stopBits);
    dataBits_->setCurrentIndex(v.dataBits);
    dialMode_->setCurrentIndex(v.dialMode);
    autoAnswer_->setChecked(v.autoAnswer);
    rings_->setValue(v.rings);
    askForPassword_->setChecked(v.askForPassword);
}

ModemValues ModemControls::values() const {
    return {com_->currentIndex(),      speed_->currentIndex(),    parity_->currentIndex(),
            stopBits_->currentIndex(), dataBits_->currentIndex(), dialMode_->currentIndex(),
            autoAnswer_->isChecked(),  rings_->value(),           askForPassword_->isChecked()};
}

} // namespace zantrel
