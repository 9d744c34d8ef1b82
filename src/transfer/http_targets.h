#pragma once

#include "transfer/http_session.h"
#include "transfer/upload_target.h"

namespace zantrel {

// What the HTTP targets share: one kept-alive libcurl session per entry, the texts ("Connecting... ",
// "Connected" once the first connection of a try is up, "Error:" + the server's status and text,
// "End Transfering"), and the retry of connections that broke quickly.
class HttpTarget : public SteppedTarget {
  public:
    // Over TLS unless the address's scheme is dav:// or s3+http://.
    HttpTarget(const ServerEntry& entry, StatusSink& status);

  protected:
    bool connect() override;
    void disconnect() override;
    bool worthRetrying() const override;
    // Builds the target's URLs from the entry; false with the reason for settings that cannot be used.
    virtual bool prepare(QString& error) = 0;
    // The entry's settings checked and the URLs built (prepare()); false with the reason.
    bool usable(QString& error);
    // The server's reason for a failed reply, as the user reads it; for a certificate this system does
    // not trust, the pin to store for it.
    virtual QString reasonOf(const HttpSession::Reply& reply);

    HttpSession::Reply request(const QByteArray& method, const QByteArray& url,
                               const QList<QByteArray>& headers = {}, const QByteArray& body = {},
                               bool hasBody = false);
    // Writes "Error:" + the reason of the last reply; false.
    bool fail();
    // The check: prepare() and one request to checkUrl(); the message is set for a failure only.
    ServerCheckResult checkWith(const QByteArray& method, const QList<QByteArray>& headers);
    virtual QByteArray checkUrl() const = 0;

    HttpSession session_;
    HttpAddress address_;
    HttpSession::Reply last_;
    QString seenPin_; // of a certificate this system did not trust
    const bool tls_;
};

// WebDAV (dav:// over HTTP, davs:// over HTTPS): the entry's folder below the address's path. A PUT that
// fails while the folder is not known to be there (409 or 404 say it is missing, another answer is
// checked with PROPFIND) makes the folder level by level (MKCOL; 405 means it is there) and is sent
// again; the ".part" is moved onto the name with MOVE and "Overwrite: T".
class DavTarget final : public HttpTarget {
  public:
    using HttpTarget::HttpTarget;
    ServerCheckResult check() override; // PROPFIND of the folder

  protected:
    bool connect() override;
    bool prepare(QString& error) override;
    bool upload(const QByteArray& bytes, const QString& name) override;
    Replaced replace(const QString& from, const QString& to) override;
    void discard(const QString& name) override;
    QByteArray checkUrl() const override { return folderUrl_ + '/'; }

  private:
    bool fileUrl(const QString& name, QByteArray& url);
    // After a failed PUT: whether the folder is missing; last_ stays the PUT's answer otherwise.
    bool folderMissing();
    bool makeFolders();
    bool folderKnown_ = false;           // a PUT went into the folder, or PROPFIND found it, on this try
    QByteArray addressPath_, folderUrl_; // the folder without a final "/"
    QStringList folder_;                 // the entry's folder, segment by segment
};

// S3-compatible object storage (s3:// over HTTPS, s3+http://): path-style "endpoint/bucket", the entry's
// folder as the key prefix, the login and password as access key id and secret, signed with SigV4 for
// the entry's region. An object PUT replaces the object whole by itself.
class S3Target final : public HttpTarget {
  public:
    using HttpTarget::HttpTarget;
    ServerCheckResult check() override; // signed HEAD of the bucket

  protected:
    bool prepare(QString& error) override;
    bool upload(const QByteArray& bytes, const QString& name) override;
    Replaced replace(const QString&, const QString&) override { return Replaced::Yes; }
    void discard(const QString&) override {}
    bool replacesByItself() const override { return true; }
    QString reasonOf(const HttpSession::Reply& reply) override;
    QByteArray checkUrl() const override { return bucketUrl_; }

  private:
    QByteArray bucketUrl_, prefix_;
};

// S3's bucket naming rules: 3 to 63 lower-case letters, digits, dots and hyphens, a letter or digit
// at both ends, no "..".
bool ValidBucketName(const QString& name);

} // namespace zantrel
