#pragma once

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

  private:
    QTemporaryDir dir_;
    QString previousCwd_;
};

} // namespace zantrel::test
