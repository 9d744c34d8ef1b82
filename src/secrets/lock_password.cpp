#include "secrets/lock_password.h"

#include "core/setting_keys.h"
#include "core/store.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <array>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace zantrel {

namespace {

constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;
constexpr int kMinIterations = 1000;
constexpr int kMaxIterations = 10'000'000; // a hand-edited value must not hold the window for hours
const QLatin1String kPrefix("$pbkdf2-sha256$");

QByteArray derive(const QString& password, const QByteArray& salt, int iterations) {
    const QByteArray text = password.toUtf8();
    QByteArray out(kHashBytes, '\0');
    if (PKCS5_PBKDF2_HMAC(text.constData(), int(text.size()),
                          reinterpret_cast<const unsigned char*>(salt.constData()), int(salt.size()),
                          iterations, EVP_sha256(), kHashBytes,
                          reinterpret_cast<unsigned char*>(out.data())) != 1)
        return {};
    return out;
}

bool sameBytes(const QByteArray& a, const QByteArray& b) {
    return a.size() == b.size() && !a.isEmpty() &&
           CRYPTO_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

constexpr auto kBase64 = QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals;

} // namespace

QString HashLockPassword(const QString& password, int iterations) {
    if (password.isEmpty())
        return {};
    QByteArray salt(kSaltBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), kSaltBytes) != 1)
        return {};
    const QByteArray hash = derive(password, salt, iterations);
    if (hash.isEmpty())
        return {};
    return kPrefix + QStringLiteral("i=%1$").arg(iterations) + QString::fromLatin1(salt.toBase64(kBase64)) +
           QLatin1Char('$') + QString::fromLatin1(hash.toBase64(kBase64));
}

bool IsLockPasswordHash(const QString& stored) {
    return stored.startsWith(kPrefix);
}

LockCheck CheckLockPassword(const QString& typed, const QString& stored) {
    if (!IsLockPasswordHash(stored)) {
        // An old plain value: compared through digests of equal length, in constant time.
        const auto digest = [](const QString& s) {
            return QCryptographicHash::hash(s.toUtf8(), QCryptographicHash::Sha256);
        };
        return sameBytes(digest(typed), digest(stored)) ? LockCheck::Accepted : LockCheck::Refused;
    }
    static const QRegularExpression form(
        QStringLiteral("^\\$pbkdf2-sha256\\$i=([0-9]{1,9})\\$([A-Za-z0-9+/]+)\\$([A-Za-z0-9+/]+)$"));
    const QRegularExpressionMatch m = form.match(stored);
    if (!m.hasMatch())
        return LockCheck::Damaged;
    const int iterations = m.captured(1).toInt();
    const auto salt = QByteArray::fromBase64Encoding(m.captured(2).toLatin1(),
                                                     kBase64 | QByteArray::AbortOnBase64DecodingErrors);
    const auto hash = QByteArray::fromBase64Encoding(m.captured(3).toLatin1(),
                                                     kBase64 | QByteArray::AbortOnBase64DecodingErrors);
    if (iterations < kMinIterations || iterations > kMaxIterations || !salt || salt.decoded.size() < 8 ||
        !hash || hash.decoded.size() != kHashBytes)
        return LockCheck::Damaged;
    return sameBytes(derive(typed, salt.decoded, iterations), hash.decoded) ? LockCheck::Accepted
                                                                            : LockCheck::Refused;
}

LockCheck CheckStoredLockPassword(const QString& typed) {
    const QString stored = GetSetting(keys::PrefPassword);
    const LockCheck check = CheckLockPassword(typed, stored);
    if (check == LockCheck::Accepted && !stored.isEmpty() && !IsLockPasswordHash(stored)) {
        const QString hashed = HashLockPassword(stored);
        if (!hashed.isEmpty())
            SaveSetting(keys::PrefPassword, hashed);
    }
    return check;
}

QString DamagedLockPasswordText() {
    return QStringLiteral(
               "The stored password cannot be read, so no password opens the lock. To set a new "
               "one, close the program, change USEPASS=1 to USEPASS=0 in the [PREF] section of %1, "
               "start it again and enter the new password in the settings.")
        .arg(SettingsStore::instance().path());
}

} // namespace zantrel
