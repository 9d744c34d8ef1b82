#include "support/temp_store.h"

#include "core/store.h"

#include <QDir>

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

} // namespace zantrel::test
