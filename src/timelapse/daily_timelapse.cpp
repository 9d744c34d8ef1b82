#include "timelapse/daily_timelapse.h"

#include "core/clock.h"
#include "core/setting_keys.h"
#include "core/sinks.h"
#include "core/store.h"
#include "publish/archive_retention.h"
#include "timelapse/timelapse_upload.h"
#include "transfer/ftp_client.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace zantrel {

namespace {

constexpr int kCheckEveryMs = 15000;
const QString kDayFormat = QStringLiteral("ddMMyyyy");

} // namespace

std::optional<QDate> DailyTimelapseDue(const QDateTime& now, const QTime& at, const QDate& lastDone) {
    const QDate day = now.date().addDays(now.time() >= at ? -1 : -2);
    if (lastDone.isValid() && lastDone >= day)
        return std::nullopt;
    return day;
}

QTime DailyTimelapseTime(const QString& text) {
    const QTime t = QTime::fromString(text.trimmed(), QStringLiteral("H:mm"));
    return t.isValid() ? t : QTime(0, 10);
}

QString DailyTimelapseFile(const QString& folder, const QDate& day) {
    return QDir(folder).filePath(day.toString(kDayFormat) + QStringLiteral(".mp4"));
}

DailyTimelapse::DailyTimelapse(StatusSink& status, QObject* parent)
    : QObject(parent), status_(status), ftp_(std::make_unique<FtpClient>(status)), timer_(new QTimer(this)) {
    connect(timer_, &QTimer::timeout, this, &DailyTimelapse::check);
    timer_->start(kCheckEveryMs);
    QTimer::singleShot(0, this, &DailyTimelapse::check);
}

DailyTimelapse::~DailyTimelapse() {
    cancelled_ = true;
    ftp_->FtpDisconnect();
    if (worker_.joinable())
        worker_.join();
}

void DailyTimelapse::check() {
    if (running_ || !ReadFlag(keys::TimelapseDaily))
        return;
    const auto day = DailyTimelapseDue(clock().now(), DailyTimelapseTime(GetSetting(keys::TimelapseAt)),
                                       QDate::fromString(GetSetting(keys::TimelapseLastDay), kDayFormat));
    if (!day)
        return;
    if (worker_.joinable())
        worker_.join(); // the previous build has ended
    running_ = true;
    worker_ = std::thread([this, d = *day] { build(d); });
}

void DailyTimelapse::build(QDate day) {
    const QString folder = GetSetting(keys::ImagePath, QDir::currentPath());
    TimelapseRequest request;
    request.pictures = ArchivePicturesOfDays(folder, day, day);
    request.output = DailyTimelapseFile(folder, day);
    // A value edited by hand into nothing usable means the default, not a video of two pixels.
    const auto setting = [](const keys::SettingKey& key, int smallest) {
        const int value = ReadInt32(key);
        return value >= smallest ? value : QString::fromLatin1(key.fallback).toInt();
    };
    request.fps = setting(keys::TimelapseFps, 1);
    request.maxWidth = setting(keys::TimelapseWidth, 16);
    const QString name = QFileInfo(request.output).fileName();
    status_.setStatus(QStringLiteral("Making time-lapse ") + name);
    // The day counts as tried before the build starts: should anything in it end the program, the
    // next start goes on publishing instead of trying the same day again and again.
    const QString lastDone = GetSetting(keys::TimelapseLastDay);
    SaveSetting(keys::TimelapseLastDay, day.toString(kDayFormat));
    const TimelapseResult result = EncodeTimelapse(request, {}, [this] { return cancelled_.load(); });
    int uploaded = 0;
    // A build cut short by the program closing is done again at the next start; any other outcome
    // counts as the day's run.
    if (result.outcome == TimelapseResult::Outcome::Cancelled) {
        SaveSetting(keys::TimelapseLastDay, lastDone);
    } else if (result.outcome == TimelapseResult::Outcome::Written) {
        QString written = QStringLiteral("Time-lapse written: %1 (%2 frames").arg(name).arg(result.frames);
        if (result.skipped)
            written += QStringLiteral(", %1 skipped: %2").arg(result.skipped).arg(result.firstSkipped);
        status_.setStatus(written + QLatin1Char(')'));
        KeepArchiveWithinLimits(request.output, clock().now());
        if (ReadFlag(keys::TimelapseUpload)) {
            QString remote = QFileInfo(GetSetting(keys::TimelapseName)).fileName();
            if (remote.isEmpty())
                remote = QLatin1String(keys::TimelapseName.fallback);
            uploaded =
                UploadTimelapse(*ftp_, status_, request.output, remote, [this] { return cancelled_.load(); });
        }
    } else if (result.outcome == TimelapseResult::Outcome::NoPictures && !result.skipped) {
        status_.setStatus(QStringLiteral("No pictures for the time-lapse ") + name);
    } else {
        status_.setStatus(QStringLiteral("Error:") + result.error);
    }
    running_ = false;
    QMetaObject::invokeMethod(
        this, [this, day, result, uploaded] { Q_EMIT finished(day, result, uploaded); },
        Qt::QueuedConnection);
}

} // namespace zantrel
