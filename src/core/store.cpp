#include "core/store.h"

#include "core/instance.h"
#include "core/leading_number.h"
#include "core/log_line.h"
#include "core/private_folder.h"
#include "core/secret_value.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <algorithm>
#include <cstdio>

namespace zantrel {

namespace {

constexpr auto kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

void warn(const QString& text) {
    LogLine(LogPriority::Warning, QStringLiteral("webcam-zantrel: ") + text);
}

// A hand-edited value with an unquoted comma comes back from the INI reader as a list, without the blanks
// around the commas: such a value is taken from its line as it was typed.
QString asText(const QVariant& v, const QString& path, const QString& section, const QString& key) {
    if (v.typeId() != QMetaType::QStringList)
        return v.toString();
    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QString current;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
                current = line.mid(1, line.size() - 2).trimmed();
            else if (const qsizetype eq = line.indexOf(QLatin1Char('='));
                     eq > 0 && current == section && line.left(eq).trimmed() == key)
                return line.mid(eq + 1).trimmed();
        }
    }
    return v.toStringList().join(QLatin1Char(','));
}

// The entry number of a server entry key ("PORT00012" is 12), 0 for any other key.
std::int64_t serverEntryNumber(const QString& key) {
    static constexpr const keys::SettingKey* fields[] = {
        &keys::FtpEntryAddress,  &keys::FtpEntryPort,   &keys::FtpEntryLogin,
        &keys::FtpEntryPassword, &keys::FtpEntryUrl,    &keys::FtpEntryPassive,
        &keys::FtpEntryAtomic,   &keys::FtpEntryPinned, &keys::FtpEntryKeyFile};
    for (const keys::SettingKey* field : fields) {
        const QLatin1String prefix(field->key);
        if (!key.startsWith(prefix) || key.size() > prefix.size() + 18)
            continue;
        bool ok = false;
        const std::int64_t n = key.mid(prefix.size()).toLongLong(&ok);
        if (ok && n > 0 && serverEntryKey(*field, n) == key)
            return n;
    }
    return 0;
}

} // namespace

SettingsStore& SettingsStore::instance() {
    static SettingsStore store;
    return store;
}

QString SettingsStore::defaultPath() {
    const QString instance = InstanceName();
    return (instance.isEmpty() ? ProgramConfigFolder() : InstancesFolder() + QLatin1Char('/') + instance) +
           QStringLiteral("/KALDOR.ini");
}

SettingsStore::SettingsStore() = default;
SettingsStore::~SettingsStore() = default;

void SettingsStore::open(const QString& path) {
    std::lock_guard lock(mutex_);
    openLocked(path);
}

QString SettingsStore::path() const {
    return path_;
}

void SettingsStore::ensureOpenLocked() {
    if (!settings_)
        openLocked(defaultPath());
}

void SettingsStore::setAsideUnusableFile(const QString& path, const QString& reason) {
    // Keep whatever the file holds: move it aside rather than let the next write replace it.
    const QString aside = path + QStringLiteral(".unreadable-") +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));
    if (QFileInfo(path).isFile())
        QFile::setPermissions(path, kOwnerOnly); // it may hold passwords
    if (QFile::rename(path, aside))
        warn(QStringLiteral(
                 "the settings file %1 %2; it was moved to %3 and the program starts with defaults.")
                 .arg(path, reason, aside));
    else
        warn(QStringLiteral("the settings file %1 %2; the program starts with defaults.").arg(path, reason));
}

void SettingsStore::openLocked(const QString& path) {
    settings_.reset();
    path_ = path;
    reportedWriteFailure_ = false;
    const QFileInfo info(path);
    MakePrivateFolder(info.absolutePath()); // the settings hold passwords

    if (info.exists()) {
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly)) {
            setAsideUnusableFile(path, QStringLiteral("cannot be read (%1)").arg(probe.errorString()));
        } else {
            probe.close();
            QSettings check(path, QSettings::IniFormat);
            if (check.status() == QSettings::FormatError)
                setAsideUnusableFile(path, QStringLiteral("is not a valid settings file"));
        }
    }
    // QSaveFile, which QSettings writes through, keeps the permissions of an existing file: create it
    // owner-only before the first write so that passwords are never readable by others.
    if (!QFileInfo::exists(path)) {
        QFile create(path);
        if (create.open(QIODevice::WriteOnly))
            create.close();
    }
    QFile::setPermissions(path, kOwnerOnly);
    settings_ = std::make_unique<QSettings>(path, QSettings::IniFormat);
}

QString SettingsStore::value(const QString& section, const QString& key, const QString& fallback) {
    std::lock_guard lock(mutex_);
    ensureOpenLocked();
    settings_->sync(); // picks up changes that another process wrote
    const QVariant v = settings_->value(section + QLatin1Char('/') + key);
    return v.isValid() ? asText(v, path_, section, key) : fallback;
}

QStringList SettingsStore::keys(const QString& section) {
    std::lock_guard lock(mutex_);
    ensureOpenLocked();
    settings_->sync();
    settings_->beginGroup(section);
    const QStringList keys = settings_->childKeys();
    settings_->endGroup();
    return keys;
}

