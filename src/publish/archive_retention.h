#pragma once

#include <QDateTime>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace zantrel {

// The date and time an archive copy's name encodes (DDMMYYYYhhmmss.JPG), as the number
// YYYYMMDDhhmmss, which orders copies by age; nothing for any other name.
std::optional<std::int64_t> ArchiveNameTime(const QString& fileName);

// The files the archive's limits count and delete, with the age each has as YYYYMMDDhhmmss: the
// archive copies, and the daily videos DDMMYYYY.mp4, which count as the last moment of their day (kept
// as long as that day's last copies are). Nothing for any other name. Every limit goes by this one rule.
std::optional<std::int64_t> RetainedFileTime(const QString& fileName);

// Keeps the archive folder within its limits: after each archive copy, the oldest copies beyond the
// age limit or the size budget are deleted. Only archive copies are counted or ever deleted; the copy
// just written is always kept. The folder is read once and then followed copy by copy, so the cost of
// a job does not grow with the folder. It is read again when the folder changes, when a copy turns
// out to have been removed by someone else, and once a day (copies added by others).
class ArchiveRetention {
  public:
    struct Entry {
        QString name; // file name without folder
        std::int64_t size = 0;
    };
    // Lists the regular files of a folder with their sizes: the one place the folder is read.
    using Lister = std::function<std::vector<Entry>(const QString& folder)>;
    struct Limits {
        int keepDays = 0;           // 0: no age limit
        std::int64_t keepBytes = 0; // 0: no size budget
    };

    explicit ArchiveRetention(Lister lister = listFolder);

    // The copy at path was just written; deletes what the limits no longer allow, measured at now.
    // Returns the names deleted.
    std::vector<QString> afterCopy(const QString& path, const Limits& limits, const QDateTime& now);

    static std::vector<Entry> listFolder(const QString& folder);

  private:
    void scan(const QString& folder);
    using Copies = std::map<std::pair<std::int64_t, QString>, std::int64_t>; // (age, name) -> size
    void note(std::int64_t time, const QString& name, std::int64_t size);
    void forget(Copies::iterator copy);

    std::mutex mutex_;
    Lister lister_;
    QString folder_; // the folder followed; empty before the first copy
    std::chrono::steady_clock::time_point scannedAt_;
    Copies copies_;
    std::int64_t totalBytes_ = 0;
    bool rescanNeeded_ = false;
};

// The program's retention, with the limits IMAGE/KEEPDAYS and IMAGE/KEEPMB read now. Call after each
// archive copy written.
void KeepArchiveWithinLimits(const QString& archivePath, const QDateTime& now);

} // namespace zantrel
