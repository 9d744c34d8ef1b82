#include "publish/console_sinks.h"

#include <cstdio>

namespace zantrel {

namespace {

// One whole line at a time, whichever thread writes it.
void printLine(std::FILE* stream, const QString& text) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fprintf(stream, "%s\n", OneLine(text).toLocal8Bit().constData());
    std::fflush(stream);
}

} // namespace

void StdoutStatusSink::setStatus(const QString& text) {
    if (skipRepeats_) {
        std::lock_guard lock(mutex_);
        if (text == last_)
            return;
        last_ = text;
    }
    printLine(stdout, text);
}

void StderrMessageSink::showMessage(const QString& text) {
    printLine(stderr, text);
}

} // namespace zantrel
