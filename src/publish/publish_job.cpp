#include "publish/publish_job.h"

#include "capture/capture_window.h"
#include "capture/mira.h"
#include "core/clock.h"
#include "core/scheduler.h"
#include "core/secret_value.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"
#include "imaging/jpeg_writer.h"
#include "imaging/stamp.h"
#include "publish/archive_retention.h"
#include "publish/live_values.h"
#include "publish/stamp_inputs.h"
#include "transfer/hangup.h"
#include "transfer/server_address.h"
#include "transfer/server_upload.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <algorithm>

namespace zantrel {

namespace {

// However little of the interval is left, the servers get this long before the job ends.
constexpr std::chrono::milliseconds kShortestWait{200};

} // namespace

QString ArchiveFileName(const QString& folder, const QDateTime& moment) {
    QString name = folder.isEmpty() ? QDir::currentPath() : folder; // not the root of the file system
    if (!name.endsWith(QLatin1Char('/')))
        name += QLatin1Char('/');
    return name + moment.toString(QStringLiteral("ddMMyyyyHHmmss")) + QStringLiteral(".JPG");
}

PublishServices ProgramServices(const CaptureWindow& capture, StatusSink& status, MessageSink& messages) {
    PublishServices s;
    s.grabFrame = [&capture](QImage& target) { capture.GrabFrame(target); };
    s.cameraLostSince = [&capture] { return capture.lostSince(); };
    s.cameraChosen = [&capture] { return capture.cameraChosen(); };
    s.cameraName = [&capture] { return capture.lostCameraName(); };
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

// How long a job begun at `began` may still wait for its servers: targetWait, and on a periodic
// schedule no longer than its interval from the job's start, so the next job starts on time.
std::optional<std::chrono::milliseconds> allowedWait(const PublishServices& s,
                                                     std::chrono::steady_clock::time_point began) {
    using namespace std::chrono;
    if (!s.targetWait || ReadNumber(keys::UpdateType) == 0.0)
        return s.targetWait;
    const QDateTime present = clock().now().addMSecs(-clock().now().time().msec());
    const NextUpdate n = ComputeNextUpdate(present);
    const QDateTime next(QDate(n.year, n.month, n.day), QTime(n.hour, n.minute, n.second));
    const qint64 interval = next.isValid() ? present.secsTo(next) : 0;
    if (interval <= 0)
        return s.targetWait;
    const auto left = duration_cast<milliseconds>(seconds(interval) - (steady_clock::now() - began));
    return std::clamp(left, kShortestWait, std::max(kShortestWait, *s.targetWait));
}

// Only the image this job encoded goes out, from its own bytes: never whatever stands at the working
// file's path by then (a file that could not be replaced, another user's link or file). A working file
// that could not be written still fails the job, but the fresh picture is published all the same.
void uploadToServers(const PublishServices& s, const QString& file, const QByteArray& image,
                     std::chrono::steady_clock::time_point began, PublishOutcome& outcome) {
    // Zero, a negative count or no number at all: nobody is contacted.
    const std::int32_t count = ServerEntryCount();
    std::vector<ServerEntry> entries;
    std::vector<std::size_t> entryTargets; // outcome.targets index of each entry delivered to
    for (std::int32_t n = 1; n <= count; ++n) {
        ServerEntry server = ReadServerEntry(n);
        if (server.address.trimmed().isEmpty())
            continue; // a gap in the list, no server
        ++outcome.serversTried;
        outcome.targets.push_back({n,
                                   ShownAddress(server.address),
                                   false,
                                   {},
                                   server.directory,
                                   QStringList{server.address.trimmed(), QString::number(server.port),
                                               server.login, server.directory}
                                       .join(QChar(0))});
        // A password that cannot be had (a credential file that is missing, say) fails this target only.
        if (const QString refusal = ResolveServerPassword(n).refusal; !refusal.isEmpty()) {
            s.status->setStatus(QStringLiteral("Error:") + refusal);
            outcome.targets.back().reason = refusal;
            continue;
        }
        entryTargets.push_back(outcome.targets.size() - 1);
        entries.push_back(std::move(server));
    }
    if (image.isEmpty()) {
        const QString reason = QStringLiteral("%1 was not encoded; nothing was uploaded").arg(file);
        for (std::size_t i : entryTargets) {
            PublishOutcome::TargetOutcome& target = outcome.targets[i];
            s.status->setStatus(QStringLiteral("Error:") + reason);
            target.reason = reason;
        }
        return;
    }
    if (entries.empty() || (s.cancelled && s.cancelled()))
        return;
    // The remote file takes the working file's name, without the local folders it lives in.
    const std::vector<TargetPool::Result> results = s.targets->deliver(
        entries, image, QFileInfo(file).fileName(), *s.status, s.limits, s.cancelled, allowedWait(s, began));
    for (std::size_t i = 0; i < results.size(); ++i) {
        PublishOutcome::TargetOutcome& target = outcome.targets[entryTargets[i]];
        // A file that went to the login folder instead of the server's folder is not where it belongs.
        target.delivered = results[i].upload.uploaded && results[i].upload.folderChanged;
        target.reason = results[i].reason;
        if (results[i].took)
            target.seconds = std::chrono::duration<double>(*results[i].took).count();
        if (target.delivered) {
            ++outcome.serversUploaded;
            outcome.uploadedEntries.push_back(target.entry);
        }
    }
}

} // namespace

PublishOutcome RunPublishJob(const PublishServices& s) {
    const auto began = std::chrono::steady_clock::now();
    PublishOutcome outcome;

    QImage target;
    s.grabFrame(target);
    outcome.testCard = IsTestCard(target);
    // A camera lost at the grab gave the test card: published all the same, but not as a success. So
    // does a chosen camera that gave no picture without counting as lost yet (one that cannot be
    // reached, refuses the login or sends no picture).
    if (s.cameraLostSince)
        outcome.cameraLostSince = s.cameraLostSince();
    if (outcome.testCard && !outcome.cameraLostSince.isValid() && s.cameraChosen && s.cameraChosen())
        outcome.cameraLostSince = clock().now();
    if (outcome.cameraLostSince.isValid() && s.cameraName)
        outcome.cameraName = s.cameraName();
    if (outcome.cameraLostSince.isValid()) {
        if (ReadInt32(keys::VfwWhenLost) == 1) {
            // Nothing goes out: the servers and the working file keep the last good picture.
            outcome.testCard = false;
            s.status->setStatus(QStringLiteral("Error:") + CameraLostText(outcome.cameraLostSince) +
                                QStringLiteral("; nothing was published"));
            return outcome;
        }
        s.status->setStatus(CameraLostText(outcome.cameraLostSince));
    }

    const LiveValues::Values live = s.live->snapshot();
    // The test card's stamps go under its own caption.
    const int stampTop = outcome.testCard ? kMiraCaptionHeight : 0;
    StampParams stamp = JobStampParams(live);
    for (const QString& news :
         StampInputs::instance().prepare(stamp, live, target.height() - stampTop, clock().now()))
        s.status->setStatus(news);
    if (stampTop > 0) {
        QImage below = target.copy(0, stampTop, target.width(), target.height() - stampTop);
        StampFrame(below, stamp);
        QPainter(&target).drawImage(0, stampTop, below);
    } else {
        StampFrame(target, stamp);
    }

    const int quality = 100 - live.compression;
    const QString file = GetSetting(keys::ImageFileName);
    QByteArray image;
    outcome.workingFileWritten = SavePictureAsJpeg(target, file, quality, *s.messages, &image);
    outcome.image = image;

    // The test card standing in for a failing camera is no picture of the place: it never goes into the
    // archive (nor a time-lapse). Without any camera the card is the picture, archived as one.
    if (ReadFlag(keys::ImageSaveCopy) && !outcome.cameraLostSince.isValid()) {
        const QString archive =
            ArchiveFileName(GetSetting(keys::ImagePath, QDir::currentPath()), clock().now());
        // The copy has the working file's bytes; with none encoded, the write is left to fail on its own.
        QString why;
        outcome.diskLow = !MakeRoomForArchiveCopy(archive, image.size(), &why);
        if (outcome.diskLow)
            s.status->setStatus(
                QStringLiteral("Error:") +
                QStringLiteral("Too little free space for the archive copy %1: %2").arg(archive, why));
        else
            outcome.archiveWritten = SavePictureAsJpeg(target, archive, quality, *s.messages);
        if (outcome.archiveWritten)
            KeepArchiveWithinLimits(archive, clock().now());
    }

    outcome.uploadsOn = ReadFlag(keys::FtpUploadAtJob);
    if (outcome.uploadsOn) {
        uploadToServers(s, file, image, began, outcome);
        if (ReadFlag(keys::PrefAutoHangUp) && s.hangUp && !(s.cancelled && s.cancelled())) {
            s.hangUp();
            outcome.hungUp = true;
        }
    }
    return outcome;
}

} // namespace zantrel
