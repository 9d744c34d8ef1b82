#pragma once

#include "timelapse/timelapse_encoder.h"

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QTime>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

class QTimer;

namespace zantrel {

class FtpClient;
class StatusSink;

// The day the daily run builds at now: the latest day whose next day's `at` has passed, unless
// lastDone is that day or a later one (a clock set back builds nothing twice). After a night the
// program was not running, the day is built at the next start.
std::optional<QDate> DailyTimelapseDue(const QDateTime& now, const QTime& at, const QDate& lastDone);

// TIMELAPSE/AT as a time of day; the default 00:10 for anything else.
QTime DailyTimelapseTime(const QString& text);

// The daily video's file: DDMMYYYY.mp4 in the archive folder.
QString DailyTimelapseFile(const QString& folder, const QDate& day);

// With TIMELAPSE/DAILY 1, builds the previous day's video of the archive (IMAGE/PATH) once a day, at
// TIMELAPSE/AT, with TIMELAPSE/FPS and TIMELAPSE/WIDTH; counts it in the archive's limits, and with
// TIMELAPSE/UPLOAD 1 sends it to the servers under TIMELAPSE/NAME. TIMELAPSE/LASTDAY remembers the day
// handled, so a restart neither loses a day nor builds one twice. The work runs on a thread of its own
// at idle priority; status texts go to status, which must outlive this object. Lives on the UI thread.
class DailyTimelapse : public QObject {
    Q_OBJECT
  public:
    explicit DailyTimelapse(StatusSink& status, QObject* parent = nullptr);
    ~DailyTimelapse() override; // cancels a running build (no file is left) and waits for it

    // Starts the day's build when it is due and none is running. Called by a timer every few seconds.
    void check();
    bool running() const { return running_.load(); }

  Q_SIGNALS:
    // On the UI thread, after a build ended (whatever its outcome).
    void finished(const QDate& day, const zantrel::TimelapseResult& result, int serversUploaded);

  private:
    void build(QDate day);

    StatusSink& status_;
    std::unique_ptr<FtpClient> ftp_;
    QTimer* timer_;
    std::atomic<bool> running_{false};
    std::atomic<bool> cancelled_{false};
    std::thread worker_;
};

} // namespace zantrel
