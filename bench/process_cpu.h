#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QThread>
#include <unistd.h>

namespace zantrel::bench {

// CPU seconds the process has used so far (user and system).
inline double processCpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// CPU seconds the process uses in the next seconds.
inline double cpuOver(qint64 pid, int seconds) {
    const double before = processCpuSeconds(pid);
    QThread::sleep(seconds);
    return processCpuSeconds(pid) - before;
}

// A child process ended with the object.
struct Child {
    QProcess process;
    ~Child() {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill(), process.waitForFinished(2000);
        }
    }
};

} // namespace zantrel::bench
