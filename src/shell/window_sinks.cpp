#include "shell/window_sinks.h"

#include "core/version.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QThread>

namespace zantrel {

LabelStatusSink::LabelStatusSink(QLabel* label) : label_(label) {}

void LabelStatusSink::setStatus(const QString& text) {
    if (!label_)
        return;
    QMetaObject::invokeMethod(label_, [label = label_, text] {
        if (label)
            label->setText(text);
    });
}

void LabelStatusSink::beep() {
    QMetaObject::invokeMethod(qApp, [] { QApplication::beep(); });
}

WindowMessageSink::WindowMessageSink(QWidget* parent) : parent_(parent) {}

void WindowMessageSink::showMessage(const QString& text) {
    showMessage(text, MessageIcon::Exclamation);
}

void WindowMessageSink::showMessage(const QString& text, MessageIcon icon) {
    auto show = [parent = parent_, text, icon] {
        const auto boxIcon = icon == MessageIcon::Critical      ? QMessageBox::Critical
                             : icon == MessageIcon::Information ? QMessageBox::Information
                                                                : QMessageBox::Warning;
        QMessageBox box(boxIcon, applicationTitle(), text, QMessageBox::Ok, parent);
        box.exec();
    };
    if (QThread::currentThread() == qApp->thread())
        show();
    else
        QMetaObject::invokeMethod(qApp, show, Qt::BlockingQueuedConnection);
}

} // namespace zantrel
