#include "ftp/ftp_client.h"

#include "core/setting_keys.h"
#include "core/store.h"
#include "ftp/curl_global.h"
#include "ftp/ftp_error_text.h"
#include "ftp/progress_throttle.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <curl/curl.h>
#include <thread>

namespace zantrel {

namespace {

constexpr qint64 kBlockSize = 100;
// Waiting for the reply to QUIT when a connection is closed: a healthy server answers at once.
constexpr std::chrono::seconds kQuitReplyLimit{3};

struct CurlDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct CurlUrlDeleter {
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct CurlFreeDeleter {
    void operator()(char* p) const { curl_free(p); }
};
using CurlText = std::unique_ptr<char, CurlFreeDeleter>;

bool onUserInterfaceThread() {
    const auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

int abortCheck(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

// The file being uploaded, handed to libcurl in blocks.
struct Upload {
    QFile file;
    qint64 size = 0;
    qint64 sent = 0;
    bool started = false;
    bool beep = false;
    QString localError;
    const std::atomic<bool>* abort = nullptr;
    StatusSink* status = nullptr;
    ProgressThrottle* progress = nullptr;
};

size_t readBlock(char* buffer, size_t size, size_t count, void* data) {
    auto& up = *static_cast<Upload*>(data);
    if (up.abort->load())
        return CURL_READFUNC_ABORT;
    if (!up.started) {
        // libcurl asks for data once the server has accepted the file: the file is open remotely.
        up.started = true;
        if (up.beep)
            up.status->beep();
    }
    const qint64 want = std::min<qint64>({kBlockSize, up.size - up.sent, static_cast<qint64>(size * count)});
    if (want <= 0)
        return 0;
    const qint64 got = up.file.read(buffer, want);
    if (got != want) {
        up.localError = got < 0 ? up.file.errorString() : QStringLiteral("the file became shorter");
        return CURL_READFUNC_ABORT;
    }
    up.sent += got;
    if (got == kBlockSize) {
        const bool lastFullBlock = up.size - up.sent < kBlockSize;
        up.progress->offer(QStringLiteral("Transfering:%1 bytes").arg(up.sent), lastFullBlock);
    }
    return static_cast<size_t>(got);
}

bool hasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) || text.contains(QChar(0));
}

QByteArray escaped(CURL* h, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    const CurlText out(curl_easy_escape(h, utf8.constData(), static_cast<int>(utf8.size())));
    return out ? QByteArray(out.get()) : QByteArray();
}

} // namespace

struct FtpClient::Session {
    std::unique_ptr<CURL, CurlDeleter> handle;
    QByteArray baseUrl; // ftp://host:port/
    char errorBuffer[CURL_ERROR_SIZE] = {};

    CURL* h() const { return handle.get(); }

    // Runs one request on the connection; returns the libcurl code.
    CURLcode perform(const QByteArray& url) {
        errorBuffer[0] = '\0';
        curl_easy_setopt(h(), CURLOPT_URL, url.constData());
        return curl_easy_perform(h());
    }

    // Closing sends QUIT and waits for the reply; keep that wait short and the callbacks detached.
    void prepareClose() {
        curl_easy_setopt(h(), CURLOPT_NOPROGRESS, 1L);
        curl_easy_setopt(h(), CURLOPT_XFERINFODATA, nullptr);
        curl_easy_setopt(h(), CURLOPT_READDATA, nullptr);
        curl_easy_setopt(h(), CURLOPT_FTP_RESPONSE_TIMEOUT, static_cast<long>(kQuitReplyLimit.count()));
    }
};

// One routine on the connection: excludes the others and carries out a disconnect that was asked for
// while it ran.
class FtpClient::Operation {
  public:
    explicit Operation(FtpClient& client) : client_(client), lock_(client.operationMutex_) {}
    ~Operation() {
        if (client_.disconnectPending_.exchange(false)) {
            client_.dropSession();
            client_.abort_ = false;
            client_.status_.setStatus(QStringLiteral("End Transfering"));
        }
    }
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

