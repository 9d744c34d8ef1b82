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
    bool folderChanged = true; // false when the folder change failed (the file went to the login folder)
};

// One server of the job: connect, change to its folder, upload the image (the bytes the job wrote, never
// whatever stands at a path by then), disconnect, with the client's texts.
// The file first goes to remoteName + ".part" and is then renamed over remoteName, so a viewer never
// fetches half a picture; a server that refuses to rename over a file gets the old one deleted first,
// and one that refuses renames altogether gets direct uploads for the rest of the run (said once).
// A connection that fails quickly (refused, reset, dropped) is tried twice more after growing pauses
// ("Retrying... " + address); a timeout, a refusal by the server or a stop is not retried. cancelled
// (the program closing) and a stop end a pause at once.
ServerUploadResult UploadToServer(FtpClient& ftp, StatusSink& status, const FtpServerEntry& server,
                                  const QByteArray& image, const QString& remoteName,
                                  const std::function<bool()>& cancelled = {});

} // namespace zantrel
