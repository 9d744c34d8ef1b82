#pragma once

#include "core/store.h"
#include "transfer/server_address.h"

#include <QString>
#include <chrono>
#include <curl/curl.h>

namespace zantrel {

// The login and the encryption of one connection: plain FTP, FTP with explicit TLS (control and data
// protected, certificates checked against the system's store or a stored public-key pin), or SFTP
// (host key checked against ~/.ssh/known_hosts; password or key-file login). It notes the certificate
// pin or host-key fingerprint it saw and explains a refused peer in words a user can act on.
// Callbacks point at it: keep it alive as long as the handle it was applied to.
class SecureChannel {
  public:
    SecureChannel(const ServerAddress& address, const ServerEntry& entry);

    // FTPS: TLS 1.3 allowed, for a server that refuses 1.2 (see RefusesTls12); call before apply().
    void allowTls13() { tls13_ = true; }
    void apply(CURL* h);
    // After a perform: picks the certificate pin out of the handle (FTPS).
    void collect(CURL* h);
    // The reason for a failed perform when the peer was not trusted; empty otherwise.
    QString refusal(CURLcode code, std::chrono::milliseconds connectLimit);
    // "sha256//…" for FTPS, "SHA256:…" for SFTP; empty when nothing was seen.
    QString fingerprint() const { return fingerprint_; }

  private:
    static int checkHostKey(CURL*, const curl_khkey* known, const curl_khkey* found, curl_khmatch match,
                            void* self);

    ServerAddress address_;
    ServerEntry entry_;
    QByteArray user_, password_, pinned_, keyFile_, knownHosts_;
    QString fingerprint_, keyType_;
    curl_khmatch hostKeyMatch_ = CURLKHMATCH_OK;
    bool tls13_ = false;
};

// True when a failed FTPS connection was refused for its TLS version: the server speaks TLS 1.3 only,
// above the TLS 1.2 FTPS is held to otherwise. detail: libcurl's error text.
bool RefusesTls12(CURLcode code, const char* detail);

// The public-key pin of a certificate given as PEM: "sha256//" + base64 of the SHA-256 of its
// SubjectPublicKeyInfo. Empty when the text is no certificate.
QString CertificatePin(const QByteArray& pem);

} // namespace zantrel
