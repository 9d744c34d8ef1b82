#include "transfer/upload_target.h"

#include "transfer/folder_target.h"
#include "transfer/ftp_target.h"
#include "transfer/http_targets.h"
#include "transfer/server_address.h"

#include <QRegularExpression>

namespace zantrel {

void UploadTarget::stop() {
    {
        std::lock_guard lock(stopMutex_);
        ++stops_;
    }
    stopSignal_.notify_all();
}

bool UploadTarget::waitForStop(std::chrono::milliseconds pause, unsigned seenStops) {
    std::unique_lock lock(stopMutex_);
    return stopSignal_.wait_for(lock, pause, [&] { return stops_.load() != seenStops; });
}

void SteppedTarget::progress(qint64 sent, bool final) {
    throttle_.offer(QStringLiteral("Transfering:%1 bytes").arg(sent), final);
}

ServerUploadResult SteppedTarget::deliver(const QByteArray& bytes, const QString& remoteName,
                                          const std::function<bool()>& cancelled) {
    constexpr int kTries = 3;
    deliveryStops_ = stops();
    cancelled_ = cancelled;
    const auto over = [&] { return stopped(); };
    ServerUploadResult result;
    for (int attempt = 0; attempt < kTries && !over(); ++attempt) {
        if (attempt > 0) {
            status_.setStatus(QStringLiteral("Retrying... ") + ShownAddress(entry_.address));
            if (waitForStop(limits().retryPauses[attempt - 1], deliveryStops_) || over())
                break;
        }
        result = {};
        bool ok = connect();
        result.folderChanged = ok;
        if (ok && (!entry_.atomic || replacesByItself() || renamesRefused_)) {
            ok = upload(bytes, remoteName);
        } else if (ok) {
            const QString part = remoteName + QStringLiteral(".part");
            ok = upload(bytes, part);
            const Replaced placed = ok ? replace(part, remoteName) : Replaced::Failed;
            if (placed == Replaced::Refused) {
                renamesRefused_ = true;
                StoreRenamesRefused(entry_);
                status_.setStatus(
                    QStringLiteral("The server refuses renames: uploading directly from now on"));
                discard(part);
                ok = upload(bytes, remoteName);
            } else if (placed == Replaced::Failed) {
                ok = false;
                if (!(cancelled_ && cancelled_()))
                    discard(part); // the previous picture under the final name stays untouched
            }
        }
        if (ok)
            status_.setStatus(QStringLiteral("File Transfered."));
        result.uploaded = ok;
        disconnect();
        if (ok || over() || !worthRetrying())
            break;
    }
    cancelled_ = {}; // it may name the caller, which need not outlive this target
    return result;
}

namespace {

using Maker = std::unique_ptr<UploadTarget> (*)(const ServerEntry&, StatusSink&);

template <class T> std::unique_ptr<UploadTarget> make(const ServerEntry& entry, StatusSink& status) {
    return std::make_unique<T>(entry, status);
}

// Every kind of target the program knows, by the scheme of its address. A new protocol adds its rows.
const struct {
    const char* scheme;
    Maker maker;
} kTargets[] = {
    {"ftp", &make<FtpTarget>},     {"ftps", &make<FtpTarget>},   {"sftp", &make<FtpTarget>},
    {"file", &make<FolderTarget>}, {"dav", &make<DavTarget>},    {"davs", &make<DavTarget>},
    {"s3", &make<S3Target>},       {"s3+http", &make<S3Target>},
};

} // namespace

QStringList KnownTargetSchemes() {
    QStringList out;
    for (const auto& t : kTargets)
        out << QString::fromLatin1(t.scheme);
    return out;
}

QString TargetScheme(const QString& address) {
    static const QRegularExpression scheme(QStringLiteral("^\\s*([A-Za-z][A-Za-z0-9+.-]*)://"));
    const QRegularExpressionMatch m = scheme.match(address);
    return m.hasMatch() ? m.captured(1).toLower() : QStringLiteral("ftp");
}

std::unique_ptr<UploadTarget> MakeUploadTarget(const ServerEntry& entry, StatusSink& status,
                                               QString& refusal) {
    const QString scheme = TargetScheme(entry.address);
    for (const auto& t : kTargets)
        if (scheme == QLatin1String(t.scheme))
            return t.maker(entry, status);
    QStringList known;
    for (const QString& s : KnownTargetSchemes())
        known << s + QStringLiteral("://");
    refusal = QStringLiteral("Unknown kind of server address %1: use %2 (or the host name alone for FTP)")
                  .arg(ShownAddress(entry.address), known.join(QStringLiteral(", ")));
    return {};
}

ServerCheckResult CheckTarget(const ServerEntry& entry) {
    NullStatusSink quiet;
    QString refusal;
    const std::unique_ptr<UploadTarget> target = MakeUploadTarget(entry, quiet, refusal);
    if (!target)
        return {false, refusal, {}};
    return target->check();
}

} // namespace zantrel
