#include "secrets/background_saves.h"

#include "core/store.h"

#include <QCoreApplication>
#include <QPointer>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace zantrel {

namespace {

struct Save {
    QString name;
    std::function<void()> work;
    std::vector<std::function<void()>> thens;
};

class Saver {
  public:
    static Saver& instance() {
        static Saver saver;
        return saver;
    }
    Saver(const Saver&) = delete;
    Saver& operator=(const Saver&) = delete;

    void add(const QString& name, std::function<void()> work, std::function<void()> then) {
        {
            const std::lock_guard lock(mutex_);
            const auto same = name.isEmpty()
                                  ? queue_.end()
                                  : std::find_if(queue_.begin(), queue_.end(),
                                                 [&name](const Save& s) { return s.name == name; });
            if (same != queue_.end())
                same->work = std::move(work);
            else
                queue_.push_back({name, std::move(work), {}});
            if (then)
                (same != queue_.end() ? *same : queue_.back()).thens.push_back(std::move(then));
            if (!worker_.joinable())
                worker_ = std::thread([this] { run(); });
        }
        wake_.notify_all();
    }

    void finish() {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
    }

    ~Saver() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable())
            worker_.join(); // after the saves still waiting
    }

  private:
    Saver() = default;

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            Save next = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            next.work();
            for (const auto& then : next.thens)
                then();
            lock.lock();
            busy_ = false;
            idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<Save> queue_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread worker_;
};

} // namespace

void SaveInBackground(const QString& name, std::function<void()> save, QObject* context,
                      std::function<void()> then) {
    std::function<void()> after;
    if (context && then)
        after = [context = QPointer<QObject>(context), then = std::move(then)] {
            if (QCoreApplication* app = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    app,
                    [context, then] {
                        if (context)
                            then();
                    },
                    Qt::QueuedConnection);
        };
    Saver::instance().add(name, std::move(save), std::move(after));
}

void SavePasswordInBackground(const QString& section, const QString& key, const QString& value,
                              QObject* context, std::function<void()> then) {
    SaveInBackground(
        section + QLatin1Char('/') + key, [section, key, value] { SaveSetting(section, key, value); },
        context, std::move(then));
}

void FinishBackgroundSaves() {
    Saver::instance().finish();
}

} // namespace zantrel
