#pragma once

#include <QString>
#include <functional>

namespace zantrel {

class FtpClient;
class StatusSink;

// Sends a finished video to every server of the list under remoteName, with the image's upload (a
// temporary name renamed into place, retried when a connection fails quickly) on a connection of its
// own (ftp, which another thread may stop with FtpDisconnect). Blocks: call it from a worker thread.
// Returns how many servers have the video.
int UploadTimelapse(FtpClient& ftp, StatusSink& status, const QString& video, const QString& remoteName,
                    const std::function<bool()>& cancelled);

} // namespace zantrel
