#pragma once

#include "core/secret_value.h"

#include <QString>
#include <chrono>

typedef struct _GCancellable GCancellable;

namespace zantrel {

// The desktop keyring (the Secret Service on the session bus, through libsecret). The settings file keeps
// "@keyring:ID" where a password was; the item with that id holds it, labelled with the program, the
// settings file it belongs to, the entry's address and login. Every call blocks for at most the bound
// (a keyring that does not answer is given up on): call it off the UI thread, or where a short wait is
// acceptable. A call never opens the keyring's unlock prompt unless it says so.
inline constexpr QLatin1StringView kKeyringPrefix("@keyring:");
inline constexpr std::chrono::milliseconds kKeyringBound{3000};

bool IsKeyringMarker(const QString& stored);

struct KeyringAnswer {
    enum class State { Done, Unavailable, Locked, Missing, Failed } state = State::Failed;
    QString value; // the password (Lookup), the marker (Store)
    QString error; // plain words, never a password
};

// A Secret Service answers on the session bus.
bool KeyringAvailable(QString* why = nullptr);
// Stores the password as a new item; its marker comes back in value.
KeyringAnswer KeyringStore(const SecretPlace& place, const QString& password);
// Deletes the item a marker stands for (a password replaced by another).
bool KeyringForget(const QString& marker);
// The password a marker stands for. A locked keyring is Locked: no prompt, no wait for the user.
KeyringAnswer KeyringLookup(const QString& marker);

// The keyring's own prompt to unlock the passwords this program keeps there. run() waits for the user's
// answer, as long as that takes, or until cancel() (from any thread): never call it on the UI thread.
class KeyringUnlock {
  public:
    KeyringUnlock();
    ~KeyringUnlock();
    KeyringUnlock(const KeyringUnlock&) = delete;
    KeyringUnlock& operator=(const KeyringUnlock&) = delete;
    // Done when the passwords can be read now; Locked when the keyring stays locked.
    KeyringAnswer run();
    void cancel();

  private:
    GCancellable* cancellable_;
};

} // namespace zantrel
