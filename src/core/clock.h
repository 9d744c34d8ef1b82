#pragma once

#include <QDateTime>
#include <mutex>

namespace zantrel {

// The local clock. The program reads the time only through clock(), so tests can set it.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
  public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// A clock that stands still until told otherwise; thread-safe.
class ManualClock final : public Clock {
  public:
    explicit ManualClock(QDateTime start) : now_(std::move(start)) {}
    QDateTime now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    void set(const QDateTime& t) {
        std::lock_guard lock(mutex_);
        now_ = t;
    }
    void advance(qint64 msecs) {
        std::lock_guard lock(mutex_);
        now_ = now_.addMSecs(msecs);
    }

  private:
    mutable std::mutex mutex_;
    QDateTime now_;
};

// The clock the program reads; the system clock unless replaced.
const Clock& clock();

// Replaces the program's clock for the lifetime of this object (tests).
class ScopedClock {
  public:
    explicit ScopedClock(const Clock& replacement);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

  private:
    const Clock* previous_;
};

} // namespace zantrel
