#pragma once

#include "transfer/upload_target.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace zantrel {

// The targets of the server list, kept from one job to the next (each remembers what it learnt of its
// server for the program's run) and served all at once: one worker per folder of a server (entries
// naming the same folder of the same server take turns in it), each target within its own limits, so a
// server that never answers holds up no other. Their texts reach the status sink target by target, in
// list order: the first unfinished target's as they come, the others' once every target before them
// has ended. A delivery may end before its slowest targets: they go on, their texts going straight to
// the status sink, and following deliveries skip them (said once) instead of starting a second
// transfer to the same folder. One that went on past its delivery and then failed (a server that
// timed out) is skipped the same way, for as long again as it held the transfer. No lock is held
// across a transfer or a join. The status sink must outlive the pool. Any thread may stop().
class TargetPool {
  public:
    struct Result {
        ServerUploadResult upload;
        QString reason; // the last "Error:" text, empty when delivered
        // How long the transfer took; none when it never started or still runs.
        std::optional<std::chrono::steady_clock::duration> took = {};
    };

    TargetPool();
    ~TargetPool(); // shutDown()
    TargetPool(const TargetPool&) = delete;
    TargetPool& operator=(const TargetPool&) = delete;

    // Delivers the bytes under remoteName to every entry; one result each, in the same order. An entry
    // whose address names no known kind of target gets the refusal, said in its place among the texts.
    // Returns once every target has ended, or once wait has passed (never without one): a target still
    // busy then is not delivered in this result and goes on by itself.
    std::vector<Result> deliver(const std::vector<ServerEntry>& entries, const QByteArray& bytes,
                                const QString& remoteName, StatusSink& status, const TransferLimits& limits,
                                const std::function<bool()>& cancelled,
                                std::optional<std::chrono::milliseconds> wait = std::nullopt);
    // Ends every running transfer, also those that outlived their delivery, within a fraction of a
    // second.
    void stop();
    // Waits up to bound for every transfer to end; true when none is left.
    bool waitForIdle(std::chrono::milliseconds bound);
    // Stops every transfer and waits for the workers to end.
    void shutDown();

    struct Slot;
    struct Delivery;

  private:
    struct Place {
        std::thread worker;
        bool busy = false; // its worker still serves a delivery
    };
    void startWorkers(Delivery& d, const std::shared_ptr<Delivery>& shared,
                      const std::vector<ServerEntry>& entries, const TransferLimits& limits,
                      std::vector<std::thread>& ended);

    std::mutex deliverMutex_; // one delivery hands out its lanes at a time
    std::mutex slotsMutex_;   // guards slots_ and places_ against stop() and the workers
    std::condition_variable idle_;
    std::map<std::int64_t, std::unique_ptr<Slot>> slots_;
    std::map<QString, Place> places_;
    std::atomic<unsigned> stops_{0};
    bool closed_ = false; // shut down: no worker starts any more
};

} // namespace zantrel
