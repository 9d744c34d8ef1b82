#pragma once

#include "core/setting_keys.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <mutex>

class QSettings;

namespace zantrel {

// The per-user settings file: an INI file, one group per section, written through to disk at every
// change and kept readable by its owner only. Thread-safe; reads pick up changes made by other
// processes.
class SettingsStore {
  public:
    // The program's store, opened on first use at $XDG_CONFIG_HOME/KALDOR/KALDOR.ini.
    static SettingsStore& instance();
    static QString defaultPath();

    // Points the program's store at another file (tests, and the store's own start-up).
    void open(const QString& path);
    QString path() const;

    QString value(const QString& section, const QString& key, const QString& fallback);
    // The keys the file holds in a section.
    QStringList keys(const QString& section);
    // True when the value is on disk when this returns.
    bool setValue(const QString& section, const QString& key, const QString& value);
    // Takes the key out of the file; true when that is on disk when this returns.
    bool remove(const QString& section, const QString& key);

    ~SettingsStore();

  private:
    SettingsStore();
    void openLocked(const QString& path);
    void ensureOpenLocked();
    void setAsideUnusableFile(const QString& path, const QString& reason);
    bool syncLocked();

    std::mutex mutex_;
    std::unique_ptr<QSettings> settings_;
    QString path_;
    bool reportedWriteFailure_ = false;
};

// The program-wide reads and writes. A read with no default yields "".
QString GetSetting(const QString& section, const QString& key, const QString& fallback = {});
bool SaveSetting(const QString& section, const QString& key, const QString& value);
bool RemoveSetting(const QString& section, const QString& key);

// Reads through the key table. For keys whose default is computed at the moment of reading, pass it.
QString GetSetting(const keys::SettingKey& key);
QString GetSetting(const keys::SettingKey& key, const QString& fallback);
bool SaveSetting(const keys::SettingKey& key, const QString& value);

// Numeric reads by the program's one rule. A value outside the reader's width is an overflow; these
// readers then use the key's default, so a damaged value never turns into a wrapped-around number.
double ReadNumber(const keys::SettingKey& key);
std::int16_t ReadInt16(const keys::SettingKey& key);
std::int32_t ReadInt32(const keys::SettingKey& key);
// For keys with a computed default.
std::int16_t ReadInt16(const keys::SettingKey& key, std::int16_t fallback);
std::int32_t ReadInt32(const keys::SettingKey& key, std::int32_t fallback);

// A flag is on when its number is exactly 1.
bool ReadFlag(const keys::SettingKey& key);

// "ADDRESS" + entry number padded to at least five digits: ADDRESS00001, PORT00012, PORT100000.
QString serverEntryKey(const keys::SettingKey& field, std::int64_t entry);

// One FTP destination, entry n of the FTP section (counted from 1).
struct ServerEntry {
    QString address;
    std::int32_t port = 21;
    QString login;
    QString password;
    QString directory;
    bool passive = false;
    bool atomic = true;      // upload to a temporary name, then rename
    QString pinnedKey;       // FTPS: "sha256//…" trusted public key
    QString keyFile;         // SFTP: private key file
    std::int64_t number = 0; // the entry's number in the store; 0 for one not read from it
    QString region{};        // S3: the signing region
};
ServerEntry ReadServerEntry(std::int64_t entry);
// The most server entries the program reads, lists or adds.
inline constexpr std::int32_t kMaxServerEntries = 1000;
// How many entries to walk or list: FTP/SERVERS, but no further than the last entry that has any key in
// the file nor beyond kMaxServerEntries, so a damaged count (2147483647) or a far-numbered key
// (ADDRESS2000000000) does not walk billions of empty entries. 0 for no number or below 1.
std::int32_t ServerEntryCount();

// Decimal text of a number as stored: no leading zeros, no plus sign.
QString NumberText(std::int64_t value);

} // namespace zantrel
