#pragma once

#include <QString>

namespace zantrel {

// Why an SFTP key file cannot be used before the server is asked: "" when the file is there and readable.
QString KeyFileUnusable(const QString& path);

// The reason to give when a server refused the login with this key file; "" when the key says nothing
// beyond the server's refusal. This system's SSH library signs RSA keys only with SHA-1 ("ssh-rsa"),
// which current OpenSSH servers refuse.
QString KeyFileRefusal(const QString& path);

} // namespace zantrel
