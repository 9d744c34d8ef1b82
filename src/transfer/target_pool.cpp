#include "transfer/target_pool.h"

#include <deque>
#include <thread>

namespace zantrel {

namespace {

// Passes the texts of several targets on, one target after another in list order.
class OrderedStatus {
  public:
    OrderedStatus(StatusSink& out, std::size_t lanes) : out_(out), held_(lanes), ended_(lanes, false) {}

    void post(std::size_t lane, const QString& text) {
        std::lock_guard lock(mutex_);
        if (lane == front_)
            out_.setStatus(text);
        else if (lane < held_.size())
            held_[lane].push_back(text);
    }
    void beep() { out_.beep(); }
    void end(std::size_t lane) {
        std::lock_guard lock(mutex_);
        ended_[lane] = true;
        while (front_ < ended_.size() && ended_[front_]) {
            if (++front_ < held_.size()) {
                for (const QString& text : held_[front_])
                    out_.setStatus(text);
                held_[front_].clear();
            }
        }
    }

  private:
    std::mutex mutex_;
    StatusSink& out_;
    std::vector<std::deque<QString>> held_;
    std::vector<bool> ended_;
    std::size_t front_ = 0;
};

// The sink a target keeps for its life; routed to the delivery it serves.
class LaneSink final : public StatusSink {
  public:
    void route(OrderedStatus* to, std::size_t lane) {
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
    OrderedStatus* to_ = nullptr;
    std::size_t lane_ = 0;
    QString lastError_;
};

QString entryIdentity(const FtpServerEntry& e) {
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

QString placeOf(const FtpServerEntry& e) {
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
};

TargetPool::TargetPool() = default;

TargetPool::~TargetPool() {
    stop();
    std::lock_guard lock(deliverMutex_);
}

void TargetPool::stop() {
    std::lock_guard lock(slotsMutex_);
    ++stops_;
    for (auto& [number, slot] : slots_)
        if (slot->busy && slot->target)
            slot->target->stop();
}

std::vector<TargetPool::Result> TargetPool::deliver(const std::vector<FtpServerEntry>& entries,
                                                    const QByteArray& bytes, const QString& remoteName,
                                                    StatusSink& status, const FtpLimits& limits,
                                                    const std::function<bool()>& cancelled) {
    std::lock_guard deliverLock(deliverMutex_);
    const unsigned seenStops = stops_;
    std::vector<Result> results(entries.size());
    OrderedStatus ordered(status, entries.size());
    std::vector<Slot*> lanes(entries.size(), nullptr);
    {
        std::lock_guard lock(slotsMutex_);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const FtpServerEntry& entry = entries[i];
            // Entries read from the store by number; one that is not (number 0) gets a slot of its own.
            const std::int64_t key = entry.number > 0 ? entry.number : -std::int64_t(i) - 1;
            std::unique_ptr<Slot>& slot = slots_[key];
            if (!slot || slot->identity != entryIdentity(entry)) {
                slot = std::make_unique<Slot>();
                slot->identity = entryIdentity(entry);
                slot->target = MakeUploadTarget(entry, slot->sink, slot->refusal);
            }
            if (!slot->target) {
                results[i].reason = slot->refusal;
                ordered.post(i, QStringLiteral("Error:") + slot->refusal);
                ordered.end(i);
                continue;
            }
            slot->sink.route(&ordered, i);
            slot->target->setLimits(limits);
            lanes[i] = slot.get();
        }
    }
    // Entries that name the same folder of the same server would write the same files: they take turns.
    std::map<QString, std::vector<std::size_t>> places;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (lanes[i])
            places[placeOf(entries[i])].push_back(i);
    const auto serve = [&](std::size_t i) {
        Slot& slot = *lanes[i];
        slot.busy = true; // before the look at stops_: a stop from now on reaches the target
        if (stops_ != seenStops || (cancelled && cancelled())) {
            // Waiting for its turn when the stop came: not contacted at all.
            results[i].reason = QStringLiteral("Stopped");
            slot.busy = false;
            ordered.end(i);
            return;
        }
        results[i].upload = slot.target->deliver(bytes, remoteName, cancelled);
        if (!results[i].upload.uploaded) {
            results[i].reason = slot.sink.lastError();
            if (results[i].reason.isEmpty())
                results[i].reason = QStringLiteral("Not delivered");
        } else if (!results[i].upload.folderChanged) {
            results[i].reason =
                QStringLiteral("Delivered to the login folder, not to ") + entries[i].directory;
        }
        slot.busy = false;
        ordered.end(i);
    };
    std::vector<std::thread> workers;
    for (const auto& [place, turns] : places)
        workers.emplace_back([&serve, &turns] {
            for (const std::size_t i : turns)
                serve(i);
        });
    for (std::thread& worker : workers)
        worker.join();
    std::lock_guard lock(slotsMutex_);
    for (Slot* slot : lanes)
        if (slot)
            slot->sink.route(nullptr, 0);
    return results;
}

} // namespace zantrel
