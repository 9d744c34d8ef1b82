#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace zantrel::test {

// Points the program's settings store at a fresh file in a temporary folder for the lifetime of the
// object, and makes that folder the current directory (the program writes relative files there).
class TempStore {
  public:
    TempStore();
    ~TempStore();
    QString dir() const { return dir_.path(); }
    QString storePath() const;
    void set(const char* section, const QString& key, const QString& value);
    // Uploads on, FTP count `count`, entry n at ports[n-1] of 127.0.0.1 with the FTP fixtures' account,
    // in remote folder `dir`.
    void useFtpServers(const QString& count, const QList<quint16>& ports, const QString& dir = {});

  private:
    QTemporaryDir dir_;
    QString previousCwd_;
};

// A temporary home for the built program run as a process: its settings folder, current folder and
// environment (offscreen, the test camera unless `camera` is empty).
class ProgramHome {
  public:
    explicit ProgramHome(
        const QString& camera = QStringLiteral("videotestsrc ! video/x-raw,width=320,height=240"));
    QString path() const { return dir_.path(); }
    void writeSettings(const QByteArray& ini) const;
    QByteArray settings() const;
    // A process of the program, not yet started, that lives in this home.
    void prepare(QProcess& process) const;

  private:
    QTemporaryDir dir_;
    QString camera_;
};

} // namespace zantrel::test