  private:
    FtpClient& client_;
    std::unique_lock<std::timed_mutex> lock_;
};

FtpClient::FtpClient(StatusSink& status) : status_(status) {
    EnsureCurlGlobalInit();
}

FtpClient::~FtpClient() {
    abort_ = true;
    std::lock_guard lock(operationMutex_);
    dropSession();
}

void FtpClient::setLimits(const FtpLimits& limits) {
    std::lock_guard lock(limitsMutex_);
    limits_ = limits;
}

FtpLimits FtpClient::limits() const {
    std::lock_guard lock(limitsMutex_);
    return limits_;
}

bool FtpClient::beepWanted() const {
    return GetSetting(keys::FtpBeep) == QLatin1String("YES");
}

// Caller holds operationMutex_.
void FtpClient::dropSession() {
    connected_ = false;
    directory_.clear();
    if (!session_)
        return;
    std::unique_ptr<Session> old = std::move(session_);
    old->prepareClose();
    if (onUserInterfaceThread())
        std::thread([s = std::move(old)] {}).detach(); // the QUIT exchange may hang: not here
    // otherwise old closes here, bounded by kQuitReplyLimit
}

std::unique_ptr<FtpClient::Session> FtpClient::newSession(bool passive) {
    auto s = std::make_unique<Session>();
    s->handle.reset(curl_easy_init());
    if (!s->h())
        return nullptr;
    const FtpLimits lim = limits();
    CURL* h = s->h();
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, s->errorBuffer);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(lim.connect.count()));
    curl_easy_setopt(h, CURLOPT_FTP_RESPONSE_TIMEOUT,
                     static_cast<long>(std::max<long>(1, lim.reply.count())));
    curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(lim.accept.count()));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>(std::max<long>(1, lim.stall.count())));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &abortCheck);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &abort_);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &readBlock);
    if (!passive)
        curl_easy_setopt(h, CURLOPT_FTPPORT, "-");
    return s;
}

bool FtpClient::FtpConnect(const QString& host, int port, const QString& user, const QString& password,
                           bool passive) {
    status_.setStatus(QStringLiteral("Connecting... ") + host);
    Operation op(*this);
    dropSession();

    int code = CURLE_OK;
    QByteArray detail;
    std::unique_ptr<CURLU, CurlUrlDeleter> url(curl_url());
    // A literal IPv6 address needs brackets in a URL.
    const QString hostPart = host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('['))
                                 ? QLatin1Char('[') + host + QLatin1Char(']')
                                 : host;
    CURLUcode uc = url ? CURLUE_OK : CURLUE_OUT_OF_MEMORY;
    if (uc == CURLUE_OK)
        uc = curl_url_set(url.get(), CURLUPART_SCHEME, "ftp", 0);
    if (uc == CURLUE_OK)
        uc = curl_url_set(url.get(), CURLUPART_HOST, hostPart.toUtf8().constData(), 0);
    if (uc == CURLUE_OK)
        uc = curl_url_set(url.get(), CURLUPART_PORT, QByteArray::number(port).constData(), 0);
    if (uc == CURLUE_OK)
        uc = curl_url_set(url.get(), CURLUPART_PATH, "/", 0);
    char* text = nullptr;
    if (uc == CURLUE_OK)
        uc = curl_url_get(url.get(), CURLUPART_URL, &text, 0);
    const CurlText urlText(text);

    std::unique_ptr<Session> s;
    QString refusal;
    if (uc != CURLUE_OK) {
        refusal = QStringLiteral("Bad server address %1 port %2: %3")
                      .arg(host)
                      .arg(port)
                      .arg(QString::fromUtf8(curl_url_strerror(uc)));
    } else if (hasLineBreak(user) || hasLineBreak(password)) {
        // libcurl would send them as they are: the rest of the line would reach the server as commands.
        refusal = QStringLiteral("The user name or password holds a line break");
    } else if (!EnsureCurlGlobalInit() || !(s = newSession(passive))) {
        code = CURLE_FAILED_INIT;
    } else {
        s->baseUrl = urlText.get();
        curl_easy_setopt(s->h(), CURLOPT_USERNAME, user.toUtf8().constData());
        curl_easy_setopt(s->h(), CURLOPT_PASSWORD, password.toUtf8().constData());
        code = s->perform(s->baseUrl);
        if (code != CURLE_OK)
            detail = s->errorBuffer;
    }

    const bool beep = beepWanted();
    if (refusal.isEmpty() && code == CURLE_OK) {
        session_ = std::move(s);
        connected_ = true;
        status_.setStatus(QStringLiteral("Connected"));
        if (beep)
            status_.beep();
        return true;
    }
    if (s)
        s->prepareClose();
    status_.setStatus(QStringLiteral("Cannot connect to FTP Server"));
    if (beep)
        status_.beep();
    if (refusal.isEmpty())
        ShowInternetError(code, detail.constData());
    else
        status_.setStatus(QStringLiteral("Error:") + refusal);
    return false;
}

