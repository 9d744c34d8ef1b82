#pragma once

#include "core/sinks.h"

#include <QPointer>

class QLabel;
class QWidget;

namespace zantrel {

// Status texts for the main window's status line. Calls from other threads are queued to the UI thread
// in the order they were made.
class LabelStatusSink final : public StatusSink {
  public:
    explicit LabelStatusSink(QLabel* label);
    void setStatus(const QString& text) override;
    void beep() override;

  private:
    QPointer<QLabel> label_;
};

// Modal message boxes on a window, captioned with the program's title. From another thread the call
// waits until the user has confirmed the box on the UI thread.
class WindowMessageSink final : public MessageSink {
  public:
    explicit WindowMessageSink(QWidget* parent);
    void showMessage(const QString& text) override;
    void showMessage(const QString& text, MessageIcon icon) override;

  private:
    QPointer<QWidget> parent_;
};

} // namespace zantrel
