#include "transfer/server_check.h"

#include "core/curl_global.h"
#include "transfer/ftp_error_text.h"
#include "transfer/key_file.h"
#include "transfer/secure_channel.h"

#include <memory>

namespace zantrel {

namespace {

constexpr std::chrono::milliseconds kConnectLimit{15000};
constexpr long kReplyLimitSeconds = 15;

struct Listing {
    int lines = 0;
    QByteArray lastReply; // the server's last reply line
};

size_t countLines(char* data, size_t size, size_t count, void* listing) {
    static_cast<Listing*>(listing)->lines +=
        static_cast<int>(QByteArray(data, static_cast<int>(size * count)).count('\n'));
    return size * count;
}

QString oneLine(QString text) {
    for (QChar& c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    return text.simplified();
}

} // namespace

ServerCheckResult CheckServer(const ServerEntry& server) {
    ServerCheckResult result;
    const ServerAddress address = ParseServerAddress(server.address, server.port);
    const QString folder = server.directory.isEmpty() ? QStringLiteral("the login folder")
                                                      : QStringLiteral("folder ") + server.directory;
    QString error;
    const QByteArray base = BaseUrl(address, error);
    if (HasControlCharacter(server.login) || HasControlCharacter(server.password) ||
        HasControlCharacter(server.directory))
        error = QStringLiteral("The user name, password or folder holds a control character");
    if (error.isEmpty() && address.transport == Transport::Sftp && !server.keyFile.isEmpty())
        error = KeyFileUnusable(server.keyFile);
    if (!error.isEmpty() || !EnsureCurlGlobalInit()) {
        result.message = error.isEmpty() ? QStringLiteral("libcurl could not be started") : error;
        return result;
    }

    std::unique_ptr<CURL, void (*)(CURL*)> handle(curl_easy_init(), &curl_easy_cleanup);
    CURL* h = handle.get();
    if (!h) {
        result.message = QStringLiteral("libcurl could not be started");
        return result;
    }
    Listing listing;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    SecureChannel channel(address, server);
    channel.apply(h);
    bool tls13 = false;
    const QByteArray url = base + FolderPath(address.transport, server.directory);
    curl_easy_setopt(h, CURLOPT_URL, url.constData());
    AllowOnlyScheme(h, url);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_DIRLISTONLY, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &countLines);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &listing);
    NoteServerReplies(h, &listing.lastReply);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kConnectLimit.count()));
    curl_easy_setopt(h, CURLOPT_FTP_RESPONSE_TIMEOUT, kReplyLimitSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kReplyLimitSeconds);
    // FTPS lists in passive mode, as it uploads.
    if (!server.passive && address.transport == Transport::Ftp)
        curl_easy_setopt(h, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(h, CURLOPT_FTP_SKIP_PASV_IP, 1L);

    CURLcode code = curl_easy_perform(h);
    if (RefusesTls12(code, errorBuffer)) { // a server that speaks TLS 1.3 only, as the uploads find
        tls13 = true;
        channel.allowTls13();
        channel.apply(h);
        code = curl_easy_perform(h);
    }
    channel.collect(h);
    QString refusal = channel.refusal(code, kConnectLimit);
    if (refusal.isEmpty() && code == CURLE_LOGIN_DENIED && address.transport == Transport::Sftp)
        refusal = KeyFileRefusal(server.keyFile);
    result.fingerprint = channel.fingerprint();
    if (code == CURLE_OK) {
        result.ok = true;
        // Listing needs no write permission and nothing is written: writability shows at the first upload.
        result.message = QStringLiteral("Connected, %1 is listed (%2 entries)%3")
                             .arg(folder)
                             .arg(listing.lines)
                             .arg(tls13 ? QStringLiteral("; the server takes TLS 1.3 only") : QString());
        return result;
    }
    const QString reply = oneLine(QString::fromUtf8(listing.lastReply));
    const QString reason =
        refusal.isEmpty() ? oneLine(InternetErrorText(code, errorBuffer, listing.lastReply)) : refusal;
    const bool folderFailed = code == CURLE_REMOTE_ACCESS_DENIED || code == CURLE_REMOTE_FILE_NOT_FOUND;
    result.message = folderFailed ? QStringLiteral("Connected, but cannot open %1: %2").arg(folder, reason)
                                  : QStringLiteral("Cannot connect: ") + reason;
    if (!reply.isEmpty() && !result.message.contains(reply))
        result.message += QStringLiteral(" (server said: ") + reply + QLatin1Char(')');
    return result;
}

} // namespace zantrel
