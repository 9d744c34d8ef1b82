#include "core/log_line.h"

#include "core/sinks.h"

#include <cstdio>
#include <mutex>
#include <sys/stat.h>

namespace zantrel {

namespace {

// One line of plain text, with the priority first for the journal.
QByteArray logLineBytes(LogPriority priority, const QString& text, bool journal) {
    QByteArray line;
    if (journal)
        line = '<' + QByteArray::number(static_cast<int>(priority)) + '>';
    return line + OneLine(text).toLocal8Bit() + '\n';
}

// Whether the stream is the one JOURNAL_STREAM ("device:inode") names.
bool streamGoesToJournal(std::FILE* stream) {
    const QByteArray named = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = named.indexOf(':');
    struct stat st {};
    if (colon <= 0 || ::fstat(fileno(stream), &st) != 0)
        return false;
    bool deviceOk = false, inodeOk = false;
    const qulonglong device = named.left(colon).toULongLong(&deviceOk);
    const qulonglong inode = named.mid(colon + 1).toULongLong(&inodeOk);
    return deviceOk && inodeOk && device == st.st_dev && inode == st.st_ino;
}

} // namespace

void LogLine(LogPriority priority, const QString& text) {
    // Where each stream goes is settled at the first line: the service manager hands them over at start.
    static const bool outToJournal = streamGoesToJournal(stdout);
    static const bool errToJournal = streamGoesToJournal(stderr);
    static std::mutex mutex;
    const bool out = priority == LogPriority::Info;
    const QByteArray line = logLineBytes(priority, text, out ? outToJournal : errToJournal);
    std::lock_guard lock(mutex);
    std::FILE* stream = out ? stdout : stderr;
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stream);
    std::fflush(stream);
}

} // namespace zantrel
