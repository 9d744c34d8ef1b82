#pragma once

#include "core/sinks.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>

class QLabel;
class QMessageBox;
class QWidget;

namespace zantrel {

// Status texts for the main window's status line. Calls from other threads are queued to this object,
// which lives on the UI thread, in the order they were made; only the UI thread looks at the label, so
// the label may go before the sink. Create it on the UI thread and keep it until every job has ended.
class LabelStatusSink final : public QObject, public StatusSink {
    Q_OBJECT
  public:
    explicit LabelStatusSink(QLabel* label);
    // The texts go to show instead, on the UI thread; the object show works on must outlive the sink.
    explicit LabelStatusSink(std::function<void(const QString& line)> show);
    void setStatus(const QString& text) override;
    void beep() override;

  private:
    QPointer<QLabel> label_;
    std::function<void(const QString&)> show_;
};

// Message boxes on a window, captioned with the program's title. Never modal and never waited for,
// from any thread: a camera that fails at start-up must not hold up the automatic run, nor a failed
// write the job. One box per distinct text while it is on screen; a text that comes again meanwhile is
// counted in the status line instead, so an unattended machine does not pile up boxes.
class WindowMessageSink final : public QObject, public MessageSink {
    Q_OBJECT
  public:
    WindowMessageSink(QWidget* parent, StatusSink& status);
    ~WindowMessageSink() override;
    void showMessage(const QString& text) override;
    void showMessage(const QString& text, MessageIcon icon) override;

  private:
    void showWithoutWaiting(const QString& text, MessageIcon icon);

    struct Shown {
        QPointer<QMessageBox> box;
        int repeats = 0;
    };
    QPointer<QWidget> parent_;
    StatusSink& status_;
    std::map<QString, Shown> shown_; // UI thread only
};

} // namespace zantrel
