#pragma once

#include "core/sinks.h"

#include <QStringList>
#include <mutex>

namespace zantrel::test {

// A status sink that keeps everything it is told, in order, from any thread.
// events() holds the texts with "<beep>" entries where beeps came.
class StatusRecorder final : public StatusSink {
  public:
    static inline const QString kBeep = QStringLiteral("<beep>");

    void setStatus(const QString& text) override;
    void beep() override;

    QStringList texts() const;  // the texts alone
    QStringList events() const; // texts and beeps
    int beeps() const;
    QString last() const;
    void clear();

  private:
    mutable std::mutex mutex_;
    QStringList events_;
};

} // namespace zantrel::test
