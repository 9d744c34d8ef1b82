#include "settings/settings_form.h"

#include "core/clock.h"
#include "core/leading_number.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "core/version.h"
#include "imaging/picture_bound.h"
#include "secrets/lock_password.h"

#include <QDir>
#include <algorithm>
#include <cmath>
#include <variant>

namespace zantrel {

namespace {

// The fixed date, one part at a time, each defaulting to that part of the clock read anew; a part that
// would make no valid date or time (the 31st in a short month) is left as it was.
QDateTime loadFixedDate() {
    const auto part = [](const keys::SettingKey& key, int present) { return ReadInt32(key, present); };
    QDate date = clock().now().date();
    QTime time = clock().now().time();
    const auto tryDate = [&date](int y, int m, int d) {
        if (QDate::isValid(y, m, d))
            date = QDate(y, m, d);
    };
    const auto tryTime = [&time](int h, int m, int s) {
        if (QTime::isValid(h, m, s))
            time = QTime(h, m, s);
    };
    tryDate(part(keys::UpdateYear, clock().now().date().year()), date.month(), date.day());
    tryDate(date.year(), part(keys::UpdateMonth, clock().now().date().month()), date.day());
    tryDate(date.year(), date.month(), part(keys::UpdateDay, clock().now().date().day()));
    tryTime(part(keys::UpdateHour, clock().now().time().hour()), time.minute(), time.second());
    tryTime(time.hour(), part(keys::UpdateMinute, clock().now().time().minute()), time.second());
    tryTime(time.hour(), time.minute(), part(keys::UpdateSecond, clock().now().time().second()));
    return QDateTime(date, time);
}

QString flag(bool on) {
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

void save(const keys::SettingKey& key, std::int64_t number) {
    SaveSetting(key, NumberText(number));
}

// A value of the form beside the setting it is loaded from and confirmed to. Numbers are read at their
// setting's width, 16 bits unless `wide`; flags are stored as "1" or "0".
template <class Values> struct Field {
    const keys::SettingKey* key;
    std::variant<int Values::*, bool Values::*, QString Values::*> member;
    bool wide = false;
};

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };

template <class Values, std::size_t N> void loadFields(Values& values, const Field<Values> (&fields)[N]) {
    for (const Field<Values>& f : fields)
        std::visit(
            Overloaded{[&](int Values::*m) { values.*m = f.wide ? ReadInt32(*f.key) : ReadInt16(*f.key); },
                       [&](bool Values::*m) { values.*m = ReadFlag(*f.key); },
                       [&](QString Values::*m) { values.*m = GetSetting(*f.key); }},
            f.member);
}

template <class Values, std::size_t N>
void confirmFields(const Values& values, const Field<Values> (&fields)[N]) {
    for (const Field<Values>& f : fields)
        std::visit(Overloaded{[&](int Values::*m) { save(*f.key, values.*m); },
                              [&](bool Values::*m) { SaveSetting(*f.key, flag(values.*m)); },
                              [&](QString Values::*m) { SaveSetting(*f.key, values.*m); }},
                   f.member);
}

// In the order they are confirmed. The update type, the fixed date, the archive folder and the stamp's
// free text have rules of their own.
const Field<TimerValues> kTimerFields[] = {{&keys::UpdatePartI, &TimerValues::partI, true},
                                           {&keys::UpdateUnitI, &TimerValues::unitI},
                                           {&keys::UpdatePartII, &TimerValues::partII, true},
                                           {&keys::UpdateUnitII, &TimerValues::unitII}};

const Field<ImageValues> kImageFields[] = {{&keys::ImageFileName, &ImageValues::fileName},
                                           {&keys::ImageCompression, &ImageValues::compression},
                                           {&keys::ImageSaveCopy, &ImageValues::saveCopy},
                                           {&keys::ImageTime, &ImageValues::time},
                                           {&keys::ImageDate, &ImageValues::date},
                                           {&keys::ImageText, &ImageValues::text},
                                           {&keys::ImageTimeColor, &ImageValues::timeColor, true},
                                           {&keys::ImageDateColor, &ImageValues::dateColor, true},
                                           {&keys::ImageTextColor, &ImageValues::textColor, true},
                                           {&keys::ImageBack, &ImageValues::backColor, true},
                                           {&keys::ImageTrans, &ImageValues::transparent},
                                           {&keys::ImageTimePos, &ImageValues::timePos},
                                           {&keys::ImageDatePos, &ImageValues::datePos},
                                           {&keys::ImageTextPos, &ImageValues::textPos},
                                           {&keys::ImageKeepDays, &ImageValues::keepDays, true},
                                           {&keys::ImageKeepMb, &ImageValues::keepMb, true},
                                           {&keys::ImageKeepFreeMb, &ImageValues::keepFreeMb, true},
                                           {&keys::GalleryNewestFirst, &ImageValues::galleryNewestFirst},
                                           {&keys::ImageValueMaxAge, &ImageValues::valueMaxAge, true},
                                           {&keys::ImageUrlInterval, &ImageValues::urlInterval},
                                           {&keys::ImageLogo, &ImageValues::logoFile},
                                           {&keys::ImageLogoPos, &ImageValues::logoPos},
                                           {&keys::ImageLogoSize, &ImageValues::logoSize},
                                           {&keys::ImageLogoOpacity, &ImageValues::logoOpacity},
                                           {&keys::ImageFont, &ImageValues::font},
                                           {&keys::ImageFontSize, &ImageValues::fontSize}};

const Field<ModemValues> kModemFields[] = {{&keys::ModemCom, &ModemValues::com},
                                           {&keys::ModemSpeed, &ModemValues::speed},
                                           {&keys::ModemParity, &ModemValues::parity},
                                           {&keys::ModemStopBits, &ModemValues::stopBits},
                                           {&keys::ModemDataBits, &ModemValues::dataBits},
                                           {&keys::ModemDialMode, &ModemValues::dialMode},
                                           {&keys::ModemAutoAnswer, &ModemValues::autoAnswer},
                                           {&keys::ModemRings, &ModemValues::rings},
                                           {&keys::ModemAskForPassword, &ModemValues::askForPassword}};

const Field<PreferenceValues> kPreferenceFields[] = {
    {&keys::PrefUsePassword, &PreferenceValues::usePassword},
    {&keys::PrefAutoRun, &PreferenceValues::autoRun},
    {&keys::PrefAutoHangUp, &PreferenceValues::autoHangUp},
    {&keys::PrefWindowsStart, &PreferenceValues::windowsStart}};

const Field<DeviceValues> kDeviceFields[] = {{&keys::PrefPreviewRate, &DeviceValues::previewRate},
                                             {&keys::VfwWarmUp, &DeviceValues::warmUpMs, true},
                                             {&keys::VfwStall, &DeviceValues::stallSeconds, true},
                                             {&keys::VfwWhenLost, &DeviceValues::whenLost}};

// VFW/MAXPIXELS as the Device page shows it.
int storedMegapixels() {
    return int(std::lround(double(MaxPicturePixels()) / 1e6));
}

} // namespace

QString ArchiveFolderText(const QString& stored) {
    return stored.endsWith(QLatin1Char('/')) ? stored : stored + QLatin1Char('/');
}

SettingsForm LoadSettingsForm() {
    SettingsForm f;
    loadFields(f.device, kDeviceFields);
    f.device.maxMegapixels = storedMegapixels();

    f.timer.updateType = ReadInt16(keys::UpdateType);
    loadFields(f.timer, kTimerFields);
    f.timer.fixedDate = loadFixedDate();
    f.timer.activeFrom = GetSetting(keys::UpdateFrom);
    f.timer.activeTo = GetSetting(keys::UpdateTo);
    f.timer.sun = ReadFlag(keys::UpdateSun);
    f.timer.latitude = LeadingNumber(GetSetting(keys::UpdateLat));
    f.timer.longitude = LeadingNumber(GetSetting(keys::UpdateLon));
    f.timer.sunOffset = ReadInt32(keys::UpdateSunOffset);

    loadFields(f.image, kImageFields);
    f.image.archivePath = ArchiveFolderText(GetSetting(keys::ImagePath, QDir::currentPath()));
    f.image.textString = GetSetting(keys::ImageTextString, applicationTitle());

    f.upload = ReadFlag(keys::FtpUploadAtDialog);
    loadFields(f.modem, kModemFields);
    loadFields(f.prefs, kPreferenceFields);
    f.prefs.password = GetSetting(keys::PrefPassword); // as stored: the hash, never the password
    return f;
}

ConfirmOutcome ConfirmSettingsForm(const SettingsForm& f) {
    const TimerValues& t = f.timer;
    SaveSetting(keys::UpdateType, t.updateType == 0 ? QStringLiteral("0") : QStringLiteral("1"));
    save(keys::UpdateYear, t.fixedDate.date().year());
    save(keys::UpdateMonth, t.fixedDate.date().month());
    save(keys::UpdateDay, t.fixedDate.date().day());
    save(keys::UpdateHour, t.fixedDate.time().hour());
    save(keys::UpdateMinute, t.fixedDate.time().minute());
    save(keys::UpdateSecond, t.fixedDate.time().second());
    confirmFields(t, kTimerFields);
    SaveSetting(keys::UpdateFrom, t.activeFrom.trimmed());
    SaveSetting(keys::UpdateTo, t.activeTo.trimmed());
    SaveSetting(keys::UpdateSun, flag(t.sun));
    if (t.sun) { // the place is kept as stored until it is used
        SaveSetting(keys::UpdateLat, QString::number(t.latitude, 'f', 4));
        SaveSetting(keys::UpdateLon, QString::number(t.longitude, 'f', 4));
        save(keys::UpdateSunOffset, t.sunOffset);
    }

    confirmFields(f.image, kImageFields);
    SaveSetting(keys::ImagePath, f.image.archivePath);
    SaveSetting(keys::ImageTextString, f.image.textString);

    SaveSetting(keys::FtpUploadAtDialog, flag(f.upload));
    confirmFields(f.modem, kModemFields);

    const PreferenceValues& p = f.prefs;
    if (p.usePassword && p.password.isEmpty())
        return ConfirmOutcome::PasswordRefused;
    confirmFields(p, kPreferenceFields);
    // A changed password is stored as its hash; an untouched one (the stored value) stays as it is.
    if (p.password != GetSetting(keys::PrefPassword))
        SaveSetting(keys::PrefPassword, HashLockPassword(p.password));
    confirmFields(f.device, kDeviceFields);
    // A value set by hand in pixels stays as it was unless the control was changed.
    if (f.device.maxMegapixels != storedMegapixels())
        SaveSetting(keys::VfwMaxPixels, QString::number(std::int64_t(f.device.maxMegapixels) * 1'000'000));
    return ConfirmOutcome::Stored;
}

SettingsForm KeepUntouched(SettingsForm f, const SettingsForm& shown, const SettingsForm& loaded) {
    const auto keep = [](int& now, int shownValue, int loadedValue, bool untouched = true) {
        if (untouched && now == shownValue)
            now = loadedValue;
    };
    keep(f.device.previewRate, shown.device.previewRate, loaded.device.previewRate);
    keep(f.device.warmUpMs, shown.device.warmUpMs, loaded.device.warmUpMs);
    keep(f.device.stallSeconds, shown.device.stallSeconds, loaded.device.stallSeconds);
    const bool sameUnit = f.timer.unitI == shown.timer.unitI;
    keep(f.timer.partI, shown.timer.partI, loaded.timer.partI, sameUnit);
    keep(f.timer.partII, shown.timer.partII, loaded.timer.partII,
         sameUnit && f.timer.unitII == shown.timer.unitII);
    keep(f.image.compression, shown.image.compression, loaded.image.compression);
    keep(f.image.keepDays, shown.image.keepDays, loaded.image.keepDays);
    keep(f.image.keepMb, shown.image.keepMb, loaded.image.keepMb);
    keep(f.image.keepFreeMb, shown.image.keepFreeMb, loaded.image.keepFreeMb);
    keep(f.modem.rings, shown.modem.rings, loaded.modem.rings);
    return f;
}

LiveValues::Values LiveValuesOf(const ImageValues& i) {
    LiveValues::Values v;
    v.stamp.timePos = i.timePos;
    v.stamp.datePos = i.datePos;
    v.stamp.textPos = i.textPos;
    v.stamp.timeColor = quint32(i.timeColor) & 0x00FFFFFFu;
    v.stamp.dateColor = quint32(i.dateColor) & 0x00FFFFFFu;
    v.stamp.textColor = quint32(i.textColor) & 0x00FFFFFFu;
    v.stamp.backColor = quint32(i.backColor) & 0x00FFFFFFu;
    v.stamp.transparent = i.transparent;
    v.stamp.freeText = i.textString;
    v.stamp.fontFamily = i.font;
    v.stamp.fontPercent = std::clamp(i.fontSize, 10, 400);
    v.stamp.logoPos = std::clamp(i.logoPos, 0, 6);
    v.stamp.logoOpacity = std::clamp(i.logoOpacity, 0, 100);
    v.logoFile = i.logoFile;
    v.logoSize = std::clamp(i.logoSize, 1, 100);
    v.valueMaxAge = std::max(0, i.valueMaxAge);
    v.compression = std::clamp(i.compression, 1, 100);
    return v;
}

} // namespace zantrel
