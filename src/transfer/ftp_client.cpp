#include "transfer/ftp_client.h"

#include "core/curl_global.h"
#include "core/setting_keys.h"
#include "transfer/ftp_error_text.h"
#include "transfer/key_file.h"
#include "transfer/progress_throttle.h"
#include "transfer/secure_channel.h"
#include "transfer/server_address.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <curl/curl.h>

namespace zantrel {

namespace {

constexpr qint64 kBlockSize = 100;
// Waiting for the reply to QUIT when a connection is closed: a healthy server answers at once.
constexpr std::chrono::seconds kQuitReplyLimit{1};
// Each wait of the connection that deletes what a stopped upload left.
constexpr std::chrono::seconds kLeftoverLimit{3};

struct CurlDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

bool onUserInterfaceThread() {
    const auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

int abortCheck(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

// What is being uploaded (a file, or bytes in memory), handed to libcurl in whole 100-byte blocks.
struct Upload {
    QIODevice* source = nullptr;
    qint64 size = 0;
    qint64 sent = 0;
    bool started = false;
    bool beep = false;
    QString localError;
    const std::atomic<bool>* abort = nullptr;
    StatusSink* status = nullptr;
    ProgressThrottle* progress = nullptr;
};

// As many whole blocks as libcurl's buffer holds, so the count advances by hundreds; the rest of the
// file under 100 bytes goes last on its own.
size_t readBlocks(char* buffer, size_t size, size_t count, void* data) {
    auto& up = *static_cast<Upload*>(data);
    if (up.abort->load())
        return CURL_READFUNC_ABORT;
    if (!up.started) {
        // libcurl asks for data once the server has accepted the file: the file is open remotely.
        up.started = true;
        if (up.beep)
            up.status->beep();
    }
    const qint64 room = static_cast<qint64>(size * count);
    const qint64 left = up.size - up.sent;
    qint64 want = left < kBlockSize ? left : std::min(left, room) / kBlockSize * kBlockSize;
    if (want == 0 && left > 0)
        want = std::min(left, room); // a buffer smaller than a block (never seen)
    if (want <= 0)
        return 0;
    const qint64 got = up.source->read(buffer, want);
    if (got != want) {
        up.localError = got < 0 ? up.source->errorString() : QStringLiteral("the file became shorter");
        return CURL_READFUNC_ABORT;
    }
    up.sent += got;
    if (got % kBlockSize == 0)
        up.progress->offer(QStringLiteral("Transfering:%1 bytes").arg(up.sent),
                           up.size - up.sent < kBlockSize);
    return static_cast<size_t>(got);
}

QByteArray sftpQuoted(const QString& path) {
    QByteArray out = path.toUtf8();
    out.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + out + '"';
}

} // namespace

struct FtpClient::Session {
    std::unique_ptr<CURL, CurlDeleter> handle;
    std::unique_ptr<SecureChannel> channel;
    Transport transport = Transport::Ftp;
    QByteArray baseUrl; // scheme://host:port/
    QString key;        // the server entry, as the client remembers what it learnt about it
    char errorBuffer[CURL_ERROR_SIZE] = {};
    QByteArray lastReply; // the server's last reply line

    CURL* h() const { return handle.get(); }

    QString errorText(CURLcode code) const { return InternetErrorText(code, errorBuffer, lastReply); }

    // Runs one request on the connection; returns the libcurl code.
    CURLcode perform(const QByteArray& url) {
        errorBuffer[0] = '\0';
        lastReply.clear();
        curl_easy_setopt(h(), CURLOPT_URL, url.constData());
        return curl_easy_perform(h());
    }

    // Closing sends QUIT and waits for the reply; keep that wait short and the callbacks detached.
    void prepareClose() {
        curl_easy_setopt(h(), CURLOPT_NOPROGRESS, 1L);
        curl_easy_setopt(h(), CURLOPT_XFERINFODATA, nullptr);
        curl_easy_setopt(h(), CURLOPT_READDATA, nullptr);
        curl_easy_setopt(h(), CURLOPT_FTP_RESPONSE_TIMEOUT, static_cast<long>(kQuitReplyLimit.count()));
        curl_easy_setopt(h(), CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(kQuitReplyLimit.count()));
    }
};

namespace {

// One upload on the session's connection, with block texts from the start of the file.
CURLcode sendOnce(FtpClient::Session& session, Upload& up, const QByteArray& url) {
    ProgressThrottle progress(*up.status);
    up.progress = &progress;
    CURL* h = session.h();
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READDATA, &up);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(up.size));
    const CURLcode code = session.perform(url);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_READDATA, nullptr);
    up.progress = nullptr;
    return code;
}

} // namespace

