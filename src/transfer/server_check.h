#pragma once

#include "core/store.h"

#include <QString>

namespace zantrel {

struct ServerCheckResult {
    bool ok = false;
    QString message;     // plain words for the user, never the password
    QString fingerprint; // FTPS: the certificate's "sha256//…" pin; SFTP: the host key's "SHA256:…"
};

// Logs in to the server, changes to its folder and lists it; uploads and changes nothing. Blocks for
// up to the connect and reply limits: call it off the user-interface thread.
ServerCheckResult CheckServer(const ServerEntry& server);

} // namespace zantrel
