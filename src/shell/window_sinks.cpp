#include "shell/window_sinks.h"

#include "core/version.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <utility>

namespace zantrel {

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
    return icon == MessageIcon::Critical      ? QMessageBox::Critical
           : icon == MessageIcon::Information ? QMessageBox::Information
                                              : QMessageBox::Warning;
}

// Shows a box once its window has come on screen: a box opened for a window that is still being set
// up (a camera failing while the main window loads) would otherwise end up behind it.
class ShowWhenWindowShows final : public QObject {
  public:
    ShowWhenWindowShows(QWidget* window, QWidget* box) : QObject(box), box_(box) {
        window->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            watched->removeEventFilter(this);
            // After the window's own show has run through, so the box is stacked above it.
            QMetaObject::invokeMethod(box_, &QWidget::show, Qt::QueuedConnection);
            deleteLater();
        }
        return false;
    }

  private:
    QWidget* box_;
};

} // namespace

LabelStatusSink::LabelStatusSink(QLabel* label) : label_(label) {}

LabelStatusSink::LabelStatusSink(std::function<void(const QString& line)> show) : show_(std::move(show)) {}

void LabelStatusSink::setStatus(const QString& text) {
    QMetaObject::invokeMethod(this, [this, line = OneLine(text)] {
        if (show_)
            show_(line);
        else if (label_)
            label_->setText(line);
    });
}

void LabelStatusSink::beep() {
    QMetaObject::invokeMethod(qApp, [] { QApplication::beep(); });
}

WindowMessageSink::WindowMessageSink(QWidget* parent, StatusSink& status)
    : parent_(parent), status_(status) {}

WindowMessageSink::~WindowMessageSink() {
    // Each box's end erases its entry: take the map first.
    for (auto& [text, shown] : std::exchange(shown_, {}))
        delete shown.box.data();
}

void WindowMessageSink::showMessage(const QString& text) {
    showMessage(text, MessageIcon::Exclamation);
}

void WindowMessageSink::showMessage(const QString& text, MessageIcon icon) {
    // Queued from other threads, direct on the UI thread.
    QMetaObject::invokeMethod(this, [this, text, icon] { showWithoutWaiting(text, icon); });
}

void WindowMessageSink::showWithoutWaiting(const QString& text, MessageIcon icon) {
    auto it = shown_.find(text);
    if (it != shown_.end() && it->second.box) {
        const int repeats = ++it->second.repeats;
        status_.setStatus(repeats == 1 ? QStringLiteral("%1 (repeated once)").arg(text)
                                       : QStringLiteral("%1 (repeated %2 times)").arg(text).arg(repeats));
        return;
    }
    auto* box = new QMessageBox(boxIcon(icon), applicationTitle(), text, QMessageBox::Ok, parent_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    connect(box, &QObject::destroyed, this, [this, text] { shown_.erase(text); });
    shown_[text] = Shown{box, 0};
    // A window hidden after it was shown (in the tray) gets its box at once, as before.
    QWidget* window = parent_ ? parent_->window() : nullptr;
    if (window && !window->isVisible() && !window->testAttribute(Qt::WA_WState_ExplicitShowHide))
        new ShowWhenWindowShows(window, box); // owned by the box
    else
        box->show();
}

} // namespace zantrel
