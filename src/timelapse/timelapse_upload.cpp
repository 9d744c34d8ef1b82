#include "timelapse/timelapse_upload.h"

#include "core/store.h"
#include "ftp/ftp_client.h"
#include "ftp/server_upload.h"

namespace zantrel {

int UploadTimelapse(FtpClient& ftp, StatusSink& status, const QString& video, const QString& remoteName,
                    const std::function<bool()>& cancelled) {
    int uploaded = 0;
    const std::int32_t count = ServerEntryCount();
    for (std::int32_t n = 1; n <= count && !(cancelled && cancelled()); ++n) {
        const ServerUploadResult r =
            UploadToServer(ftp, status, ReadServerEntry(n), video, remoteName, cancelled);
        if (r.uploaded && r.folderChanged)
            ++uploaded;
    }
    return uploaded;
}

} // namespace zantrel
