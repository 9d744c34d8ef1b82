#include "publish/live_values.h"

#include "core/setting_keys.h"
#include "core/store.h"
#include "core/version.h"

#include <algorithm>

namespace zantrel {

namespace {

// Stored as 0x00BBGGRR; the top byte carries nothing for a stamp colour.
quint32 colour(const keys::SettingKey& key) {
    return quint32(ReadInt32(key)) & 0x00FFFFFFu;
}

} // namespace

LiveValues& LiveValues::instance() {
    static LiveValues live;
    return live;
}

LiveValues::Values LiveValues::fromSettings() {
    Values v;
    v.stamp.timePos = ReadInt16(keys::ImageTimePos);
    v.stamp.datePos = ReadInt16(keys::ImageDatePos);
    v.stamp.textPos = ReadInt16(keys::ImageTextPos);
    v.stamp.timeColor = colour(keys::ImageTimeColor);
    v.stamp.dateColor = colour(keys::ImageDateColor);
    v.stamp.textColor = colour(keys::ImageTextColor);
    v.stamp.backColor = colour(keys::ImageBack);
    v.stamp.transparent = ReadFlag(keys::ImageTrans);
    v.stamp.freeText = GetSetting(keys::ImageTextString, applicationTitle());
    v.stamp.fontFamily = GetSetting(keys::ImageFont);
    v.stamp.fontPercent = std::clamp<int>(ReadInt16(keys::ImageFontSize, 100), 10, 400);
    v.stamp.logoPos = std::clamp<int>(ReadInt16(keys::ImageLogoPos, 6), 0, 6);
    v.stamp.logoOpacity = std::clamp<int>(ReadInt16(keys::ImageLogoOpacity, 100), 0, 100);
    v.logoFile = GetSetting(keys::ImageLogo);
    v.logoSize = std::clamp<int>(ReadInt16(keys::ImageLogoSize, 10), 1, 100);
    v.valueMaxAge = std::max(0, ReadInt32(keys::ImageValueMaxAge, 600));
    // The dialog's slider only offers 1..100.
    v.compression = std::clamp<int>(ReadInt16(keys::ImageCompression), 1, 100);
    return v;
}

LiveValues::Values LiveValues::snapshot() {
    {
        std::lock_guard lock(mutex_);
        if (edits_)
            return *edits_;
    }
    return fromSettings();
}

void LiveValues::set(const Values& values) {
    std::lock_guard lock(mutex_);
    edits_ = values;
}

void LiveValues::reset() {
    std::lock_guard lock(mutex_);
    edits_.reset();
}

} // namespace zantrel