bool FtpClient::FtpSetCurrentDirectory(const QString& directory) {
    if (directory.isEmpty())
        return true;
    Operation op(*this);
    bool ok = false;
    if (session_ && connected_ && !hasLineBreak(directory)) {
        // libcurl decodes the path before splitting it: a leading "%2F" becomes "CWD /".
        const bool absolute = directory.startsWith(QLatin1Char('/'));
        QByteArray path = absolute ? QByteArray("%2F") : directory_.toUtf8();
        for (const QString& part : directory.split(QLatin1Char('/'), Qt::SkipEmptyParts))
            path += escaped(session_->h(), part) + '/';
        ok = session_->perform(session_->baseUrl + path) == CURLE_OK;
        if (ok)
            directory_ = QString::fromUtf8(path);
    }
    status_.setStatus(ok ? QStringLiteral("Directory changed") : QStringLiteral("Can't change directory."));
    return ok;
}

bool FtpClient::FtpUploadFile(const QString& localFile, const QString& remoteName) {
    Operation op(*this);
    if (!session_ || !connected_) {
        status_.setStatus(QStringLiteral("Error:Not connected to an FTP server"));
        return false;
    }
    if (hasLineBreak(remoteName)) {
        status_.setStatus(QStringLiteral("Error:The remote file name holds a line break"));
        return false;
    }
    Upload up;
    up.file.setFileName(localFile);
    if (!up.file.open(QIODevice::ReadOnly)) {
        status_.setStatus(QStringLiteral("Error:Cannot open the file ") + localFile + QStringLiteral(": ") +
                          up.file.errorString());
        return false;
    }
    up.size = up.file.size();
    up.beep = beepWanted();
    up.abort = &abort_;
    up.status = &status_;
    ProgressThrottle progress(status_);
    up.progress = &progress;

    CURL* h = session_->h();
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READDATA, &up);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(up.size));
    const CURLcode code = session_->perform(session_->baseUrl + directory_.toUtf8() + escaped(h, remoteName));
    curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(h, CURLOPT_READDATA, nullptr);
    up.file.close();

    if (code == CURLE_OK) {
        status_.setStatus(QString::number(up.sent));
        status_.setStatus(QStringLiteral("File Transfered."));
        return true;
    }
    if (!up.localError.isEmpty())
        status_.setStatus(QStringLiteral("Error:Cannot read the file ") + localFile + QStringLiteral(": ") +
                          up.localError);
    else
        ShowInternetError(code, session_->errorBuffer);
    return false;
}

void FtpClient::FtpDisconnect() {
    abort_ = true;
    std::unique_lock lock(operationMutex_, std::defer_lock);
    if (lock.try_lock_for(std::chrono::milliseconds(800))) {
        dropSession();
        abort_ = false;
        disconnectPending_ = false;
    } else {
        // A routine did not give way in time: it closes the connection itself when it ends.
        disconnectPending_ = true;
    }
    status_.setStatus(QStringLiteral("End Transfering"));
}

void FtpClient::ShowInternetError(int curlCode, const char* detail) {
    status_.setStatus(QStringLiteral("Error:") + InternetErrorText(curlCode, detail));
}

} // namespace zantrel
