#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace zantrel {

// A password as the settings hold it may be a reference to where it is kept (a systemd credential, the
// desktop keyring) rather than the password. Readers that need the password itself pass the stored
// value through ResolveSecret; the secrets service installs the resolver at start. Without one, the
// stored value is the password.
struct SecretPlace {
    QString section;
    QString key;     // the key as stored, e.g. PASSWORD00001
    QString address; // for messages: the server, camera or mail host the password belongs to
    QString login;
};

struct SecretLookup {
    QString value;   // the password; "" when refused
    QString refusal; // plain words saying why there is no password, never the password itself
};

using SecretResolver = std::function<SecretLookup(const QString& stored, const SecretPlace& place)>;

// Installed once at start, before any job runs; an empty resolver takes the stored values as they are.
void InstallSecretResolver(SecretResolver resolver);
SecretLookup ResolveSecret(const QString& stored, const SecretPlace& place);

// Where a password is saved: the secrets service may keep it elsewhere and have the file hold a
// marker instead. Given the value being saved and what the file holds there now, the writer answers what
// the file is to hold, or nothing when the value must not be written at all (a password that was kept
// elsewhere is never put back into the file without a word).
using SecretWriter = std::function<std::optional<QString>(const QString& value, const SecretPlace& place,
                                                          const QString& current)>;
void InstallSecretWriter(SecretWriter writer);

// The keys that hold passwords: FTP/PASSWORDnnnnn, NETCAM/PASSWORDnnnnn, HTTP/PASSWORD, ALERT/SMTPPASSWORD,
// MQTT/PASSWORD.
// (PREF/PASSWORD, the lock password, is kept as a hash instead.)
bool IsPasswordKey(const QString& section, const QString& key);
// The place of a password key, with the address and login stored beside it.
SecretPlace PasswordPlace(const QString& section, const QString& key);
// What SaveSetting writes for a password key.
std::optional<QString> SecretToStore(const QString& section, const QString& key, const QString& value);

// The password of server entry n (FTP/PASSWORDnnnnn) resolved, and of the other password keys.
SecretLookup ResolveServerPassword(std::int64_t entry);

} // namespace zantrel
