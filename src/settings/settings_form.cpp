#include "settings/settings_form.h"

#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/store.h"
#include "core/version.h"

#include <QDir>
#include <algorithm>

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

} // namespace

QString ArchiveFolderText(const QString& stored) {
    return stored.endsWith(QLatin1Char('/')) ? stored : stored + QLatin1Char('/');
}

SettingsForm LoadSettingsForm() {
    SettingsForm f;
    f.device.previewRate = ReadInt16(keys::PrefPreviewRate);
    f.device.warmUpMs = ReadInt32(keys::VfwWarmUp);

    TimerValues& t = f.timer;
    t.updateType = ReadInt16(keys::UpdateType);
    t.partI = ReadInt32(keys::UpdatePartI);
    t.unitI = ReadInt16(keys::UpdateUnitI);
    t.unitII = ReadInt16(keys::UpdateUnitII);
    t.partII = ReadInt32(keys::UpdatePartII);
    t.fixedDate = loadFixedDate();

    ImageValues& i = f.image;
    i.fileName = GetSetting(keys::ImageFileName);
    i.compression = ReadInt16(keys::ImageCompression);
    i.saveCopy = ReadFlag(keys::ImageSaveCopy);
    i.archivePath = ArchiveFolderText(GetSetting(keys::ImagePath, QDir::currentPath()));
    i.keepDays = ReadInt32(keys::ImageKeepDays);
    i.keepMb = ReadInt32(keys::ImageKeepMb);
    i.time = ReadFlag(keys::ImageTime);
    i.date = ReadFlag(keys::ImageDate);
    i.text = ReadFlag(keys::ImageText);
    i.timeColor = ReadInt32(keys::ImageTimeColor);
    i.dateColor = ReadInt32(keys::ImageDateColor);
    i.textColor = ReadInt32(keys::ImageTextColor);
    i.backColor = ReadInt32(keys::ImageBack);
    i.transparent = ReadFlag(keys::ImageTrans);
    i.textString = GetSetting(keys::ImageTextString, applicationTitle());
    i.timePos = ReadInt16(keys::ImageTimePos);
    i.datePos = ReadInt16(keys::ImageDatePos);
    i.textPos = ReadInt16(keys::ImageTextPos);

    f.upload = ReadFlag(keys::FtpUploadAtDialog);

    ModemValues& m = f.modem;
    m.com = ReadInt16(keys::ModemCom);
    m.speed = ReadInt16(keys::ModemSpeed);
    m.parity = ReadInt16(keys::ModemParity);
    m.stopBits = ReadInt16(keys::ModemStopBits);
    m.dataBits = ReadInt16(keys::ModemDataBits);
    m.dialMode = ReadInt16(keys::ModemDialMode);
    m.autoAnswer = ReadFlag(keys::ModemAutoAnswer);
    m.rings = ReadInt16(keys::ModemRings);
    m.askForPassword = ReadFlag(keys::ModemAskForPassword);

    PreferenceValues& p = f.prefs;
    p.usePassword = ReadFlag(keys::PrefUsePassword);
    p.autoRun = ReadFlag(keys::PrefAutoRun);
    p.autoHangUp = ReadFlag(keys::PrefAutoHangUp);
    p.password = GetSetting(keys::PrefPassword);
    p.windowsStart = ReadFlag(keys::PrefWindowsStart);
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
    save(keys::UpdatePartI, t.partI);
    save(keys::UpdateUnitI, t.unitI);
    save(keys::UpdatePartII, t.partII);
    save(keys::UpdateUnitII, t.unitII);

    const ImageValues& i = f.image;
    SaveSetting(keys::ImageFileName, i.fileName);
    save(keys::ImageCompression, i.compression);
    SaveSetting(keys::ImageSaveCopy, flag(i.saveCopy));
    SaveSetting(keys::ImagePath, i.archivePath);
    SaveSetting(keys::ImageTime, flag(i.time));
    SaveSetting(keys::ImageDate, flag(i.date));
    SaveSetting(keys::ImageText, flag(i.text));
    save(keys::ImageTimeColor, i.timeColor);
    save(keys::ImageDateColor, i.dateColor);
    save(keys::ImageTextColor, i.textColor);
    save(keys::ImageBack, i.backColor);
    SaveSetting(keys::ImageTrans, flag(i.transparent));
    SaveSetting(keys::ImageTextString, i.textString);
    save(keys::ImageTimePos, i.timePos);
    save(keys::ImageDatePos, i.datePos);
    save(keys::ImageTextPos, i.textPos);
    save(keys::ImageKeepDays, i.keepDays);
    save(keys::ImageKeepMb, i.keepMb);

    SaveSetting(keys::FtpUploadAtDialog, flag(f.upload));

    const ModemValues& m = f.modem;
    save(keys::ModemCom, m.com);
    save(keys::ModemSpeed, m.speed);
    save(keys::ModemParity, m.parity);
    save(keys::ModemStopBits, m.stopBits);
    save(keys::ModemDataBits, m.dataBits);
    save(keys::ModemDialMode, m.dialMode);
    SaveSetting(keys::ModemAutoAnswer, flag(m.autoAnswer));
    save(keys::ModemRings, m.rings);
    SaveSetting(keys::ModemAskForPassword, flag(m.askForPassword));

    const PreferenceValues& p = f.prefs;
    if (p.usePassword && p.password.isEmpty())
        return ConfirmOutcome::PasswordRefused;
    SaveSetting(keys::PrefUsePassword, flag(p.usePassword));
    SaveSetting(keys::PrefAutoRun, flag(p.autoRun));
    SaveSetting(keys::PrefAutoHangUp, flag(p.autoHangUp));
    SaveSetting(keys::PrefPassword, p.password);
    SaveSetting(keys::PrefWindowsStart, flag(p.windowsStart));
    save(keys::PrefPreviewRate, f.device.previewRate);
    save(keys::VfwWarmUp, f.device.warmUpMs);
    return ConfirmOutcome::Stored;
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
    v.compression = std::clamp(i.compression, 1, 100);
    return v;
}

} // namespace zantrel
