#pragma once

#include <QByteArray>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>

namespace zantrel {

// A login sent with the Basic scheme (RFC 7617).
struct BasicLogin {
    QByteArray user;
    QByteArray password;  // every byte after the first colon, NUL bytes included
    bool readable = true; // false: the scheme is Basic but what follows is no login
};

// The login in an Authorization header's value: the scheme named in any case. None without a header or
// with another scheme.
std::optional<BasicLogin> ParseBasicLogin(const char* header);

// Equal contents, compared in time that does not depend on where they differ or on their lengths.
bool SameSecret(const QByteArray& a, const QByteArray& b);

// Slows password guessing down per client: after a wrong login a client's next login is looked at only
// after a pause that doubles with each failure in a row (kFirstPause up to kLongestPause), and its refusal
// comes at the end of that pause. Other clients are not slowed. A right login ends the count, and so does
// kForgetAfter without a failure. Safe on any thread.
class LoginGuard {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kFirstPause{1};
    static constexpr std::chrono::seconds kLongestPause{60};
    static constexpr std::chrono::minutes kForgetAfter{10};
    static constexpr std::size_t kClientsKept = 10000;

    // Until when logins from client wait; a past time when they do not.
    Clock::time_point pausedUntil(const QByteArray& client) const;
    // A wrong login from client at now: the time its refusal is due.
    Clock::time_point failed(const QByteArray& client, Clock::time_point now);
    void succeeded(const QByteArray& client);

  private:
    struct Record {
        int failures = 0;
        Clock::time_point until;
    };
    mutable std::mutex mutex_;
    std::map<QByteArray, Record> records_;
};

} // namespace zantrel
