#include "secrets/secret_resolver.h"

#include "core/secret_value.h"
#include "core/store.h"
#include "secrets/credential_file.h"
#include "secrets/keyring.h"

#include <QStringList>
#include <cstdio>

namespace zantrel {

namespace {

constexpr QLatin1StringView kLockedRefusalEnd(" is in the locked keyring");

// The entry's address for a message: never with a login or password written into it.
QString shownPlace(const SecretPlace& place) {
    QString address = place.address.trimmed();
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'));
    if (at >= 0)
        address = address.mid(at + 1);
    return address.isEmpty() ? QStringLiteral("[%1] %2").arg(place.section, place.key) : address;
}

SecretLookup resolve(const QString& stored, const SecretPlace& place) {
    if (IsCredentialReference(stored)) {
        SecretLookup found = ReadCredential(stored);
        if (!found.refusal.isEmpty())
            found.refusal = QStringLiteral("no password for %1: %2").arg(shownPlace(place), found.refusal);
        return found;
    }
    if (!IsKeyringMarker(stored))
        return {stored, {}};
    const KeyringAnswer answer = KeyringLookup(stored);
    switch (answer.state) {
    case KeyringAnswer::State::Done:
        return {answer.value, {}};
    case KeyringAnswer::State::Locked:
        return {{}, QStringLiteral("the password for %1").arg(shownPlace(place)) + kLockedRefusalEnd};
    case KeyringAnswer::State::Missing:
        return {{}, QStringLiteral("the password for %1 is missing from the keyring").arg(shownPlace(place))};
    default:
        return {{},
                QStringLiteral("the password for %1 is in the keyring, which cannot be read: %2")
                    .arg(shownPlace(place), answer.error)};
    }
}

// The sections that hold password keys.
constexpr const char* kPasswordSections[] = {"FTP", "NETCAM", "HTTP", "ALERT"};

bool markerInUse(const QString& marker, const SecretPlace& except) {
    SettingsStore& store = SettingsStore::instance();
    for (const char* section : kPasswordSections) {
        const QString name = QString::fromLatin1(section);
        for (const QString& key : store.keys(name))
            if (!(name == except.section && key == except.key) && IsPasswordKey(name, key) &&
                store.value(name, key, {}) == marker)
                return true;
    }
    return false;
}

std::optional<QString> save(const QString& value, const SecretPlace& place, const QString& current) {
    if (value.isEmpty() || IsKeyringMarker(value) || IsCredentialReference(value))
        return value;
    const KeyringAnswer answer = KeyringStore(place, value);
    if (answer.state == KeyringAnswer::State::Done) {
        // The item replaced goes, unless another entry (a copy) still names it.
        if (IsKeyringMarker(current) && !markerInUse(current, place))
            KeyringForget(current);
        return answer.value;
    }
    if (IsKeyringMarker(current)) {
        // It was in the keyring: it does not go into the file behind the user's back.
        std::fprintf(stderr, "webcam-zantrel: the new password for %s was not saved: %s\n",
                     qPrintable(shownPlace(place)), qPrintable(answer.error));
        return std::nullopt;
    }
    // Said unless there is no session bus at all: a keyring that did not answer in time is no keyring here.
    if (answer.state != KeyringAnswer::State::Unavailable ||
        !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        std::fprintf(stderr, "webcam-zantrel: the password for %s stays in the settings file: %s\n",
                     qPrintable(shownPlace(place)), qPrintable(answer.error));
    return value; // no keyring: the settings file as before
}

} // namespace

void ForgetUnusedKeyringItem(const QString& stored) {
    if (IsKeyringMarker(stored) && !markerInUse(stored, {}))
        KeyringForget(stored);
}

bool IsLockedKeyringRefusal(const QString& refusal) {
    return refusal.endsWith(kLockedRefusalEnd);
}

void InstallSecrets() {
    InstallSecretResolver(resolve);
    InstallSecretWriter(save);
}

QString MovePasswordsToKeyring() {
    SettingsStore& store = SettingsStore::instance();
    std::vector<std::pair<QString, QString>> plain; // section, key
    for (const char* section : kPasswordSections) {
        const QString name = QString::fromLatin1(section);
        for (const QString& key : store.keys(name)) {
            const QString value = store.value(name, key, {});
            if (IsPasswordKey(name, key) && !value.isEmpty() && !IsKeyringMarker(value) &&
                !IsCredentialReference(value))
                plain.emplace_back(name, key);
        }
    }
    if (plain.empty() || !KeyringAvailable())
        return {};
    int moved = 0;
    QStringList kept;
    for (const auto& [section, key] : plain) {
        const SecretPlace place = PasswordPlace(section, key);
        const QString value = store.value(section, key, {});
        const KeyringAnswer stored = KeyringStore(place, value);
        const KeyringAnswer back =
            stored.state == KeyringAnswer::State::Done ? KeyringLookup(stored.value) : stored;
        if (back.state == KeyringAnswer::State::Done && back.value == value &&
            store.setValue(section, key, stored.value))
            ++moved;
        else {
            if (stored.state == KeyringAnswer::State::Done)
                KeyringForget(stored.value); // not kept half-way
            kept << shownPlace(place) + QStringLiteral(" (") +
                        (back.error.isEmpty() ? QStringLiteral("read back different") : back.error) +
                        QLatin1Char(')');
        }
    }
    QString said;
    if (moved)
        said = QStringLiteral("%1 password(s) moved from the settings file into the keyring.").arg(moved);
    if (!kept.isEmpty())
        said += (said.isEmpty() ? QString() : QStringLiteral(" ")) +
                QStringLiteral("Left in the settings file: %1.").arg(kept.join(QStringLiteral(", ")));
    return said;
}

} // namespace zantrel
