#include "transfer/target_pool.h"

#include "transfer/server_address.h"

#include <QDateTime>
#include <algorithm>
#include <deque>

namespace zantrel {

// One delivery's state, shared by the job and the workers serving it (which may outlive the job). Passes
// the texts of its targets on, one target after another in list order, until the job lets go of it:
// then all at once and, from then on, as they come.
struct TargetPool::Delivery {
    Delivery(StatusSink& out, const std::vector<ServerEntry>& entries, const QByteArray& bytes,
             const QString& remoteName, std::function<bool()> cancelled)
        : entries(entries), bytes(bytes), remoteName(remoteName), cancelled(std::move(cancelled)),
          lanes(entries.size(), nullptr), out_(out), results_(entries.size()), held_(entries.size()),
          lastErrors_(entries.size()), ended_(entries.size(), false) {}

    void post(std::size_t lane, const QString& text) {
        std::lock_guard lock(mutex_);
        if (lane < lastErrors_.size() && text.startsWith(QLatin1String("Error:")))
            lastErrors_[lane] = text.mid(6);
        if (lane == front_ || released_)
            out_.setStatus(text);
        else if (lane < held_.size())
            held_[lane].push_back(text);
    }
    void beep() { out_.beep(); }
    // The job stopped waiting for the lanes still running.
    bool released() {
        std::lock_guard lock(mutex_);
        return released_;
    }
    void end(std::size_t lane, Result result) {
        std::lock_guard lock(mutex_);
        results_[lane] = std::move(result);
        ended_[lane] = true;
        while (front_ < ended_.size() && ended_[front_]) {
            if (++front_ < held_.size())
                flush(front_);
        }
        if (front_ == ended_.size())
            allEnded_.notify_all();
    }
    // Waits for every lane to end, or for wait; then lets go of the lanes still running, whose results
    // stay "not finished" here.
    std::vector<Result> wait(std::optional<std::chrono::milliseconds> wait) {
        std::unique_lock lock(mutex_);
        const auto over = [this] { return front_ == ended_.size(); };
        if (wait)
            allEnded_.wait_for(lock, *wait, over);
        else
            allEnded_.wait(lock, over);
        if (!over()) {
            released_ = true;
            for (std::size_t lane = front_; lane < held_.size(); ++lane) {
                flush(lane);
                // A server that failed a try and is tried again is named by that failure, not as one
                // that is slow.
                if (!ended_[lane])
                    results_[lane].reason =
                        lastErrors_[lane].isEmpty()
                            ? QStringLiteral("Still sending after the job's wait")
                            : lastErrors_[lane] + QStringLiteral("; still trying after the job's wait");
            }
        }
        return results_;
    }

    const std::vector<ServerEntry> entries;
    const QByteArray bytes;
    const QString remoteName;
    const std::function<bool()> cancelled;
    std::vector<Slot*> lanes; // set before the workers start

  private:
    void flush(std::size_t lane) {
        for (const QString& text : held_[lane])
            out_.setStatus(text);
        held_[lane].clear();
    }

    std::mutex mutex_;
    std::condition_variable allEnded_;
    StatusSink& out_;
    std::vector<Result> results_;
    std::vector<std::deque<QString>> held_;
    std::vector<QString> lastErrors_; // each lane's latest "Error:" text, without the prefix
    std::vector<bool> ended_;
    std::size_t front_ = 0;
    bool released_ = false;
};

namespace {

// The sink a target keeps for its life; routed to the delivery it serves.
class LaneSink final : public StatusSink {
  public:
    void route(TargetPool::Delivery* to, std::size_t lane) {
        std::lock_guard lock(mutex_);
        to_ = to;
        lane_ = lane;
        lastError_.clear();
    }
    void setStatus(const QString& text) override {
        std::lock_guard lock(mutex_);
        if (text.startsWith(QLatin1String("Error:")))
            lastError_ = text.mid(6);
        if (to_)
            to_->post(lane_, text);
    }
    void beep() override {
        std::lock_guard lock(mutex_);
        if (to_)
            to_->beep();
    }
    QString lastError() {
        std::lock_guard lock(mutex_);
        return lastError_;
    }

