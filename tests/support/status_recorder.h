#pragma once

#include "core/sinks.h"

#include <QStringList>
#include <mutex>

namespace zantrel::test {

// A status sink that keeps everything it is told, in order, from any thread.
class StatusRecorder final : public StatusSink {
  public:
    static inline const QString kBeep = QStringLiteral("<beep>");

    void setStatus(const QString& text) override {
        std::lock_guard lock(mutex_);
        events_.append(text);
    }
    void beep() override { setStatus(kBeep); }

    // The texts, with kBeep where beeps came.
    QStringList events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // The texts alone, and the last of them.
    QStringList texts() const {
        QStringList out = events();
        out.removeAll(kBeep);
        return out;
    }
    QString last() const { return texts().value(texts().size() - 1); }

  private:
    mutable std::mutex mutex_;
    QStringList events_;
};

} // namespace zantrel::test
