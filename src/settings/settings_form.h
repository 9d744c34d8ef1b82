#pragma once

#include "publish/live_values.h"

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace zantrel {

// What the settings dialog shows, page by page, as plain values. Loading reads them from the settings;
// confirming writes them back in a fixed order. List positions are 0-based, -1 when a list has no
// selection (a stored position the list does not have); check boxes are on or off.

struct DeviceValues {
    int previewRate = 12;   // PREF/PFR
    int warmUpMs = 1500;    // VFW/WARMUP
    int stallSeconds = 10;  // VFW/STALL
    int maxMegapixels = 40; // VFW/MAXPIXELS, stored in pixels; written only when changed
    int whenLost = 0;       // VFW/WHENLOST: 0 the test card, 1 nothing
};

struct TimerValues {
    int updateType = 1; // 0 fixed date and time, 1 every interval
    QDateTime fixedDate;
    int partI = 30;
    int unitI = 3;
    int partII = 0;
    int unitII = 0;
    // Active hours: from and to as HH:MM (both empty: always), or from sunrise to sunset at a place.
    QString activeFrom, activeTo;
    bool sun = false;
    double latitude = 0, longitude = 0;
    int sunOffset = 0; // minutes
};

struct ImageValues {
    QString fileName;
    int compression = 50;
    bool saveCopy = false;
    QString archivePath; // always ends with "/"
    int keepDays = 0, keepMb = 0, keepFreeMb = 0;
    bool galleryNewestFirst = false; // the gallery's order, also chosen in the gallery itself
    bool time = false, date = false, text = false;
    std::int32_t timeColor = 0xFFFFFF, dateColor = 0xFFFFFF, textColor = 0xFFFFFF, backColor = 0;
    bool transparent = true;
    QString textString;
    int timePos = 0, datePos = 0, textPos = 0;
    int valueMaxAge = 600;
    int urlInterval = 60; // seconds between fetches of the {url:} values
    QString logoFile, font;
    int logoPos = 6, logoSize = 10, logoOpacity = 100, fontSize = 100;
};

struct ModemValues {
    int com = 3, speed = 4, parity = 0, stopBits = 0, dataBits = 0, dialMode = 1;
    bool autoAnswer = false;
    int rings = 3;
    bool askForPassword = false;
};

struct PreferenceValues {
    bool usePassword = false;
    bool autoRun = false;
    bool autoHangUp = true;
    QString password;
    bool windowsStart = false;
};

struct SettingsForm {
    DeviceValues device;
    TimerValues timer;
    ImageValues image;
    bool upload = true; // FTP/UPLOAD as the dialog shows it
    ModemValues modem;
    PreferenceValues prefs;
};

// Reads every value the dialog shows from the settings, with the dialog's defaults.
SettingsForm LoadSettingsForm();

enum class ConfirmOutcome {
    Stored,
    // A password is asked for but none was given: timer, image, upload and modem values are stored,
    // the preferences are not.
    PasswordRefused,
};

// The form to confirm: a count or slider value the user left as it showed after loading keeps the value
// loaded, so a stored value beyond its control's range (PARTI=30 with hours shows 24) is written back
// as it was, and only a change writes the control's value. A count whose unit changed counts as changed.
SettingsForm KeepUntouched(SettingsForm now, const SettingsForm& shown, const SettingsForm& loaded);

// Writes the values in order: timer, image, upload, modem, then (unless refused) the preferences.
ConfirmOutcome ConfirmSettingsForm(const SettingsForm& form);

// The stamp layout and compression the job and the preview use while the dialog shows these values.
LiveValues::Values LiveValuesOf(const ImageValues& image);

// The archive folder as shown: "/" appended unless it already ends with one.
QString ArchiveFolderText(const QString& stored);

} // namespace zantrel
