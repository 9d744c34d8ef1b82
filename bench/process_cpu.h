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

// The number ending the first line a child prints: a test server's "PORT n", Xvfb's display number;
// 0 when none came within 30 s.
inline int firstNumber(QProcess& process) {
    for (int i = 0; i < 150 && !process.canReadLine(); ++i)
        process.waitForReadyRead(200);
    const QByteArray line = process.readLine().trimmed();
    return line.mid(line.lastIndexOf(' ') + 1).toInt();
}

} // namespace zantrel::bench