// One routine on the connection: excludes the others and carries out a disconnect that was asked for
// before or while it ran.
class FtpClient::Operation {
  public:
    explicit Operation(FtpClient& client) : client_(client), lock_(client.operationMutex_) { settle(); }
    ~Operation() {
        // A stop that came while the routine ran: its text stays the last one, after the routine's error.
        if (settle())
            client_.status_.setStatus(QStringLiteral("End Transfering"));
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

  private:
    bool settle() {
        if (!client_.disconnectPending_.exchange(false))
            return false;
        client_.dropSession();
        client_.abort_ = false;
        return true;
    }
    FtpClient& client_;
    std::lock_guard<std::mutex> lock_;
};

FtpClient::FtpClient(StatusSink& status) : status_(status) {
    EnsureCurlGlobalInit();
}

FtpClient::~FtpClient() {
    abort_ = true;
    std::lock_guard lock(operationMutex_); // a running routine gives way within a fraction of a second
    dropSession();
}

void FtpClient::setLimits(const TransferLimits& limits) {
    std::lock_guard lock(limitsMutex_);
    limits_ = limits;
}

TransferLimits FtpClient::limits() const {
    std::lock_guard lock(limitsMutex_);
    return limits_;
}

bool FtpClient::beepWanted() const {
    return GetSetting(keys::FtpBeep) == QLatin1String("YES");
}

// Caller holds operationMutex_ and is not the user-interface thread (QUIT may wait kQuitReplyLimit).
void FtpClient::dropSession() {
    connected_ = false;
    folder_.clear();
    if (session_)
        session_->prepareClose();
    session_.reset();
}

std::unique_ptr<FtpClient::Session> FtpClient::openSession(const ServerEntry& server, QString& refusal,
                                                           const TransferLimits& lim) {
    const ServerAddress address = ParseServerAddress(server.address, server.port);
    auto s = std::make_unique<Session>();
    s->transport = address.transport;
    s->key =
        server.address + QLatin1Char(':') + QString::number(server.port) + QLatin1Char(':') + server.login;
    s->baseUrl = BaseUrl(address, refusal);
    if (!refusal.isEmpty())
        return nullptr;
    if (HasControlCharacter(server.login) || HasControlCharacter(server.password)) {
        // libcurl would send them as they are: the rest of the line would reach the server as commands.
        refusal = QStringLiteral("The user name or password holds a line break or another control character");
        return nullptr;
    }
    if (address.transport == Transport::Sftp && !server.keyFile.isEmpty()) {
        refusal = KeyFileUnusable(server.keyFile);
        if (!refusal.isEmpty())
            return nullptr;
    }
    s->handle.reset(curl_easy_init());
    if (!EnsureCurlGlobalInit() || !s->h())
        return nullptr;
    CURL* h = s->h();
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, s->errorBuffer);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    AllowOnlyScheme(h, s->baseUrl);
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(lim.connect.count()));
    const long reply = std::max<long>(1, static_cast<long>(lim.reply.count()));
    curl_easy_setopt(h, CURLOPT_FTP_RESPONSE_TIMEOUT, reply);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, reply);
    curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(lim.accept.count()));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, lim.lowSpeed);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, std::max<long>(1, static_cast<long>(lim.stall.count())));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &abortCheck);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &abort_);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &readBlocks);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &discard);
    NoteServerReplies(h, &s->lastReply);
    // Active mode for plain FTP only: over TLS the server's data connection to this client fails with
    // many servers, and this libcurl sends the first bytes of an active-mode upload unencrypted.
    if (!server.passive && address.transport == Transport::Ftp)
        curl_easy_setopt(h, CURLOPT_FTPPORT, "-");
    // Passive data goes to the server's own address, whatever address its PASV reply names.
    curl_easy_setopt(h, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    s->channel = std::make_unique<SecureChannel>(address, server);
    if (needsTls13(s->key))
        s->channel->allowTls13();
    s->channel->apply(h);
    return s;
}