  private:
    std::mutex mutex_;
    TargetPool::Delivery* to_ = nullptr;
    std::size_t lane_ = 0;
    QString lastError_;
};

QString entryIdentity(const ServerEntry& e) {
    return QStringList{e.address,
                       QString::number(e.port),
                       e.login,
                       e.password,
                       e.directory,
                       e.passive ? "1" : "0",
                       e.atomic ? "1" : "0",
                       e.pinnedKey,
                       e.keyFile}
        .join(QChar(0));
}

QString placeOf(const ServerEntry& e) {
    QString folder = e.directory;
    while (folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return e.address.trimmed().toLower() + QChar(0) + QString::number(e.port) + QChar(0) + folder;
}

} // namespace

struct TargetPool::Slot {
    QString identity;
    QString refusal; // why there is no target
    LaneSink sink;
    std::unique_ptr<UploadTarget> target; // after sink: it writes to it until destroyed
    std::atomic<bool> busy{false};
    // A transfer that outlived its job and then failed: the server is left alone until then.
    std::chrono::steady_clock::time_point restUntil{};
    bool saidSkipped = false; // the skip was said since the target was last contacted
};

TargetPool::TargetPool() = default;

TargetPool::~TargetPool() {
    shutDown();
}

void TargetPool::stop() {
    std::lock_guard lock(slotsMutex_);
    ++stops_;
    for (auto& [number, slot] : slots_) {
        slot->restUntil = {}; // stopped by hand: the next job tries again
        if (slot->busy && slot->target)
            slot->target->stop();
    }
}

bool TargetPool::waitForIdle(std::chrono::milliseconds bound) {
    std::unique_lock lock(slotsMutex_);
    return idle_.wait_for(lock, bound, [this] {
        return std::none_of(places_.begin(), places_.end(),
                            [](const auto& place) { return place.second.busy; });
    });
}

void TargetPool::shutDown() {
    stop();
    std::vector<std::thread> workers;
    {
        std::lock_guard deliverLock(deliverMutex_);
        std::lock_guard lock(slotsMutex_);
        closed_ = true;
        for (auto& [place, served] : places_)
            if (served.worker.joinable())
                workers.push_back(std::move(served.worker));
    }
    for (std::thread& worker : workers)
        worker.join();
}

std::vector<TargetPool::Result> TargetPool::deliver(const std::vector<ServerEntry>& entries,
                                                    const QByteArray& bytes, const QString& remoteName,
                                                    StatusSink& status, const TransferLimits& limits,
                                                    const std::function<bool()>& cancelled,
                                                    std::optional<std::chrono::milliseconds> wait) {
    const unsigned seenStops = stops_;
    // A stop of the pool reaches a target also when it comes just as its delivery begins.
    const auto d =
        std::make_shared<Delivery>(status, entries, bytes, remoteName, [this, seenStops, cancelled] {
            return stops_ != seenStops || (cancelled && cancelled());
        });
    // Workers that ended are joined once no lock is held: a join never waits under one.
    std::vector<std::thread> ended;
    {
        // Held while the workers are handed their lanes, never across a transfer or a join.
        std::lock_guard deliverLock(deliverMutex_);
        std::lock_guard lock(slotsMutex_);
        startWorkers(*d, d, entries, limits, ended);
    }
    for (std::thread& worker : ended)
        worker.join(); // not busy: it has ended or is just returning
    return d->wait(wait);
}

void TargetPool::startWorkers(Delivery& d, const std::shared_ptr<Delivery>& shared,
                              const std::vector<ServerEntry>& entries, const TransferLimits& limits,
                              std::vector<std::thread>& ended) {
    const auto now = std::chrono::steady_clock::now();
    const auto skip = [&d](std::size_t i, Slot* slot, const QString& text, const QString& reason) {
        // Said once while the target is left alone, not at every job.
        if (!slot || !slot->saidSkipped)
            d.post(i, QStringLiteral("Skipped ") + ShownAddress(d.entries[i].address) + QStringLiteral(": ") +
                          text);
        if (slot)
            slot->saidSkipped = true;
        d.end(i, {{}, reason});
    };
    // Entries that name the same folder of the same server would write the same files: they take turns.
    std::map<QString, std::vector<std::size_t>> turns;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ServerEntry& entry = entries[i];
        // Entries read from the store by number; one that is not (number 0) gets a slot of its own.
        const std::int64_t key = entry.number > 0 ? entry.number : -std::int64_t(i) - 1;
        const auto known = slots_.find(key);
        Slot* const existing = known == slots_.end() ? nullptr : known->second.get();
        const QString place = placeOf(entry);
        const auto served = places_.find(place);
        // A folder still being sent an earlier image gets no second transfer (nor, while its target
        // is at work, does an entry that was edited or moved to another folder meanwhile).
        if (closed_ || (existing && existing->busy) || (served != places_.end() && served->second.busy)) {
            skip(i, existing, QStringLiteral("still sending an earlier image"),
                 closed_ ? QStringLiteral("Stopped") : QStringLiteral("Still sending an earlier image"));
            continue;
        }
        if (existing && existing->identity == entryIdentity(entry) && now < existing->restUntil) {
            const QString until =
                QDateTime::currentDateTime()
                    .addMSecs(std::chrono::duration_cast<std::chrono::milliseconds>(existing->restUntil - now)
                                  .count())
                    .toString(QStringLiteral("HH:mm:ss"));
            skip(i, existing, QStringLiteral("it timed out; trying again at ") + until,
                 QStringLiteral("Timed out; left alone until ") + until);
            continue;
        }
        std::unique_ptr<Slot>& slot = slots_[key];
        if (!slot || slot->identity != entryIdentity(entry)) {
            slot = std::make_unique<Slot>();
            slot->identity = entryIdentity(entry);
            slot->target = MakeUploadTarget(entry, slot->sink, slot->refusal);
        }
        if (!slot->target) {
            d.post(i, QStringLiteral("Error:") + slot->refusal);
            d.end(i, {{}, slot->refusal});
            continue;
        }
        slot->sink.route(&d, i);
        slot->target->setLimits(limits);
        slot->busy = true;
        slot->saidSkipped = false;
        d.lanes[i] = slot.get();
        turns[place].push_back(i);
    }
    const auto serve = [this](Delivery& job, std::size_t i) {
        Slot& slot = *job.lanes[i];
        Result result;
        const auto began = std::chrono::steady_clock::now();
        if (job.cancelled()) {
            // Waiting for its turn when the stop came: not contacted at all.
            result.reason = QStringLiteral("Stopped");
        } else {
            result.upload = slot.target->deliver(job.bytes, job.remoteName, job.cancelled);
            if (!result.upload.uploaded) {
                result.reason = slot.sink.lastError();
                if (result.reason.isEmpty())
                    result.reason = QStringLiteral("Not delivered");
            } else if (!result.upload.folderChanged) {
                result.reason =
                    QStringLiteral("Delivered to the login folder, not to ") + job.entries[i].directory;
            }
            // Held past its job's wait and failed all the same: the following jobs leave it alone for
            // as long again, rather than wait for it anew.
            const auto finished = std::chrono::steady_clock::now();
            result.took = finished - began;
            if (!result.upload.uploaded && job.released() && !job.cancelled()) {
                std::lock_guard guard(slotsMutex_);
                slot.restUntil = finished + (finished - began);
            }
        }
        slot.sink.route(nullptr, 0);
        slot.busy = false;
        job.end(i, std::move(result));
    };
    for (auto& [place, lanes] : turns) {
        Place& served = places_[place];
        if (served.worker.joinable())
            ended.push_back(std::move(served.worker));
        served.busy = true;
        served.worker = std::thread([this, shared, serve, lanes = std::move(lanes), &served] {
            for (const std::size_t i : lanes)
                serve(*shared, i);
            std::lock_guard guard(slotsMutex_);
            served.busy = false;
            idle_.notify_all();
        });
    }
}

} // namespace zantrel
