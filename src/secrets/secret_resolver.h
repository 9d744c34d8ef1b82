#pragma once

#include <QString>

namespace zantrel {

// Makes the password values the settings hold go through the secrets service: "@cred:NAME" is read
// from the systemd credentials folder, "@keyring:ID" from the desktop keyring, anything else stands as
// it is; a password saved into the settings goes into the keyring when there is one, the file keeping
// the marker. Called once at start, before any job.
void InstallSecrets();

// Moves the plain passwords the settings file holds into the keyring: each is stored, read back and
// compared before the file keeps only its marker. Nothing happens without a keyring. Returns what to
// tell the user ("" when nothing was found to move); never a password.
QString MovePasswordsToKeyring();

// Deletes the keyring item a stored value names, unless a password setting still names it (an entry
// removed while a copy of it stays). Waits up to the keyring's bound: not on the UI thread.
void ForgetUnusedKeyringItem(const QString& stored);

// A refusal that says the password is in the locked keyring (which unlocking would mend).
bool IsLockedKeyringRefusal(const QString& refusal);

} // namespace zantrel