void FtpClient::reportConnectFailure(int code, const QString& reason) {
    status_.setStatus(QStringLiteral("Cannot connect to FTP Server"));
    if (beepWanted())
        status_.beep();
    status_.setStatus(QStringLiteral("Error:") + reason);
    lastError_ = code;
}

bool FtpClient::FtpConnect(const QString& host, int port, const QString& user, const QString& password,
                           bool passive) {
    ServerEntry server;
    server.address = host;
    server.port = port;
    server.login = user;
    server.password = password;
    server.passive = passive;
    return FtpConnect(server);
}

bool FtpClient::FtpConnect(const ServerEntry& server) {
    status_.setStatus(QStringLiteral("Connecting... ") + ShownAddress(server.address));
    Operation op(*this);
    dropSession();
    abort_ = false; // a stop asked for before this connection belongs to the one it closed

    QString refusal;
    std::unique_ptr<Session> s = openSession(server, refusal, limits());
    if (!s) {
        reportConnectFailure(CURLE_FAILED_INIT,
                             refusal.isEmpty() ? InternetErrorText(CURLE_FAILED_INIT) : refusal);
        return false;
    }
    // Logging in: FTP and FTPS with NOBODY on the root send USER, PASS, PWD only; SFTP opens the session.
    CURLcode code = s->perform(s->baseUrl + FolderPath(s->transport, {}));
    if (RefusesTls12(code, s->errorBuffer) && !needsTls13(s->key)) {
        // A server that speaks TLS 1.3 only: once more with it, and so for the rest of the program's run.
        {
            std::lock_guard lock(limitsMutex_);
            tls13_.insert(s->key);
        }
        status_.setStatus(QStringLiteral("The server refuses TLS 1.2: using TLS 1.3"));
        s->prepareClose();
        if (!(s = openSession(server, refusal, limits()))) {
            reportConnectFailure(CURLE_FAILED_INIT, InternetErrorText(CURLE_FAILED_INIT));
            return false;
        }
        code = s->perform(s->baseUrl + FolderPath(s->transport, {}));
    }
    s->channel->collect(s->h());
    if (code != CURLE_OK) {
        const TransferLimits lim = limits();
        QString why = s->channel->refusal(code, lim.connect);
        if (why.isEmpty() && code == CURLE_LOGIN_DENIED && s->transport == Transport::Sftp)
            why = KeyFileRefusal(server.keyFile);
        s->prepareClose();
        reportConnectFailure(code, why.isEmpty() ? s->errorText(code) : why);
        return false;
    }
    session_ = std::move(s);
    connected_ = true;
    lastError_ = 0;
    status_.setStatus(QStringLiteral("Connected"));
    if (beepWanted())
        status_.beep();
    return true;
}

