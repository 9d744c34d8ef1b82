#pragma once

#include <QString>

namespace zantrel {

// Where progress and error texts of long operations go: the main window's status line in the program,
// standard output with --once, a recorder in tests. Implementations must accept calls from any thread.
class StatusSink {
  public:
    virtual ~StatusSink() = default;
    virtual void setStatus(const QString& text) = 0;
    // An audible signal at connect, upload and hang-up events (when the settings ask for it).
    virtual void beep() {}
};

// Messages that need the user's confirmation (the JPEG writer's and the capture driver's errors).
// showMessage returns once the user has confirmed; callable from any thread.
enum class MessageIcon { Information, Exclamation, Critical };

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void showMessage(const QString& text) = 0;
    // With the icon the box shows; sinks that show no icon can ignore it.
    virtual void showMessage(const QString& text, MessageIcon) { showMessage(text); }
};

// Drops everything: for callers that have nobody to tell.
class NullStatusSink final : public StatusSink {
  public:
    void setStatus(const QString&) override {}
};

} // namespace zantrel
