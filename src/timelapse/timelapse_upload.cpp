#include "timelapse/timelapse_upload.h"

#include "core/secret_value.h"
#include "core/sinks.h"
#include "core/store.h"
#include "transfer/ftp_client.h"
#include "transfer/server_upload.h"
#include "transfer/upload_target.h"

#include <QByteArray>
#include <QFile>

namespace zantrel {

int UploadTimelapse(FtpClient& ftp, StatusSink& status, const QString& video, const QString& remoteName,
                    const std::function<bool()>& cancelled) {
    // A day's video can be large: it is mapped, not read, so the pages come from the disk as they are
    // sent and the upload holds no copy of its own. The file is the one this program just wrote.
    QFile file(video);
    uchar* mapped = file.open(QIODevice::ReadOnly) && file.size() > 0 ? file.map(0, file.size()) : nullptr;
    if (!mapped) {
        status.setStatus(QStringLiteral("Error:Cannot read the video ") + video);
        return 0;
    }
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), file.size());
    int uploaded = 0;
    const std::int32_t count = ServerEntryCount();
    for (std::int32_t n = 1; n <= count && !(cancelled && cancelled()); ++n) {
        const ServerEntry server = ReadServerEntry(n);
        if (server.address.trimmed().isEmpty())
            continue; // a gap in the list, no server
        if (const QString refusal = ResolveServerPassword(n).refusal; !refusal.isEmpty()) {
            status.setStatus(QStringLiteral("Error:") + refusal); // the password cannot be had
            continue;
        }
        ServerUploadResult r;
        if (TargetScheme(server.address).contains(QLatin1String("ftp"))) {
            r = UploadToServer(ftp, status, server, bytes, remoteName, cancelled);
        } else {
            // Other kinds of target end with cancelled() alone.
            QString refusal;
            if (const std::unique_ptr<UploadTarget> target = MakeUploadTarget(server, status, refusal)) {
                target->setLimits(ftp.limits());
                r = target->deliver(bytes, remoteName, cancelled);
            } else {
                status.setStatus(QStringLiteral("Error:") + refusal);
            }
        }
        if (r.uploaded && r.folderChanged)
            ++uploaded;
    }
    return uploaded;
}

} // namespace zantrel