bool FtpClient::FtpSetCurrentDirectory(const QString& directory) {
    if (directory.isEmpty())
        return true;
    Operation op(*this);
    bool ok = false;
    if (session_ && connected_ && !HasControlCharacter(directory)) {
        const QString folder = directory.startsWith(QLatin1Char('/')) || folder_.isEmpty()
                                   ? directory
                                   : folder_ + QLatin1Char('/') + directory;
        const bool sftp = session_->transport == Transport::Sftp;
        // FTP: CWD into each level. SFTP has no current folder: listing it proves it is there.
        curl_easy_setopt(session_->h(), CURLOPT_NOBODY, sftp ? 0L : 1L);
        curl_easy_setopt(session_->h(), CURLOPT_DIRLISTONLY, sftp ? 1L : 0L);
        const CURLcode code = session_->perform(session_->baseUrl + FolderPath(session_->transport, folder));
        curl_easy_setopt(session_->h(), CURLOPT_NOBODY, 1L);
        curl_easy_setopt(session_->h(), CURLOPT_DIRLISTONLY, 0L);
        lastError_ = code;
        ok = code == CURLE_OK;
        if (ok)
            folder_ = folder;
    }
    status_.setStatus(ok ? QStringLiteral("Directory changed") : QStringLiteral("Can't change directory."));
    return ok;
}

bool FtpClient::transfer(QIODevice& source, const QString& remoteName) {
    // Only a file can fail to open or to read; its name says which.
    const auto* file = qobject_cast<QFile*>(&source);
    const QString localFile = file ? file->fileName() : QString();
    if (!session_ || !connected_) {
        status_.setStatus(QStringLiteral("Error:Not connected to an FTP server"));
        lastError_ = CURLE_COULDNT_CONNECT;
        return false;
    }
    lastError_ = CURLE_FAILED_INIT;
    if (HasControlCharacter(remoteName)) {
        status_.setStatus(QStringLiteral("Error:The remote file name holds a line break"));
        return false;
    }
    Upload up;
    up.source = &source;
    if (!source.open(QIODevice::ReadOnly)) {
        status_.setStatus(QStringLiteral("Error:Cannot open the file ") + localFile + QStringLiteral(": ") +
                          source.errorString());
        return false;
    }
    up.size = source.size();
    up.beep = beepWanted();
    up.abort = &abort_;
    up.status = &status_;
    const QByteArray url =
        session_->baseUrl + FolderPath(session_->transport, folder_) + QUrl::toPercentEncoding(remoteName);
    const CURLcode code = sendOnce(*session_, up, url);
    source.close();
    lastError_ = code;

    if (code == CURLE_OK) {
        status_.setStatus(QString::number(up.sent));
        return true;
    }
    if (!up.localError.isEmpty())
        status_.setStatus(QStringLiteral("Error:Cannot read the file ") + localFile + QStringLiteral(": ") +
                          up.localError);
    else
        status_.setStatus(QStringLiteral("Error:") + session_->errorText(code));
    return false;
}

bool FtpClient::upload(QIODevice& source, const QString& remoteName) {
    Operation op(*this);
    if (!transfer(source, remoteName))
        return false;
    status_.setStatus(QStringLiteral("File Transfered."));
    return true;
}

bool FtpClient::FtpUploadFile(const QString& localFile, const QString& remoteName) {
    QFile file(localFile);
    return upload(file, remoteName);
}

bool FtpClient::uploadBytes(const QByteArray& contents, const QString& remoteName) {
    QBuffer buffer;
    buffer.setData(contents);
    return upload(buffer, remoteName);
}

bool FtpClient::sendBytes(const QByteArray& contents, const QString& remoteName) {
    Operation op(*this);
    QBuffer buffer;
    buffer.setData(contents);
    return transfer(buffer, remoteName);
}

// FTP sends the commands after changing into the current folder; SFTP commands carry whole paths.
bool FtpClient::runAfterCwd(const QStringList& commands) {
    if (!session_ || !connected_)
        return false;
    for (const QString& c : commands)
        if (HasControlCharacter(c))
            return false;
    const bool sftp = session_->transport == Transport::Sftp;
    std::unique_ptr<curl_slist, SlistDeleter> list;
    for (const QString& c : commands)
        list.reset(curl_slist_append(list.release(), c.toUtf8().constData()));
    CURL* h = session_->h();
    curl_easy_setopt(h, sftp ? CURLOPT_QUOTE : CURLOPT_POSTQUOTE, list.get());
    const CURLcode code = session_->perform(session_->baseUrl + FolderPath(session_->transport, folder_));
    curl_easy_setopt(h, sftp ? CURLOPT_QUOTE : CURLOPT_POSTQUOTE, nullptr);
    lastError_ = code;
    return code == CURLE_OK;
}

