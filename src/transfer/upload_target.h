#pragma once

#include "core/sinks.h"
#include "core/store.h"
#include "transfer/progress_throttle.h"
#include "transfer/server_check.h"
#include "transfer/server_upload.h"
#include "transfer/transfer_limits.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace zantrel {

// Where one server entry's pictures go: an FTP, FTPS or SFTP server, a local folder, or whatever else
// the address names. One object serves one entry, one delivery at a time, on the thread that calls
// deliver(); stop() may come from any thread. Every target writes the same texts to its status sink:
// "Connecting... " + address, "Connected" (or "Error:" + the reason), "Transfering:N bytes" while the
// bytes go out, "File Transfered." once the picture stands under its name, "End Transfering" at the end.
class UploadTarget {
  public:
    UploadTarget(const ServerEntry& entry, StatusSink& status) : entry_(entry), status_(status) {}
    virtual ~UploadTarget() = default;
    UploadTarget(const UploadTarget&) = delete;
    UploadTarget& operator=(const UploadTarget&) = delete;

    // Puts the bytes under remoteName in the entry's folder: with ATOMIC on, so that a reader never sees
    // a part of them. Tries again after the limits' pauses when a try failed in a way worth retrying;
    // every wait is bounded by the limits; a stop or cancelled() ends it at once.
    virtual ServerUploadResult deliver(const QByteArray& bytes, const QString& remoteName,
                                       const std::function<bool()>& cancelled) = 0;
    // What the settings' "Test" shows: reaches the target and its folder, changes nothing. Blocks for up
    // to the limits: call it off the user-interface thread.
    virtual ServerCheckResult check() = 0;
    // Any thread: ends a running delivery (a transfer, a pause before another try) within a fraction of
    // a second.
    virtual void stop();

    // Set before deliver() or check(), on their thread.
    void setLimits(const TransferLimits& limits) { limits_ = limits; }
    const TransferLimits& limits() const { return limits_; }
    const ServerEntry& entry() const { return entry_; }

  protected:
    // Counts stops; a delivery notes the count when it begins and ends once it changes.
    unsigned stops() const { return stops_.load(); }
    // Waits up to pause; true when a stop came meanwhile (stops() no longer equals seenStops).
    bool waitForStop(std::chrono::milliseconds pause, unsigned seenStops);

    const ServerEntry entry_;
    StatusSink& status_;

  private:
    TransferLimits limits_;
    std::atomic<unsigned> stops_{0};
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
};

// A target reached over a connection, in steps. deliver() runs them for every target alike: up to three
// tries after the limits' pauses ("Retrying... " + address) while worthRetrying(); per try connect(),
// then upload() straight to the name (ATOMIC off, or replacesByItself()) or to name + ".part" and
// replace() onto the name; a target that refuses replacing gets a direct upload once and from then on
// ("The server refuses renames: uploading directly from now on"), remembered as for FTP; discard()
// removes what a failed try left; disconnect() always closes.
class SteppedTarget : public UploadTarget {
  public:
    SteppedTarget(const ServerEntry& entry, StatusSink& status)
        : UploadTarget(entry, status), renamesRefused_(StoredRenamesRefused(entry)), throttle_(status) {}
    ServerUploadResult deliver(const QByteArray& bytes, const QString& remoteName,
                               const std::function<bool()>& cancelled) override;

  protected:
    enum class Replaced { Yes, Refused, Failed };
    // "Connecting... " + address, then "Connected" or "Error:" + reason; reaches the entry's folder
    // (making it where the protocol can).
    virtual bool connect() = 0;
    // Sends the bytes under name into the folder; reports with progress(). No "File Transfered.".
    virtual bool upload(const QByteArray& bytes, const QString& name) = 0;
    // Moves from onto to in the folder, replacing it. Refused: this target never renames.
    virtual Replaced replace(const QString& from, const QString& to) = 0;
    // Removes a leftover of a failed try; writes no text.
    virtual void discard(const QString& name) = 0;
    // Closes the connection; "End Transfering".
    virtual void disconnect() = 0;
    // The last failure broke quickly and may well not happen again (not a timeout, refusal or stop).
    virtual bool worthRetrying() const = 0;
    // An upload that no reader can see half done (an object store's PUT): no ".part".
    virtual bool replacesByItself() const { return false; }

    // "Transfering:N bytes" for the bytes sent so far, a few a second; the last one (final) always.
    void progress(qint64 sent, bool final);
    // True once a stop came after the running delivery began, or its cancelled() turned true.
    bool stopped() const { return stops() != deliveryStops_ || (cancelled_ && cancelled_()); }

  private:
    unsigned deliveryStops_ = 0;
    std::function<bool()> cancelled_;
    bool renamesRefused_ = false;
    ProgressThrottle throttle_;
};

// The schemes an address may start with, in the order the user is told them ("ftp", "ftps", ...).
QStringList KnownTargetSchemes();
// The scheme of an address in lower case: "ftp" for a host name alone.
QString TargetScheme(const QString& address);
// The target for an entry, writing to status; null with the reason in refusal for an address whose
// scheme the program does not know (the reason names those it knows).
std::unique_ptr<UploadTarget> MakeUploadTarget(const ServerEntry& entry, StatusSink& status,
                                               QString& refusal);
// The entry's "Test", for every kind of target: the refusal, or the target's check().
ServerCheckResult CheckTarget(const ServerEntry& entry);

} // namespace zantrel
