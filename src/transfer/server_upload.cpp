#include "transfer/server_upload.h"

#include "core/setting_keys.h"
#include "transfer/ftp_client.h"
#include "transfer/server_address.h"

#include <curl/curl.h>

namespace zantrel {

namespace {

constexpr int kTries = 3;

struct Attempt {
    ServerUploadResult result;
    int failure = 0; // libcurl code of the first failed step
};

enum class Placed { Yes, RenamesRefused, Failed };

// Puts the uploaded part under the final name. A server that will not rename over a file gets the live
// picture moved aside first and deleted only once the new one is in its place; when even that rename
// is refused, the server refuses renames altogether and the live picture stays as it was.
Placed place(FtpClient& ftp, const QString& part, const QString& name) {
    const auto refused = [&] { return ftp.isConnected() && ftp.lastError() == CURLE_QUOTE_ERROR; };
    if (ftp.renameFile(part, name))
        return Placed::Yes;
    if (!refused())
        return Placed::Failed;
    const QString aside = name + QStringLiteral(".old");
    ftp.deleteFile(aside); // left behind by a run that was cut short
    if (!ftp.renameFile(name, aside))
        return refused() ? Placed::RenamesRefused : Placed::Failed;
    if (ftp.renameFile(part, name)) {
        ftp.deleteFile(aside);
        return Placed::Yes;
    }
    const bool wasRefused = refused();
    ftp.renameFile(aside, name); // the live picture back under its name
    return wasRefused ? Placed::RenamesRefused : Placed::Failed;
}

// Renames refused by this server: remembered for the program's run, and in the store for its entry.
bool renamesRefused(const FtpClient& ftp, const ServerEntry& server) {
    return ftp.renamesRefused(ServerIdentity(server)) || StoredRenamesRefused(server);
}

void rememberRenamesRefused(FtpClient& ftp, const ServerEntry& server) {
    ftp.markRenamesRefused(ServerIdentity(server));
    StoreRenamesRefused(server);
}

} // namespace

QString ServerIdentity(const ServerEntry& server) {
    return server.address + QLatin1Char(':') + QString::number(server.port) + QLatin1Char(':') + server.login;
}

bool StoredRenamesRefused(const ServerEntry& server) {
    return server.number > 0 &&
           GetSetting(QString::fromLatin1(keys::FtpEntryNoRename.section),
                      serverEntryKey(keys::FtpEntryNoRename, server.number)) == ServerIdentity(server);
}

void StoreRenamesRefused(const ServerEntry& server) {
    if (server.number > 0)
        SaveSetting(QString::fromLatin1(keys::FtpEntryNoRename.section),
                    serverEntryKey(keys::FtpEntryNoRename, server.number), ServerIdentity(server));
}

namespace {

Attempt attemptOnce(FtpClient& ftp, StatusSink& status, const ServerEntry& server, const QByteArray& image,
                    const QString& remoteName, const std::function<bool()>& cancelled) {
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
        // The login folder is not where the picture belongs (often not the web root): nothing goes there.
        if (ftp.isConnected()) {
            ftp.FtpDisconnect();
            return a;
        }
    }
    if (!server.atomic || renamesRefused(ftp, server)) {
        a.result.uploaded = ftp.uploadBytes(image, remoteName);
    } else {
        const QString part = remoteName + QStringLiteral(".part");
        // Not when the upload never began, nor when the program is closing: that waits on no server.
        const bool began = ftp.isConnected();
        const auto leaveNoPart = [&] {
            if (began && !(cancelled && cancelled()))
                ftp.deleteLeftover(server, part);
        };
        if (ftp.sendBytes(image, part)) {
            switch (place(ftp, part, remoteName)) {
            case Placed::Yes:
                status.setStatus(QStringLiteral("File Transfered."));
                a.result.uploaded = true;
                break;
            case Placed::RenamesRefused:
                rememberRenamesRefused(ftp, server);
                status.setStatus(
                    QStringLiteral("The server refuses renames: uploading directly from now on"));
                ftp.deleteFile(part);
                a.result.uploaded = ftp.uploadBytes(image, remoteName);
                break;
            case Placed::Failed:
                note();
                leaveNoPart();
                break;
            }
        } else {
            note();
            leaveNoPart(); // the previous picture under the final name stays untouched
        }
    }
    if (!a.result.uploaded)
        note();
    ftp.FtpDisconnect();
    return a;
}

} // namespace

// Failures that end quickly and may well not happen again; timeouts are not among them, so a hung
// server costs a job no more than its limits.
bool WorthRetrying(int curlCode) {
    switch (curlCode) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_SSH: // a dropped SFTP connection: libssh2 reports any broken session so
        return true;
    default:
        return false;
    }
}

ServerUploadResult UploadToServer(FtpClient& ftp, StatusSink& status, const ServerEntry& server,
                                  const QByteArray& image, const QString& remoteName,
                                  const std::function<bool()>& cancelled) {
    const unsigned stops = ftp.stops();
    const TransferLimits limits = ftp.limits();
    Attempt a;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (attempt > 0) {
            status.setStatus(QStringLiteral("Retrying... ") + ShownAddress(server.address));
            if (ftp.waitForStop(limits.retryPauses[attempt - 1], stops) || (cancelled && cancelled()))
                break;
        }
        a = attemptOnce(ftp, status, server, image, remoteName, cancelled);
        const bool stopped = ftp.stops() != stops || (cancelled && cancelled());
        if (a.result.uploaded || stopped || !WorthRetrying(a.failure))
            break;
    }
    return a.result;
}

} // namespace zantrel
