#pragma once

#include "core/store.h"
#include "transfer/ftp_client.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <curl/curl.h>
#include <functional>
#include <memory>

namespace zantrel {

// Where an HTTP target's address points: "scheme://host[:port][/path]" with the scheme's transport.
struct HttpAddress {
    QByteArray origin; // "https://host:port", what every request URL starts with
    QString host;
    QStringList path; // the address's path, one decoded segment each
};

// Parses an entry's address for an HTTP target; tls: https rather than http. The port comes from
// the address, else from the entry (FTP's 21 there means the scheme's own port). On failure the origin
// is empty and error says why: a host libcurl does not take, a login written into the address.
HttpAddress ParseHttpAddress(const QString& address, int port, bool tls, QString& error);

// The segments of a folder as typed ("a/b/", "/a//b" → a, b).
QStringList FolderSegments(const QString& folder);

// "/seg1/seg2" with every segment percent-encoded (spaces and every other reserved character escaped,
// so none of them can change the request), or false with error set for a segment that is "." or "..",
// or holds a control character: such names would reach another place than the one written.
bool EncodePath(const QStringList& segments, QByteArray& out, QString& error);

// One libcurl handle kept across the requests of an HTTP target (so a job's requests share one
// connection), bounded by the transfer limits: connect, reply (slower than lowSpeed for that long on a
// request without a body) and stall (the same while an upload runs); an answer longer than answerBytes
// is cut off. Only the origin's scheme is allowed, redirects are never followed (a redirect is reported
// as the server's answer, its target named), so credentials never reach another host. The login is
// Digest or Basic as the server asks, Basic (the password as it is) only over TLS or to this machine.
// With a pinned key (entry.pinnedKey) exactly that TLS key is trusted.
class HttpSession {
  public:
    struct Reply {
        CURLcode code = CURLE_OK;
        long status = 0;        // the HTTP status, 0 when no answer came
        QString reason;         // the status line's text ("Created")
        QByteArray body;        // the answer's first 64 KB
        QString error;          // libcurl's words for a failed request
        QByteArray location;    // a redirect's target
        bool basicOnly = false; // a 401 that offered no login but Basic, which was not sent
        bool ok() const { return code == CURLE_OK && status >= 200 && status < 300; }
        // "401 Unauthorized", libcurl's words, or for a redirect "302 Found (to ...)".
        QString text() const;
    };

    explicit HttpSession(const ServerEntry& entry);
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    void setLimits(const TransferLimits& limits) { limits_ = limits; }
    // Polled while a request runs: true ends it at once (CURLE_ABORTED_BY_CALLBACK).
    void setStopped(std::function<bool()> stopped) { stopped_ = std::move(stopped); }
    // Called with the bytes of a body sent so far, from the request's thread.
    void setProgress(std::function<void(qint64)> progress) { progress_ = std::move(progress); }
    // Called once the first connection is up and the first request about to go out.
    void setConnected(std::function<void()> connected) { connected_ = std::move(connected); }
    // The next request that connects says so again.
    void sayConnectedAgain() { saidConnected_ = false; }
    // CURLOPT_AWS_SIGV4's provider string: requests are then signed with the login and password.
    void signWith(const QByteArray& sigv4) { sigv4_ = sigv4; }

    // One request; body goes out when hasBody (PUT). method HEAD asks for no body back.
    Reply perform(const QByteArray& method, const QByteArray& url, const QList<QByteArray>& headers,
                  const QByteArray& body = {}, bool hasBody = false);
    // Closes the connection; the next request opens a new one.
    void close();
    // The public-key pin ("sha256//...") of the certificate origin shows, read without trusting it and
    // without sending a request; empty when none was read.
    QString certificatePin(const QByteArray& origin);

  private:
    static size_t header(char* data, size_t size, size_t count, void* self);
    static size_t write(char* data, size_t size, size_t count, void* self);
    static size_t read(char* data, size_t size, size_t count, void* self);
    static int seek(void* self, curl_off_t offset, int origin);
    static int xferInfo(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t ulnow);
    static int prereq(void* self, char*, char*, int, int);

    std::unique_ptr<CURL, void (*)(CURL*)> handle_;
    QByteArray user_, password_, pinned_, sigv4_;
    TransferLimits limits_;
    std::function<bool()> stopped_;
    std::function<void(qint64)> progress_;
    std::function<void()> connected_;
    bool saidConnected_ = false;
    bool digestOffered_ = false, basicOffered_ = false; // by the running request's 401
    // The running request's state.
    Reply reply_;
    const QByteArray* body_ = nullptr;
    qint64 sent_ = 0, shown_ = -1;
    qint64 received_ = 0; // bytes of the answer's body so far
    bool cutOff_ = false; // the answer went on past limits_.answerBytes
};

// The Content-Type for a file name: image/jpeg, video/mp4, or application/octet-stream.
QByteArray ContentTypeFor(const QString& name);

} // namespace zantrel
