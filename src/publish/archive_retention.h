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
// age limit or the size budget, or while the file system has less free than its floor, are deleted.
// Before a copy is written, the oldest are deleted until the copy fits above that floor. Only archive
// copies are counted or ever deleted, and only as regular files of this user's, never through a link; the
// newest (the copy just written) is always kept, and one job deletes at most kMaxDeletions, so a large
// backlog is worked off over several jobs. The folder is read once and then followed copy by copy, so the
// cost of a job does not grow with the folder. It is read again when the folder changes, when a copy turns
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
        int keepDays = 0;               // 0: no age limit
        std::int64_t keepBytes = 0;     // 0: no size budget
        std::int64_t keepFreeBytes = 0; // 0: no floor for the file system's free space
    };
    static constexpr int kMaxDeletions = 500;
    // Bytes the folder's file system has free for this program; nothing when it cannot be asked.
    using FreeSpace = std::function<std::optional<std::int64_t>(const QString& folder)>;

    explicit ArchiveRetention(Lister lister = listFolder, FreeSpace freeSpace = freeBytes);

    // A copy of about size bytes is to be written at path: deletes the oldest copies until it fits
    // above the free-space floor, but none when deleting all this job may would not make room.
    struct Room {
        bool fits = true; // false: the copy is not to be written
        int deleted = 0;
        QString why; // when it does not fit: free space, what was wanted and what was deleted
    };
    Room roomFor(const QString& path, std::int64_t size, std::int64_t keepFreeBytes);

    // The copy at path was just written; deletes what the limits no longer allow, measured at now.
    // Returns the names deleted.
    std::vector<QString> afterCopy(const QString& path, const Limits& limits, const QDateTime& now);

    // The folder's archive files that are regular files owned by this user (links are never followed).
    static std::vector<Entry> listFolder(const QString& folder);
    // A regular file of this user's at folder/name, not through a link: its size, and the bytes its
    // deletion frees (none for a file with more names). Nothing for anything else.
    struct OwnFile {
        std::int64_t size = 0;
        std::int64_t freed = 0;
    };
    static std::optional<OwnFile> ownFile(const QString& folder, const QString& name);
    static std::optional<std::int64_t> freeBytes(const QString& folder);

  private:
    // The folder's copies, read afresh when it is not the one followed or is due for reading.
    void follow(const QString& folder);
    // Deletes the oldest copies, except keep, while tooMuch(age) holds, at most kMaxDeletions.
    std::vector<QString> deleteOldest(const QString& keep, const std::function<bool(std::int64_t)>& tooMuch);
    void scan(const QString& folder);
    // What deleting the copies deleteOldest may delete (all but keep and the newest) would free.
    std::int64_t freeableBytes(const QString& keep) const;
    using Copies = std::map<std::pair<std::int64_t, QString>, std::int64_t>; // (age, name) -> size
    void note(std::int64_t time, const QString& name, std::int64_t size);
    void forget(Copies::iterator copy);

    std::mutex mutex_;
    Lister lister_;
    FreeSpace freeSpace_;
    QString folder_; // the folder followed; empty before the first copy
    std::chrono::steady_clock::time_point scannedAt_;
    Copies copies_;
    std::int64_t totalBytes_ = 0;
    bool rescanNeeded_ = false;
};

// The program's retention, with the limits IMAGE/KEEPDAYS, IMAGE/KEEPMB and IMAGE/KEEPFREEMB read now.
// Call after each archive copy written.
void KeepArchiveWithinLimits(const QString& archivePath, const QDateTime& now);
// Before an archive copy of size bytes is written: true when it fits above IMAGE/KEEPFREEMB; why tells
// otherwise what was found and done.
bool MakeRoomForArchiveCopy(const QString& archivePath, std::int64_t size, QString* why = nullptr);

} // namespace zantrel
