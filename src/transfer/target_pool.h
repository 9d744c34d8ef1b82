#pragma once

#include "transfer/upload_target.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace zantrel {

// The targets of the server list, kept from one job to the next (each remembers what it learnt of its
// server for the program's run) and served all at once: one thread per target, each within its own
// limits, so a server that never answers holds up no other (entries naming the same folder of the same
// server take turns). Their texts reach the status sink target
// by target, in list order: the first unfinished target's as they come, the others' once every target
// before them has ended. A delivery ends when its last target has ended, so a following one never finds
// a target still busy. Any thread may stop().
class TargetPool {
  public:
    struct Result {
        ServerUploadResult upload;
        QString reason; // the last "Error:" text, empty when delivered
    };

    TargetPool();
    ~TargetPool(); // stops and waits for running deliveries
    TargetPool(const TargetPool&) = delete;
    TargetPool& operator=(const TargetPool&) = delete;

    // Delivers the bytes under remoteName to every entry; one result each, in the same order. An entry
    // whose address names no known kind of target gets the refusal, said in its place among the texts.
    std::vector<Result> deliver(const std::vector<FtpServerEntry>& entries, const QByteArray& bytes,
                                const QString& remoteName, StatusSink& status, const FtpLimits& limits,
                                const std::function<bool()>& cancelled);
    // Ends every running delivery within a fraction of a second.
    void stop();

    struct Slot;

  private:
    std::mutex deliverMutex_; // one delivery at a time
    std::mutex slotsMutex_;   // guards slots_ against stop()
    std::map<std::int64_t, std::unique_ptr<Slot>> slots_;
    std::atomic<unsigned> stops_{0};
};

} // namespace zantrel
