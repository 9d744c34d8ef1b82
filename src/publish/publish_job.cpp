#include "publish/publish_job.h"

#include "capture/capture_window.h"
#include "core/clock.h"
#include "core/scheduler.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"
#include "imaging/jpeg_writer.h"
#include "imaging/stamp.h"
#include "publish/archive_retention.h"
#include "publish/live_values.h"
#include "publish/stamp_inputs.h"
#include "transfer/ftp_client.h"
#include "transfer/hangup.h"
#include "transfer/server_address.h"
#include "transfer/server_upload.h"

#include <QDir>
#include <QFileInfo>

namespace zantrel {

QString ArchiveFileName(const QString& folder, const QDateTime& moment) {
    QString name = folder.isEmpty() ? QDir::currentPath() : folder; // not the root of the file system
    if (!name.endsWith(QLatin1Char('/')))
        name += QLatin1Char('/');
    return name + moment.toString(QStringLiteral("ddMMyyyyHHmmss")) + QStringLiteral(".JPG");
}

PublishServices ProgramServices(const CaptureWindow& capture, FtpClient& ftp, StatusSink& status,
                                MessageSink& messages) {
    PublishServices s;
    s.grabFrame = [&capture](QImage& target) { capture.GrabFrame(target); };
    s.cameraLostSince = [&capture] { return capture.lostSince(); };
    s.ftp = &ftp;
    s.status = &status;
    s.messages = &messages;
    s.live = &LiveValues::instance();
    s.hangUp = [&status] { HangUpAll(status); };
    return s;
}

StampParams JobStampParams(const LiveValues::Values& live) {
    StampParams stamp = live.stamp;
    stamp.time = ReadFlag(keys::ImageTime);
    stamp.date = ReadFlag(keys::ImageDate);
    stamp.text = ReadFlag(keys::ImageText);
    stamp.nextUpdate = NextUpdateStampText(ComputeNextUpdate());
    return stamp;
}

namespace {

// Only the image this job encoded goes out, from its own bytes: never whatever stands at the working
// file's path by then (a file that could not be replaced, another user's link or file). A working file
// that could not be written still fails the job, but the fresh picture is published all the same.
void uploadToServers(const PublishServices& s, const QString& file, const QByteArray& image,
                     PublishOutcome& outcome) {
    // Zero, a negative count or no number at all: nobody is contacted.
    const std::int32_t count = ServerEntryCount();
    std::vector<ServerEntry> entries;
    for (std::int32_t n = 1; n <= count; ++n) {
        ServerEntry server = ReadServerEntry(n);
        if (server.address.trimmed().isEmpty())
            continue; // a gap in the list, no server
        ++outcome.serversTried;
        outcome.targets.push_back({n, ShownAddress(server.address), false, {}});
        entries.push_back(std::move(server));
    }
    if (image.isEmpty()) {
        const QString reason = QStringLiteral("%1 was not encoded; nothing was uploaded").arg(file);
        for (PublishOutcome::TargetOutcome& target : outcome.targets) {
            s.status->setStatus(QStringLiteral("Error:") + reason);
            target.reason = reason;
        }
        return;
    }
    if (entries.empty() || (s.cancelled && s.cancelled()))
        return;
    // The remote file takes the working file's name, without the local folders it lives in.
    const std::vector<TargetPool::Result> results =
        s.targets->deliver(entries, image, QFileInfo(file).fileName(), *s.status,
                           s.ftp ? s.ftp->limits() : TransferLimits{}, s.cancelled, s.targetWait);
    for (std::size_t i = 0; i < results.size(); ++i) {
        PublishOutcome::TargetOutcome& target = outcome.targets[i];
        // A file that went to the login folder instead of the server's folder is not where it belongs.
        target.delivered = results[i].upload.uploaded && results[i].upload.folderChanged;
        target.reason = results[i].reason;
        if (target.delivered) {
            ++outcome.serversUploaded;
            outcome.uploadedEntries.push_back(target.entry);
        }
    }
}

} // namespace

PublishOutcome RunPublishJob(const PublishServices& s) {
    PublishOutcome outcome;

    QImage target;
    s.grabFrame(target);
    // A camera lost at the grab gave the test card: published all the same, but not as a success.
    if (s.cameraLostSince)
        outcome.cameraLostSince = s.cameraLostSince();
    if (outcome.cameraLostSince.isValid())
        s.status->setStatus(CameraLostText(outcome.cameraLostSince));

    const LiveValues::Values live = s.live->snapshot();
    StampParams stamp = JobStampParams(live);
    for (const QString& news : StampInputs::instance().prepare(stamp, live, target.height(), clock().now()))
        s.status->setStatus(news);
    StampFrame(target, stamp);

    const int quality = 100 - live.compression;
    const QString file = GetSetting(keys::ImageFileName);
    QByteArray image;
    outcome.workingFileWritten = SavePictureAsJpeg(target, file, quality, *s.messages, &image);
    outcome.image = image;

    if (ReadFlag(keys::ImageSaveCopy)) {
        const QString archive =
            ArchiveFileName(GetSetting(keys::ImagePath, QDir::currentPath()), clock().now());
        // The copy has the working file's bytes; with none encoded, the write is left to fail on its own.
        outcome.diskLow = !MakeRoomForArchiveCopy(archive, image.size());
        if (outcome.diskLow)
            s.status->setStatus(QStringLiteral("Error:") +
                                QStringLiteral("Too little free space for the archive copy %1").arg(archive));
        else
            outcome.archiveWritten = SavePictureAsJpeg(target, archive, quality, *s.messages);
        if (outcome.archiveWritten)
            KeepArchiveWithinLimits(archive, clock().now());
    }

    outcome.uploadsOn = ReadFlag(keys::FtpUploadAtJob);
    if (outcome.uploadsOn) {
        uploadToServers(s, file, image, outcome);
        if (ReadFlag(keys::PrefAutoHangUp) && s.hangUp && !(s.cancelled && s.cancelled())) {
            s.hangUp();
            outcome.hungUp = true;
        }
    }
    return outcome;
}

} // namespace zantrel
