#pragma once

#include "core/sinks.h"

#include <mutex>

namespace zantrel {

// Status texts as lines of the log, for running without a window (--once, --headless): progress on
// standard output, failures ("Error:...", a lost camera) as errors and warnings on standard error (see
// LogLine). Each text is one line, written whole and flushed at once, whichever thread sets it. With
// skipRepeats a text equal to the one before it is not printed again (the countdown repeats itself twice a
// second).
class StdoutStatusSink final : public StatusSink {
  public:
    explicit StdoutStatusSink(bool skipRepeats = false) : skipRepeats_(skipRepeats) {}
    void setStatus(const QString& text) override;

  private:
    bool skipRepeats_;
    std::mutex mutex_;
    QString last_;
};

// Messages as lines of the log, errors and warnings by their icon (a warning without one); the job goes
// on at once.
class StderrMessageSink final : public MessageSink {
  public:
    void showMessage(const QString& text) override;
    void showMessage(const QString& text, MessageIcon icon) override;
};

} // namespace zantrel
