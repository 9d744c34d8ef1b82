#include "ftp/server_upload.h"

#include "ftp/ftp_client.h"

#include <curl/curl.h>

namespace zantrel {

namespace {

constexpr int kTries = 3;

// Failures that end quickly and may well not happen again; timeouts are not among them, so a hung
// server costs a job no more than its limits.
bool worthRetrying(int code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return true;
    default:
        return false;
    }
}

struct Attempt {
    ServerUploadResult result;
    int failure = 0; // libcurl code of the first failed step
};

Attempt attemptOnce(FtpClient& ftp, StatusSink& status, const FtpServerEntry& server, const QByteArray& image,
                    const QString& remoteName) {
    Attempt a;
    const auto note = [&] {
        if (!a.failure)
            a.failure = ftp.lastError();
    };
    if (!ftp.FtpConnect(server))
        note();
    if (!server.directory.isEmpty() && !ftp.FtpSetCurrentDirectory(server.directory)) {
        a.result.folderChanged = false;
        note();
    }
    const QString serverKey =
        server.address + QLatin1Char(':') + QString::number(server.port) + QLatin1Char(':') + server.login;
    if (!server.atomic || ftp.renamesRefused(serverKey)) {
        a.result.uploaded = ftp.uploadBytes(image, remoteName);
    } else {
        const QString part = remoteName + QStringLiteral(".part");
        if (ftp.sendBytes(image, part)) {
            const bool placed = ftp.renameFile(part, remoteName) ||
                                (ftp.deleteFile(remoteName) && ftp.renameFile(part, remoteName));
            if (placed) {
                status.setStatus(QStringLiteral("File Transfered."));
                a.result.uploaded = true;
            } else {
                ftp.markRenamesRefused(serverKey);
                status.setStatus(
                    QStringLiteral("The server refuses renames: uploading directly from now on"));
                ftp.deleteFile(part);
                a.result.uploaded = ftp.uploadBytes(image, remoteName);
            }
        } else {
            note();
            if (ftp.isConnected())
                ftp.deleteFile(part); // the previous picture under the final name stays untouched
        }
    }
    if (!a.result.uploaded)
        note();
    ftp.FtpDisconnect();
    return a;
}

} // namespace

ServerUploadResult UploadToServer(FtpClient& ftp, StatusSink& status, const FtpServerEntry& server,
                                  const QByteArray& image, const QString& remoteName,
                                  const std::function<bool()>& cancelled) {
    const unsigned stops = ftp.stops();
    const FtpLimits limits = ftp.limits();
    Attempt a;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (attempt > 0) {
            status.setStatus(QStringLiteral("Retrying... ") + server.address.simplified());
            if (ftp.waitForStop(limits.retryPauses[attempt - 1], stops) || (cancelled && cancelled()))
                break;
        }
        a = attemptOnce(ftp, status, server, image, remoteName);
        const bool stopped = ftp.stops() != stops || (cancelled && cancelled());
        if (a.result.uploaded || stopped || !worthRetrying(a.failure))
            break;
    }
    return a.result;
}

} // namespace zantrel
