#include "core/own_process.h"

#include <QFile>
#include <csignal>
#include <sys/prctl.h>

#if defined(__SANITIZE_ADDRESS__)
#define ZANTREL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZANTREL_SANITIZED 1
#endif
#endif

namespace zantrel {

QByteArray OwnStatusField(const char* name) {
    QFile status(QStringLiteral("/proc/self/status"));
    // The file reports no size: it is read to its end, never up to a size.
    if (!status.open(QIODevice::ReadOnly))
        return {};
    const QByteArray prefix = QByteArray(name) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed();
    return {};
}

void HardenProcess() {
    std::signal(SIGPIPE, SIG_IGN);
#ifdef ZANTREL_SANITIZED
    const bool debugging = true;
#else
    const QByteArray tracer = OwnStatusField("TracerPid");
    const bool debugging = qEnvironmentVariable("WEBCAM_ZANTREL_DEBUG") == QLatin1String("1") ||
                           (!tracer.isEmpty() && tracer != "0");
#endif
    ::prctl(PR_SET_DUMPABLE, debugging ? 1 : 0);
}

} // namespace zantrel