bool FtpClient::renameFile(const QString& from, const QString& to) {
    Operation op(*this);
    if (session_ && session_->transport == Transport::Sftp) {
        const QString dir = folder_.isEmpty() ? QString() : folder_ + QLatin1Char('/');
        return runAfterCwd(
            {QString::fromUtf8("rename " + sftpQuoted(dir + from) + ' ' + sftpQuoted(dir + to))});
    }
    return runAfterCwd({QStringLiteral("RNFR ") + from, QStringLiteral("RNTO ") + to});
}

bool FtpClient::deleteFile(const QString& name) {
    Operation op(*this);
    return deleteHere(name);
}

bool FtpClient::deleteHere(const QString& name) {
    if (session_ && session_->transport == Transport::Sftp) {
        const QString dir = folder_.isEmpty() ? QString() : folder_ + QLatin1Char('/');
        return runAfterCwd({QString::fromUtf8("rm " + sftpQuoted(dir + name))});
    }
    return runAfterCwd({QStringLiteral("DELE ") + name});
}

bool FtpClient::deleteLeftover(const ServerEntry& server, const QString& name) {
    Operation op(*this);
    if (session_ && connected_)
        return deleteHere(name);
    // The stop closed the job's connection: a short one of its own, given up at the next stop.
    dropSession();
    abort_ = false;
    TransferLimits lim = limits();
    lim.connect = std::min<std::chrono::milliseconds>(lim.connect, kLeftoverLimit);
    lim.reply = std::min<std::chrono::seconds>(lim.reply, kLeftoverLimit);
    QString refusal;
    session_ = openSession(server, refusal, lim);
    if (!session_)
        return false;
    connected_ = true;
    folder_ = server.directory;
    const bool ok = !HasControlCharacter(folder_) && deleteHere(name);
    dropSession();
    return ok;
}

void FtpClient::FtpDisconnect() {
    std::unique_lock lock(operationMutex_, std::try_to_lock);
    if (lock.owns_lock() && !onUserInterfaceThread()) {
        dropSession();
        abort_ = false;
        disconnectPending_ = false;
    } else {
        // A routine runs on another thread, or this is the window's thread, which must not wait for
        // the network: the routine ends at its next check and the job's thread closes the connection.
        connected_ = false;
        abort_ = true;
        disconnectPending_ = true;
        {
            std::lock_guard stopLock(stopMutex_);
            ++stops_;
        }
        stopSignal_.notify_all();
    }
    status_.setStatus(QStringLiteral("End Transfering"));
}

bool FtpClient::waitForStop(std::chrono::milliseconds pause, unsigned seenStops) {
    std::unique_lock lock(stopMutex_);
    return stopSignal_.wait_for(lock, pause, [&] { return stops_.load() != seenStops; });
}

bool FtpClient::needsTls13(const QString& server) const {
    std::lock_guard lock(limitsMutex_);
    return tls13_.count(server) > 0;
}

bool FtpClient::renamesRefused(const QString& server) const {
    std::lock_guard lock(limitsMutex_);
    return noRenames_.count(server) > 0;
}

void FtpClient::markRenamesRefused(const QString& server) {
    std::lock_guard lock(limitsMutex_);
    noRenames_.insert(server);
}

void FtpClient::ShowInternetError(int curlCode, const char* detail) {
    status_.setStatus(QStringLiteral("Error:") + InternetErrorText(curlCode, detail));
}

} // namespace zantrel
