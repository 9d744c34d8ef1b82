#include "publish/console_sinks.h"

#include "capture/capture_window.h"
#include "core/log_line.h"

namespace zantrel {

namespace {

LogPriority statusPriority(const QString& text) {
    if (text.startsWith(QLatin1String("Error:")) || text == QLatin1String("Cannot connect to FTP Server") ||
        text == QLatin1String("Can't change directory."))
        return LogPriority::Error;
    if (text == NoCameraText() || text.startsWith(CameraLostText({})))
        return LogPriority::Warning;
    return LogPriority::Info;
}

} // namespace

void StdoutStatusSink::setStatus(const QString& text) {
    if (skipRepeats_) {
        std::lock_guard lock(mutex_);
        if (text == last_)
            return;
        last_ = text;
    }
    LogLine(statusPriority(text), text);
}

void StderrMessageSink::showMessage(const QString& text) {
    showMessage(text, MessageIcon::Exclamation);
}

void StderrMessageSink::showMessage(const QString& text, MessageIcon icon) {
    LogLine(icon == MessageIcon::Critical      ? LogPriority::Error
            : icon == MessageIcon::Exclamation ? LogPriority::Warning
                                               : LogPriority::Info,
            text);
}

} // namespace zantrel
