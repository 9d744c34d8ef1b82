#pragma once

#include "core/sinks.h"

#include <QStringList>
#include <mutex>

namespace zantrel::test {

// Records status texts and beeps from any thread, in order.
class StatusRecorder : public StatusSink {
public:
    void setStatus(const QString& text) override
    {
        std::lock_guard lock(mutex_);
        texts_ << text;
    }
    void beep() override
    {
        std::lock_guard lock(mutex_);
        ++beeps_;
    }
    QStringList texts() const
    {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    QString last() const
    {
        std::lock_guard lock(mutex_);
        return texts_.isEmpty() ? QString() : texts_.last();
    }
    int beeps() const
    {
        std::lock_guard lock(mutex_);
        return beeps_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        texts_.clear();
        beeps_ = 0;
    }

private:
    mutable std::mutex mutex_;
    QStringList texts_;
    int beeps_ = 0;
};

} // namespace zantrel::test
