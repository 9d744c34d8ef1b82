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

// Messages for the user (the JPEG writer's and the capture driver's errors). Callable from any thread;
// the call never waits for the user (so a job is never held up by a message).
enum class MessageIcon { Information, Exclamation, Critical };

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void showMessage(const QString& text) = 0;
    // With the icon the box shows; sinks that show no icon can ignore it.
    virtual void showMessage(const QString& text, MessageIcon) { showMessage(text); }
};

// The text as one line of plain text: every control character (line breaks, tabs, escapes, DEL, the
// C1 range and the Unicode line and paragraph separators) becomes a blank. Every sink that shows or
// prints a status passes it through this, so a text taken from a server reply, a file name or a
// hand-edited setting can neither break a line nor reach a terminal as a control sequence.
QString OneLine(const QString& text);

// Drops everything: for callers that have nobody to tell.
class NullStatusSink final : public StatusSink {
  public:
    void setStatus(const QString&) override {}
};

} // namespace zantrel
