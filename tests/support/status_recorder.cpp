#include "support/status_recorder.h"

namespace zantrel::test {

void StatusRecorder::setStatus(const QString& text) {
    std::lock_guard lock(mutex_);
    events_.append(text);
}

void StatusRecorder::beep() {
    std::lock_guard lock(mutex_);
    events_.append(kBeep);
}

QStringList StatusRecorder::texts() const {
    std::lock_guard lock(mutex_);
    QStringList out;
    for (const QString& e : events_)
        if (e != kBeep)
            out.append(e);
    return out;
}

QStringList StatusRecorder::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

int StatusRecorder::beeps() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(events_.count(kBeep));
}

QString StatusRecorder::last() const {
    const QStringList t = texts();
    return t.isEmpty() ? QString() : t.last();
}

void StatusRecorder::clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

} // namespace zantrel::test
