#pragma once

#include "core/secret_value.h"

#include <QString>

namespace zantrel {

// A password value "@cred:NAME" is read from $CREDENTIALS_DIRECTORY/NAME, the folder systemd fills from a
// unit's LoadCredential= or LoadCredentialEncrypted=. The file holds the password; one line break at its
// end (as `echo` or an editor leaves) is not part of it.
inline constexpr QLatin1StringView kCredentialPrefix("@cred:");
inline constexpr qint64 kMaxCredentialBytes = 64 * 1024;

bool IsCredentialReference(const QString& stored);
// The credential NAME for "@cred:NAME". Refused with plain words: no credentials folder, a name that is
// not a plain file name, a missing, empty or too large file, a link, a file that is not the user's own.
SecretLookup ReadCredential(const QString& stored);

} // namespace zantrel
