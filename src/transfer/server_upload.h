#pragma once

#include "core/store.h"

#include <QByteArray>
#include <QString>
#include <functional>

namespace zantrel {

class FtpClient;
class StatusSink;

struct ServerUploadResult {
    bool uploaded = false;     // the remote file under its final name holds the whole file
    bool folderChanged = true; // false when the folder change failed (nothing was uploaded then)
};

// Whether a step that failed with this libcurl code is worth another try: connections that broke or
// were refused, not timeouts or refusals by the server.
bool WorthRetrying(int curlCode);

// An entry as what the program learns about its server is stored under: address, port and login.
QString ServerIdentity(const ServerEntry& server);
// Whether the store says the entry's server refuses renames (NORENAME holds its identity), and storing
// that; for an entry of the settings only (number > 0).
bool StoredRenamesRefused(const ServerEntry& server);
void StoreRenamesRefused(const ServerEntry& server);

// One server of the job: connect, change to its folder, upload the image (the bytes the job
// wrote, never whatever stands at a path by then), disconnect, with the client's texts.
// A folder that cannot be entered gets nothing. The file first goes to remoteName + ".part" and is
// then renamed over remoteName, so a viewer never fetches half a picture; a server that refuses to
// rename over a file gets the old one moved aside first (deleted once the new one is in place), and
// one that refuses renames altogether gets direct uploads from then on (said once, remembered in the
// store for its entry). A ".part" of a failed upload is deleted while the connection is still open.
// A connection that fails quickly (refused, reset, dropped) is tried twice more after growing pauses
// ("Retrying... " + address); a timeout, a refusal by the server or a stop is not retried. cancelled
// (the program closing) and a stop end a pause at once.
ServerUploadResult UploadToServer(FtpClient& ftp, StatusSink& status, const ServerEntry& server,
                                  const QByteArray& image, const QString& remoteName,
                                  const std::function<bool()>& cancelled = {});

} // namespace zantrel
