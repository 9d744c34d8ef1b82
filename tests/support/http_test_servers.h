#pragma once

#include "support/ftp_test_servers.h"

namespace zantrel::test {

// The HTTP servers below share the FTP fixtures' interface: root() is the folder on disk that the
// address() (with port()) serves, user() and password() the account; commands() are the requests
// ("PUT /dav/cam/webcam.jpg.part", "MOVE /dav/...") where the server logs them; pin() the certificate's
// public-key pin with TLS.
class HttpServerFixture : public FtpServerFixture {
  public:
    QString address() const { return address_; }
    QString pin() const { return pin_; }

  protected:
    bool prepareTls(); // key and certificate in the folder; false with the failure noted
    QString certFile() const { return dir_.filePath(QStringLiteral("cert.pem")); }
    QString keyFile() const { return dir_.filePath(QStringLiteral("key.pem")); }
    QString address_, pin_;
};

// apache2 with mod_dav_fs and basic authentication as an instance of its own (own config, one process),
// serving root() under /dav: address() is "dav://127.0.0.1/dav", or "davs://..." over TLS. Needs root
// (it runs as www-data, who owns root()). With refuseMove, MOVE is answered 405.
class ApacheDavServer final : public HttpServerFixture {
  public:
    explicit ApacheDavServer(bool tls = false, bool refuseMove = false);
};

// `rclone serve webdav` serving root() at "/": address() is "dav://127.0.0.1". bytesPerSecond > 0
// limits its transfers to about that rate.
class RcloneDavServer final : public HttpServerFixture {
  public:
    explicit RcloneDavServer(int bytesPerSecond = 0);
};

// The S3 store of tests/data/s3_server.py: bucket "cam" under root(), user() the access key id, password()
// the secret every request's signature is checked against, for region; address() "s3+http://127.0.0.1/cam".
class S3Server final : public HttpServerFixture {
  public:
    explicit S3Server(const QString& region = QStringLiteral("us-east-1"));
};

} // namespace zantrel::test
