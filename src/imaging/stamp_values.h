#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>

namespace zantrel {

// The most bytes read of a file or an answer named in a stamp.
inline constexpr qsizetype kStampValueBytes = 64 * 1024;

// A file named in a stamp: read only as this user's regular file, never through a link at its name,
// without waiting on a FIFO or a device, and only its first kStampValueBytes.
struct StampFileRead {
    QByteArray bytes;
    QDateTime modified;
    QString problem; // empty when read
};
StampFileRead ReadStampFile(const QString& path);

// A value fetched from an address, as the fetcher last left it.
struct FetchedValue {
    QByteArray body;
    QDateTime fetched; // when body arrived; invalid when nothing ever did
    QString problem;   // why the last fetch failed; empty when it did not
};

// Answers a stamp's live value codes for one job after another, and keeps what went wrong so that each
// trouble is said once when it starts and once when it is over. One thread at a time.
class StampValueReader {
  public:
    using FetchedLookup = std::function<std::optional<FetchedValue>(const QString& address)>;
    explicit StampValueReader(FetchedLookup fetched = {}) : fetched_(std::move(fetched)) {}

    // The text of "{kind:argument}" at `now`, or nothing (printed "--") when it cannot be read or is
    // older than maxAgeSeconds. Files are read at each call.
    std::optional<QString> value(const QString& kind, const QString& argument, const QDateTime& now,
                                 int maxAgeSeconds);
    // What to tell the user since the last call: values that went wrong (with why) and values back.
    QStringList takeNews();

  private:
    std::optional<QString> read(const QString& kind, const QString& argument, const QDateTime& now,
                                int maxAgeSeconds, QString& problem) const;

    FetchedLookup fetched_;
    std::map<QString, QString> troubled_;  // code → the trouble said
    std::map<QString, QString> thisRound_; // code → trouble ("" for none) since the last takeNews
};

// The logo file decoded once, again when the file changes, and kept scaled for the frame's height.
// Pictures claiming more pixels than the bound are refused from their header. One thread at a time.
class StampLogo {
  public:
    // The logo `percent` of frameHeight tall; null for no logo or one that cannot be used, and then
    // `problem` (when given) says why.
    QImage forFrame(const QString& path, int frameHeight, int percent, QString* problem = nullptr);

  private:
    QString path_;
    QDateTime modified_;
    qint64 size_ = -1;
    QImage decoded_, scaled_;
    QString problem_;
    int scaledHeight_ = 0;
};

} // namespace zantrel
