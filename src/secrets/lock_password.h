#pragma once

#include <QString>

namespace zantrel {

// The window's lock password (PREF/PASSWORD) is kept as a salted, slow hash with its parameters:
// "$pbkdf2-sha256$i=ITERATIONS$SALT$HASH", salt and hash in base64. Versions before this one kept the
// password itself; such a value still opens the lock once and is then replaced by its hash.
inline constexpr int kLockPasswordIterations = 600000; // about 0.15 s here

// The stored form of a new lock password; "" stays "" (no password).
QString HashLockPassword(const QString& password, int iterations = kLockPasswordIterations);
bool IsLockPasswordHash(const QString& stored);

enum class LockCheck { Accepted, Refused, Damaged };
// typed against a stored value, either form; compared in constant time. A value that starts like a
// hash but cannot be read (cut short, edited by hand, absurd parameters) is Damaged: nothing opens it.
LockCheck CheckLockPassword(const QString& typed, const QString& stored);

// typed against PREF/PASSWORD; an old plain value that matches is replaced by its hash.
LockCheck CheckStoredLockPassword(const QString& typed);

// What the user is told about a damaged stored value: how to set a new password.
QString DamagedLockPasswordText();

} // namespace zantrel
