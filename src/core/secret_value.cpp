#include "core/secret_value.h"

#include "core/setting_keys.h"
#include "core/store.h"

#include <QRegularExpression>
#include <QUrl>
#include <memory>
#include <mutex>

namespace zantrel {

namespace {

std::mutex& resolverMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<const SecretResolver>& installedResolver() {
    static std::shared_ptr<const SecretResolver> resolver;
    return resolver;
}

std::shared_ptr<const SecretWriter>& installedWriter() {
    static std::shared_ptr<const SecretWriter> writer;
    return writer;
}

} // namespace

void InstallSecretResolver(SecretResolver resolver) {
    auto installed = resolver ? std::make_shared<const SecretResolver>(std::move(resolver)) : nullptr;
    const std::lock_guard lock(resolverMutex());
    installedResolver() = std::move(installed);
}

SecretLookup ResolveSecret(const QString& stored, const SecretPlace& place) {
    std::shared_ptr<const SecretResolver> resolver;
    {
        const std::lock_guard lock(resolverMutex());
        resolver = installedResolver();
    }
    return resolver ? (*resolver)(stored, place) : SecretLookup{stored, {}};
}

SecretLookup ResolveServerPassword(std::int64_t entry) {
    const QString section = QString::fromLatin1(keys::FtpEntryPassword.section),
                  key = serverEntryKey(keys::FtpEntryPassword, entry);
    return ResolveSecret(GetSetting(section, key), PasswordPlace(section, key));
}

void InstallSecretWriter(SecretWriter writer) {
    auto installed = writer ? std::make_shared<const SecretWriter>(std::move(writer)) : nullptr;
    const std::lock_guard lock(resolverMutex());
    installedWriter() = std::move(installed);
}

bool IsPasswordKey(const QString& section, const QString& key) {
    static const QRegularExpression entry(QStringLiteral("^PASSWORD[0-9]+$"));
    if (section == QLatin1String(keys::FtpEntryPassword.section) ||
        section == QLatin1String(keys::NetcamEntryPassword.section))
        return entry.match(key).hasMatch();
    return (section == QLatin1String(keys::HttpPassword.section) &&
            key == QLatin1String(keys::HttpPassword.key)) ||
           (section == QLatin1String(keys::AlertSmtpPassword.section) &&
            key == QLatin1String(keys::AlertSmtpPassword.key)) ||
           (section == QLatin1String(keys::MqttPassword.section) &&
            key == QLatin1String(keys::MqttPassword.key));
}

SecretPlace PasswordPlace(const QString& section, const QString& key) {
    SecretPlace place{section, key, {}, {}};
    const QString number = key.mid(8); // after PASSWORD, for the entry sections
    if (section == QLatin1String(keys::FtpEntryPassword.section)) {
        place.address = GetSetting(section, QLatin1String(keys::FtpEntryAddress.key) + number);
        place.login = GetSetting(section, QLatin1String(keys::FtpEntryLogin.key) + number);
    } else if (section == QLatin1String(keys::NetcamEntryPassword.section)) {
        const QUrl url(GetSetting(section, QLatin1String(keys::NetcamEntryUrl.key) + number).trimmed());
        place.address = url.host();
        place.login = GetSetting(section, QLatin1String(keys::NetcamEntryLogin.key) + number);
    } else if (section == QLatin1String(keys::HttpPassword.section)) {
        place.address = QStringLiteral("the live view");
        place.login = GetSetting(keys::HttpUser);
    } else if (section == QLatin1String(keys::AlertSmtpPassword.section)) {
        place.address = QUrl(GetSetting(keys::AlertSmtp).trimmed()).host();
        place.login = GetSetting(keys::AlertSmtpLogin);
    } else if (section == QLatin1String(keys::MqttPassword.section)) {
        place.address = QUrl(GetSetting(keys::MqttUrl).trimmed()).host();
        place.login = GetSetting(keys::MqttLogin);
    }
    return place;
}

std::optional<QString> SecretToStore(const QString& section, const QString& key, const QString& value) {
    std::shared_ptr<const SecretWriter> writer;
    {
        const std::lock_guard lock(resolverMutex());
        writer = installedWriter();
    }
    if (!writer || !IsPasswordKey(section, key))
        return value;
    return (*writer)(value, PasswordPlace(section, key), GetSetting(section, key));
}

} // namespace zantrel