bool SettingsStore::setValue(const QString& section, const QString& key, const QString& value) {
    std::lock_guard lock(mutex_);
    ensureOpenLocked();
    settings_->setValue(section + QLatin1Char('/') + key, value);
    return syncLocked();
}

bool SettingsStore::remove(const QString& section, const QString& key) {
    std::lock_guard lock(mutex_);
    ensureOpenLocked();
    settings_->remove(section + QLatin1Char('/') + key);
    return syncLocked();
}

bool SettingsStore::syncLocked() {
    settings_->sync();
    const bool ok = settings_->status() == QSettings::NoError;
    QFile::setPermissions(path_, kOwnerOnly);
    if (!ok && !reportedWriteFailure_) {
        reportedWriteFailure_ = true;
        warn(
            QStringLiteral("the settings file %1 cannot be written; changes are kept until the program ends.")
                .arg(path_));
    }
    return ok;
}

QString GetSetting(const QString& section, const QString& key, const QString& fallback) {
    return SettingsStore::instance().value(section, key, fallback);
}

bool SaveSetting(const QString& section, const QString& key, const QString& value) {
    // A password may be kept elsewhere, with a marker in the file.
    const std::optional<QString> stored = SecretToStore(section, key, value);
    return stored && SettingsStore::instance().setValue(section, key, *stored);
}

bool RemoveSetting(const QString& section, const QString& key) {
    return SettingsStore::instance().remove(section, key);
}

QString GetSetting(const keys::SettingKey& key) {
    return GetSetting(key, key.fallback ? QString::fromLatin1(key.fallback) : QString());
}

QString GetSetting(const keys::SettingKey& key, const QString& fallback) {
    return GetSetting(QString::fromLatin1(key.section), QString::fromLatin1(key.key), fallback);
}

bool SaveSetting(const keys::SettingKey& key, const QString& value) {
    return SaveSetting(QString::fromLatin1(key.section), QString::fromLatin1(key.key), value);
}

double ReadNumber(const keys::SettingKey& key) {
    return LeadingNumber(GetSetting(key));
}

std::int16_t ReadInt16(const keys::SettingKey& key, std::int16_t fallback) {
    return ToInt16(LeadingNumber(GetSetting(key, NumberText(fallback)))).value_or(fallback);
}

std::int32_t ReadInt32(const keys::SettingKey& key, std::int32_t fallback) {
    return ToInt32(LeadingNumber(GetSetting(key, NumberText(fallback)))).value_or(fallback);
}

std::int16_t ReadInt16(const keys::SettingKey& key) {
    const auto fallback =
        key.fallback ? ToInt16(LeadingNumber(QString::fromLatin1(key.fallback))) : std::nullopt;
    return ReadInt16(key, fallback.value_or(0));
}

std::int32_t ReadInt32(const keys::SettingKey& key) {
    const auto fallback =
        key.fallback ? ToInt32(LeadingNumber(QString::fromLatin1(key.fallback))) : std::nullopt;
    return ReadInt32(key, fallback.value_or(0));
}

bool ReadFlag(const keys::SettingKey& key) {
    return ReadNumber(key) == 1.0;
}

QString serverEntryKey(const keys::SettingKey& field, std::int64_t entry) {
    return QString::fromLatin1(field.key) + QStringLiteral("%1").arg(entry, 5, 10, QLatin1Char('0'));
}

ServerEntry ReadServerEntry(std::int64_t entry) {
    const auto field = [entry](const keys::SettingKey& k) {
        return GetSetting(QString::fromLatin1(k.section), serverEntryKey(k, entry),
                          QString::fromLatin1(k.fallback));
    };
    ServerEntry e;
    e.address = field(keys::FtpEntryAddress);
    // Ports above 32767 are ordinary TCP ports, so the port is read wider than 16 bits; anything
    // outside 1..65535 falls back to the default.
    const auto port = ToInt32(LeadingNumber(field(keys::FtpEntryPort)));
    e.port = (port && *port >= 1 && *port <= 65535) ? *port : 21;
    e.login = field(keys::FtpEntryLogin);
    e.password = ResolveServerPassword(entry).value; // a refusal leaves it empty; the job says why
    e.directory = field(keys::FtpEntryUrl);
    e.passive = LeadingNumber(field(keys::FtpEntryPassive)) == 1.0;
    e.atomic = LeadingNumber(field(keys::FtpEntryAtomic)) != 0.0;
    e.pinnedKey = field(keys::FtpEntryPinned);
    e.keyFile = field(keys::FtpEntryKeyFile);
    e.region = field(keys::FtpEntryRegion).trimmed();
    e.number = entry;
    return e;
}

std::int32_t ServerEntryCount() {
    const std::int32_t stored = std::min(ReadInt32(keys::FtpServers), kMaxServerEntries);
    std::int64_t last = 0;
    for (const QString& key : SettingsStore::instance().keys(QString::fromLatin1(keys::FtpServers.section))) {
        const std::int64_t n = serverEntryNumber(key);
        if (n <= stored && n > last)
            last = n;
    }
    return std::int32_t(last);
}

QString NumberText(std::int64_t value) {
    return QString::number(value);
}

} // namespace zantrel
