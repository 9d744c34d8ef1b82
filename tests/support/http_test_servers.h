#pragma once

#include "support/ftp_test_servers.h"

namespace zantrel::test {

// HTTP servers with the FTP fixtures' interface: root() is the folder on disk that address() (with
// port()) serves, user() and password() the account; pin() the certificate's public-key pin with TLS.
class HttpServerFixture : public FtpServerFixture {
  public:
    QString address() const { return address_; }
    QString pin() const { return pin_; }

  protected:
    QString address_, pin_;
};

// apache2 with mod_dav_fs and basic authentication as an instance of its own (own config, one process,
// as www-data), serving root() under /dav: address() "dav://127.0.0.1/dav", or "davs://..." with tls.
// Needs root. With refuseMove, MOVE is answered 405; with digest, only Digest logins are taken.
class ApacheDavServer final : public HttpServerFixture {
  public:
    explicit ApacheDavServer(bool tls = false, bool refuseMove = false, bool digest = false);
};

// nginx with its own DAV methods and dav-ext's PROPFIND, Basic login, serving root() at "/": address()
// "dav://127.0.0.1". A PUT into a missing folder answers 500. With refuseMove, MOVE is answered 405.
class NginxDavServer final : public HttpServerFixture {
  public:
    explicit NginxDavServer(bool refuseMove = false);
};

// `rclone serve webdav` serving root() at "/": address() "dav://127.0.0.1". bytesPerSecond > 0 limits its
// transfers to about that rate.
class RcloneDavServer final : public HttpServerFixture {
  public:
    explicit RcloneDavServer(int bytesPerSecond = 0);
};

// tests/data/s3_server.py: bucket "cam" in root(), user() the access key id, password() the secret every
// request's signature is checked against for region; address() "s3+http://127.0.0.1/cam".
class S3Server final : public HttpServerFixture {
  public:
    explicit S3Server(const QString& region = QStringLiteral("us-east-1"));
};

} // namespace zantrel::test
