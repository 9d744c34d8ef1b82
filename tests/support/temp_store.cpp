#include "support/temp_store.h"

#include "core/setting_keys.h"
#include "core/store.h"

#include <QDir>
#include <QFile>

namespace zantrel::test {

TempStore::TempStore() : previousCwd_(QDir::currentPath()) {
    SettingsStore::instance().open(storePath());
    QDir::setCurrent(dir_.path());
}

TempStore::~TempStore() {
    QDir::setCurrent(previousCwd_);
    SettingsStore::instance().open(QDir(dir_.path()).filePath(QStringLiteral("closed/KALDOR.ini")));
}

QString TempStore::storePath() const {
    return QDir(dir_.path()).filePath(QStringLiteral("config/KALDOR/KALDOR.ini"));
}

void TempStore::set(const char* section, const QString& key, const QString& value) {
    SaveSetting(QString::fromLatin1(section), key, value);
}

void TempStore::useFtpServers(const QString& count, const QList<quint16>& ports, const QString& dir) {
    SaveSetting(keys::FtpUploadAtJob, QStringLiteral("1"));
    SaveSetting(keys::FtpServers, count);
    for (int n = 1; n <= ports.size(); ++n)
        for (const auto& [key, value] : {std::pair{keys::FtpEntryAddress, QStringLiteral("127.0.0.1")},
                                         {keys::FtpEntryPort, QString::number(ports[n - 1])},
                                         {keys::FtpEntryLogin, QStringLiteral("cam")},
                                         {keys::FtpEntryPassword, QStringLiteral("secret")},
                                         {keys::FtpEntryUrl, dir}})
            SaveSetting(QStringLiteral("FTP"), serverEntryKey(key, n), value);
}

} // namespace zantrel::test

namespace zantrel::test {

ProgramHome::ProgramHome(const QString& camera) : camera_(camera) {}

void ProgramHome::writeSettings(const QByteArray& ini) const {
    QDir().mkpath(dir_.filePath(QStringLiteral("KALDOR")));
    QFile f(dir_.filePath(QStringLiteral("KALDOR/KALDOR.ini")));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(ini);
}

QByteArray ProgramHome::settings() const {
    QFile f(dir_.filePath(QStringLiteral("KALDOR/KALDOR.ini")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void ProgramHome::prepare(QProcess& process) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (camera_.isEmpty())
        env.remove(QStringLiteral("WEBCAM_ZANTREL_TEST_CAMERA"));
    else
        env.insert(QStringLiteral("WEBCAM_ZANTREL_TEST_CAMERA"), camera_);
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir_.path());
    process.setProgram(QStringLiteral(ZANTREL_BINARY));
}

} // namespace zantrel::test
