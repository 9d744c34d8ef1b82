#include "liveview/login_guard.h"

#include <QCryptographicHash>
#include <algorithm>

namespace zantrel {

std::optional<BasicLogin> ParseBasicLogin(const char* header) {
    if (!header)
        return std::nullopt;
    const QByteArray value = QByteArray(header).trimmed();
    const qsizetype space = value.indexOf(' ');
    if (value.left(space < 0 ? value.size() : space).toLower() != "basic")
        return std::nullopt;
    BasicLogin login;
    const auto decoded = QByteArray::fromBase64Encoding(value.mid(space + 1).trimmed(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    const qsizetype colon = decoded.decoded.indexOf(':');
    if (space < 0 || !decoded || colon < 0) {
        login.readable = false;
        return login;
    }
    login.user = decoded.decoded.left(colon);
    login.password = decoded.decoded.mid(colon + 1);
    return login;
}

bool SameSecret(const QByteArray& a, const QByteArray& b) {
    // Digests of equal length, so neither the length nor the first difference shows in the time taken.
    const QByteArray x = QCryptographicHash::hash(a, QCryptographicHash::Sha256);
    const QByteArray y = QCryptographicHash::hash(b, QCryptographicHash::Sha256);
    unsigned char differ = 0;
    for (qsizetype i = 0; i < x.size(); ++i)
        differ |= static_cast<unsigned char>(x[i] ^ y[i]);
    return differ == 0;
}

LoginGuard::Clock::time_point LoginGuard::pausedUntil(const QByteArray& client) const {
    std::lock_guard lock(mutex_);
    const auto found = records_.find(client);
    return found == records_.end() ? Clock::time_point() : found->second.until;
}

LoginGuard::Clock::time_point LoginGuard::failed(const QByteArray& client, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (records_.size() >= kClientsKept)
        std::erase_if(records_, [now](const auto& r) { return now - r.second.until > kForgetAfter; });
    if (records_.size() >= kClientsKept && !records_.contains(client))
        records_.erase(std::min_element(records_.begin(), records_.end(), [](const auto& a, const auto& b) {
            return a.second.until < b.second.until;
        }));
    Record& r = records_[client];
    if (r.failures > 0 && now - r.until > kForgetAfter)
        r.failures = 0;
    const int doublings = std::min(r.failures++, 6); // 2^6 s is beyond the longest pause
    r.until = now + std::min<Clock::duration>(kFirstPause * (1 << doublings), kLongestPause);
    return r.until;
}

void LoginGuard::succeeded(const QByteArray& client) {
    std::lock_guard lock(mutex_);
    records_.erase(client);
}

} // namespace zantrel
