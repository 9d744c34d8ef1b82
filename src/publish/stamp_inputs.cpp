#include "publish/stamp_inputs.h"

#include "core/instance.h"
#include "core/setting_keys.h"
#include "core/store.h"

#include <QSysInfo>

namespace zantrel {

namespace {

std::optional<double> coordinate(const keys::SettingKey& key, double bound) {
    bool ok = false;
    const double v = GetSetting(key).trimmed().toDouble(&ok);
    return ok && v >= -bound && v <= bound ? std::optional<double>(v) : std::nullopt;
}

} // namespace

StampInputs& StampInputs::instance() {
    static StampInputs inputs;
    return inputs;
}

StampInputs::StampInputs(StampValueReader::FetchedLookup fetched)
    : fetched_(std::move(fetched)), reader_([this](const QString& address) {
          // Called from prepare(), under the lock.
          return fetched_ ? fetched_(address) : std::nullopt;
      }) {}

void StampInputs::setFetched(StampValueReader::FetchedLookup fetched) {
    std::lock_guard lock(mutex_);
    fetched_ = std::move(fetched);
}

std::optional<FetchedValue> StampInputs::fetched(const QString& address) {
    std::lock_guard lock(mutex_);
    return fetched_ ? fetched_(address) : std::nullopt;
}

QStringList StampInputs::prepare(StampParams& stamp, const LiveValues::Values& live, int frameHeight,
                                 const QDateTime& now) {
    std::lock_guard lock(mutex_);
    StampTemplateContext context;
    context.now = now;
    context.host = QSysInfo::machineHostName();
    context.instance = InstanceName().isEmpty() ? QStringLiteral("default") : InstanceName();
    context.latitude = coordinate(keys::UpdateLat, 90);
    context.longitude = coordinate(keys::UpdateLon, 180);
    context.value = [this, &now, &live](const QString& kind, const QString& argument) {
        return reader_.value(kind, argument, now, live.valueMaxAge);
    };
    // Expanded here, once: the frame's stamp then prints these lines with no reading of its own.
    if (stamp.text && !stamp.expanded) {
        const QString expanded =
            ExpandStampTemplate(ExpandStampText(stamp.freeText, stamp.nextUpdate), context);
        stamp.freeText = expanded;
        stamp.nextUpdate.clear();
        stamp.expanded = true;
    }
    stamp.context.reset();
    QStringList news = reader_.takeNews();

    QString trouble;
    stamp.logo = logo_.forFrame(live.logoFile, frameHeight, live.logoSize, &trouble);
    if (trouble != logoTrouble_) {
        if (!trouble.isEmpty())
            news << trouble;
        logoTrouble_ = trouble;
    }
    return news;
}

} // namespace zantrel
