#pragma once

#include "core/sinks.h"

#include <QList>
#include <QStringList>
#include <mutex>
#include <utility>

namespace zantrel::test {

// A message sink that keeps every message and its icon, in order, from any thread, and returns at once.
class MessageRecorder final : public MessageSink {
  public:
    void showMessage(const QString& text) override { showMessage(text, MessageIcon::Exclamation); }
    void showMessage(const QString& text, MessageIcon icon) override {
        std::lock_guard lock(mutex_);
        texts_ << text;
        icons_ << icon;
    }
    QStringList texts() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    QList<MessageIcon> icons() const {
        std::lock_guard lock(mutex_);
        return icons_;
    }
    // The messages so far; the recorder starts afresh.
    QStringList taken() {
        std::lock_guard lock(mutex_);
        icons_.clear();
        return std::exchange(texts_, {});
    }

  private:
    mutable std::mutex mutex_;
    QStringList texts_;
    QList<MessageIcon> icons_;
};

} // namespace zantrel::test
