#include "liveview/live_state.h"

#include "core/store.h"
#include "transfer/server_address.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace zantrel {

namespace {

QJsonValue isoTime(const std::optional<QDateTime>& t) {
    if (!t || !t->isValid())
        return QJsonValue::Null;
    return t->toOffsetFromUtc(t->offsetFromUtc()).toString(Qt::ISODate);
}

// The entry's address only: its password is not looked up (a keyring asked at every request).
QString storedAddress(std::int32_t n) {
    return GetSetting(QString::fromLatin1(keys::FtpEntryAddress.section),
                      serverEntryKey(keys::FtpEntryAddress, n));
}

} // namespace

void LiveViewState::setImage(QByteArray jpeg, const QDateTime& time) {
    auto image = std::make_shared<PublishedImage>();
    image->etag = '"' + QCryptographicHash::hash(jpeg, QCryptographicHash::Sha1).toHex().left(20) + '"';
    image->jpeg = std::move(jpeg);
    image->time = time.toUTC();
    std::lock_guard lock(mutex_);
    image_ = std::move(image);
}

std::shared_ptr<const PublishedImage> LiveViewState::image() const {
    std::lock_guard lock(mutex_);
    return image_;
}

void LiveViewState::noteUploads(const std::vector<std::int32_t>& entries, const QDateTime& time) {
    std::vector<std::pair<std::int32_t, QString>> named;
    for (const std::int32_t n : entries)
        named.emplace_back(n, storedAddress(n));
    std::lock_guard lock(mutex_);
    for (auto& [n, address] : named)
        lastSuccess_[n] = {std::move(address), time};
}

void LiveViewState::setSchedule(std::optional<QDateTime> nextUpdate) {
    std::lock_guard lock(mutex_);
    nextUpdate_ = std::move(nextUpdate);
}

void LiveViewState::setCamera(const QString& state, const QString& name) {
    std::lock_guard lock(mutex_);
    cameraState_ = state;
    cameraName_ = name;
}

void LiveViewState::setEvents(std::function<QJsonArray()> events) {
    std::lock_guard lock(mutex_);
    events_ = std::move(events);
}

void LiveViewState::setMetrics(std::function<QByteArray()> metrics) {
    std::lock_guard lock(mutex_);
    metrics_ = std::move(metrics);
}

std::optional<QByteArray> LiveViewState::metricsText() const {
    std::function<QByteArray()> metrics;
    {
        std::lock_guard lock(mutex_);
        metrics = metrics_;
    }
    if (!metrics)
        return std::nullopt;
    return metrics();
}

void LiveViewState::setWarnings(QStringList warnings) {
    std::lock_guard lock(mutex_);
    warnings_ = std::move(warnings);
}

QByteArray LiveViewState::statusJson() const {
    // The server list as it is stored now; passwords never leave the settings, not even one written
    // into an address.
    const std::int32_t count = ServerEntryCount();
    std::vector<QString> addresses;
    for (std::int32_t n = 1; n <= count && n <= 1000; ++n)
        addresses.push_back(storedAddress(n));

    std::lock_guard lock(mutex_);
    QJsonObject camera{{QStringLiteral("state"), cameraState_}, {QStringLiteral("name"), cameraName_}};
    QJsonValue image = QJsonValue::Null;
    if (image_)
        image = QJsonObject{{QStringLiteral("time"), isoTime(image_->time)},
                            {QStringLiteral("etag"), QString::fromLatin1(image_->etag)}};
    QJsonArray targets;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const auto n = static_cast<std::int32_t>(i + 1);
        const auto found = lastSuccess_.find(n);
        // A success counts for the server it was made with, not for another one stored under its number.
        const bool same = found != lastSuccess_.end() && found->second.address == addresses[i];
        targets.append(QJsonObject{{QStringLiteral("target"), n},
                                   {QStringLiteral("address"), ShownAddress(addresses[i])},
                                   {QStringLiteral("lastSuccess"),
                                    same ? isoTime(found->second.time) : QJsonValue(QJsonValue::Null)}});
    }
    const QJsonObject all{{QStringLiteral("camera"), camera},
                          {QStringLiteral("image"), image},
                          {QStringLiteral("targets"), targets},
                          {QStringLiteral("publishing"), nextUpdate_.has_value()},
                          {QStringLiteral("nextUpdate"), isoTime(nextUpdate_)},
                          {QStringLiteral("events"), events_ ? events_() : QJsonArray()},
                          {QStringLiteral("warnings"), QJsonArray::fromStringList(warnings_)}};
    return QJsonDocument(all).toJson(QJsonDocument::Compact);
}

} // namespace zantrel
